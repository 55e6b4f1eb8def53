// What the repair engine needs of the controller's console: the serial
// library's line calls and the console library's exports, with their own
// signatures and result codes. The wizard puts its by-name bindings behind
// this; a command line can forward to libuart/libtovrane linked directly.
#pragma once

#include <cstdint>
#include <string>

namespace tq318::repair {

// Thrown by a Console whose library cannot be reached (not loaded, a function
// missing). The engine turns it into the numbered size-check failures where
// the wizard always did; elsewhere it ends the run like any run-time error.
// A mixin, so that a front end's own error type can carry it beside
// std::exception.
class ConsoleUnavailable {
public:
    virtual ~ConsoleUnavailable() = default;
};

inline constexpr std::size_t kTextCapacity = 2048;  // what Receive_Cmd may write, terminator included

class Console {
public:
    virtual ~Console() = default;

    // libuart
    virtual uint16_t Send_Cmd(uint8_t port, const char* text, int16_t flag) = 0;
    // `buffer` holds kTextCapacity bytes.
    virtual uint16_t Receive_Cmd(uint8_t port, char* buffer, uint16_t timeout_ms, int16_t flag,
                                 uint16_t* scratch) = 0;

    // libtovrane
    virtual uint16_t TOV_GetPrompt(uint8_t port, uint16_t timeout_ms, uint8_t prompt) = 0;
    virtual uint16_t TOV_Get_FreeSize(uint8_t port, char disk, char* free_text, char* reply) = 0;
    virtual uint16_t TOV_Load_File(uint8_t port, const char* path, char disk, const char* target_name,
                                   int32_t mode, char* reply) = 0;
    virtual uint16_t TOV_Update_Tovrane(uint8_t port, const char* image_path, char* reply) = 0;
    // The version number, or a failure code (then `build_date` is not written).
    virtual int32_t TOV_Get_Tovrane_Version(uint8_t port, char* model, char* build_date, char* flash,
                                            int32_t* port_probe_flag, char* reply) = 0;
    // One "dir": the whole reply (both disks' sections) into `reply`, at most
    // `capacity` bytes including the terminator. The library's result code.
    virtual uint16_t listDirectory(uint8_t port, char* reply, std::size_t capacity) = 0;
};

}  // namespace tq318::repair
