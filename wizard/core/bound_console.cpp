#include "bound_console.h"

#include <algorithm>
#include <array>
#include <vector>

namespace pelorim {

namespace {
constexpr std::size_t kDirEntries = 100;  // the export's arrays hold this many pointers
}

uint16_t BoundConsole::Send_Cmd(uint8_t port, const char* text, int16_t flag) { return uart_.Send_Cmd(port, text, flag); }

uint16_t BoundConsole::Receive_Cmd(uint8_t port, char* buffer, uint16_t timeout_ms, int16_t flag, uint16_t* scratch) {
    return uart_.Receive_Cmd(port, buffer, timeout_ms, flag, scratch);
}

uint16_t BoundConsole::TOV_GetPrompt(uint8_t port, uint16_t timeout_ms, uint8_t prompt) {
    return tovrane_.TOV_GetPrompt(port, timeout_ms, prompt);
}

uint16_t BoundConsole::TOV_Get_FreeSize(uint8_t port, char disk, char* free_text, char* reply) {
    return tovrane_.TOV_Get_FreeSize(port, disk, free_text, reply);
}

uint16_t BoundConsole::TOV_Load_File(uint8_t port, const char* path, char disk, const char* target_name, int32_t mode,
                                     char* reply) {
    return tovrane_.TOV_Load_File(port, path, disk, target_name, mode, reply);
}

uint16_t BoundConsole::TOV_Update_Tovrane(uint8_t port, const char* image_path, char* reply) {
    return tovrane_.TOV_Update_Tovrane(port, image_path, reply);
}

int32_t BoundConsole::TOV_Get_Tovrane_Version(uint8_t port, char* model, char* build_date, char* flash,
                                              int32_t* flag, char* reply) {
    return tovrane_.TOV_Get_Tovrane_Version(port, model, build_date, flash, flag, reply);
}

uint16_t BoundConsole::listDirectory(uint8_t port, char* reply, std::size_t capacity) {
    // Only the whole reply (both disks) is read; null entry buffers are skipped.
    std::array<char*, kDirEntries> none{};
    int32_t count = 0;
    std::vector<char> whole(std::max<std::size_t>(capacity, 2048), ' ');
    whole.back() = '\0';
    const uint16_t code = tovrane_.TOV_Dir_Tovrane(port, 'a', &count, none.data(), none.data(), none.data(),
                                                   none.data(), whole.data());
    const auto end = std::find(whole.begin(), whole.end(), '\0');
    const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(end - whole.begin()), capacity - 1);
    std::copy_n(whole.begin(), length, reply);
    reply[length] = '\0';
    return code;
}

}  // namespace pelorim
