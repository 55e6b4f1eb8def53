// The engine's console access forwarded to libuart and libtovrane, linked
// into tovctl directly.
#pragma once

#include <algorithm>
#include <array>
#include <vector>

#include "tovrane.h"
#include "tq318/repair/console.h"
#include "uart.h"

namespace tovctl {

class DirectConsole final : public tq318::repair::Console {
public:
    uint16_t Send_Cmd(uint8_t port, const char* text, int16_t flag) override { return ::Send_Cmd(port, text, flag); }
    uint16_t Receive_Cmd(uint8_t port, char* buffer, uint16_t timeout_ms, int16_t flag, uint16_t* scratch) override {
        return ::Receive_Cmd(port, buffer, timeout_ms, flag, scratch);
    }
    uint16_t TOV_GetPrompt(uint8_t port, uint16_t timeout_ms, uint8_t prompt) override {
        return ::TOV_GetPrompt(port, timeout_ms, prompt);
    }
    uint16_t TOV_Get_FreeSize(uint8_t port, char disk, char* free_text, char* reply) override {
        return ::TOV_Get_FreeSize(port, disk, free_text, reply);
    }
    uint16_t TOV_Load_File(uint8_t port, const char* path, char disk, const char* target_name, int32_t mode,
                           char* reply) override {
        return ::TOV_Load_File(port, path, disk, target_name, mode, reply);
    }
    uint16_t TOV_Update_Tovrane(uint8_t port, const char* image_path, char* reply) override {
        return ::TOV_Update_Tovrane(port, image_path, reply);
    }
    int32_t TOV_Get_Tovrane_Version(uint8_t port, char* model, char* build_date, char* flash, int32_t* flag,
                                    char* reply) override {
        return ::TOV_Get_Tovrane_Version(port, model, build_date, flash, flag, reply);
    }
    // One "dir": the parsed entries are not wanted (null buffers are skipped).
    uint16_t listDirectory(uint8_t port, char* reply, std::size_t capacity) override {
        std::array<char*, TOV_DIR_MAX_ENTRIES> none{};
        int32_t count = 0;
        std::vector<char> whole(std::max<std::size_t>(capacity, TOV_DIR_REPLY_MIN), ' ');
        whole.back() = '\0';
        const uint16_t code =
            ::TOV_Dir_Tovrane(port, 'a', &count, none.data(), none.data(), none.data(), none.data(), whole.data());
        const auto end = std::find(whole.begin(), whole.end(), '\0');
        const std::size_t length =
            std::min<std::size_t>(static_cast<std::size_t>(end - whole.begin()), capacity - 1);
        std::copy_n(whole.begin(), length, reply);
        reply[length] = '\0';
        return code;
    }
};

}  // namespace tovctl
