// Under Wine: the Win32 serial layer's missing port, busy port, port map and
// hang-up. COM2 is a simulator that hangs up after acknowledging block 1;
// port 3 reaches it through UART_COM3; port 7 is \\.\COM200, which does not
// exist; UART_COM6 is set but empty.
// usage: serial_wine.exe FILE_OF_SEVERAL_BLOCKS
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "bind_exports.h"
#include "check.h"
#include "tovrane.h"
#include "uart.h"

using namespace wincheck;

namespace {
using OpenCom = uint16_t (UART_CALL*)(uint8_t, uint32_t, uint8_t, uint8_t, uint8_t);
using CloseCom = uint16_t (UART_CALL*)(uint8_t);
using ReadRaw = int32_t (UART_CALL*)(uint8_t, void*, uint32_t);
using SendCmd = uint16_t (UART_CALL*)(uint8_t, const char*, int16_t);
using ReadReply = uint16_t (UART_CALL*)(uint8_t, char*, uint32_t, uint32_t, int16_t, uint16_t*);
using DevicePath = uint16_t (UART_CALL*)(uint8_t, char*, uint32_t);
using GetPrompt = uint16_t (TOV_CALL*)(uint8_t, uint16_t, uint8_t);
using LoadFile = uint16_t (TOV_CALL*)(uint8_t, const char*, char, const char*, int32_t, char*);
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 100;
    HMODULE uart = ::LoadLibraryA("uart.dll");
    HMODULE tov = ::LoadLibraryA("tovrane.dll");
    if (uart == nullptr || tov == nullptr) return 100;
    auto open_com = as<OpenCom>(bind_name(uart, "Open_Com", __LINE__));
    auto close_com = as<CloseCom>(bind_name(uart, "Close_Com", __LINE__));
    auto send_cmd = as<SendCmd>(bind_name(uart, "Send_Cmd", __LINE__));
    auto device_path = as<DevicePath>(bind_name(uart, "Uart_Device_Path", __LINE__));
    auto read_raw = as<ReadRaw>(bind(uart, 33, "Read_Raw", __LINE__));
    auto read_reply = as<ReadReply>(bind(uart, 10, "Read_Reply", __LINE__));
    auto get_prompt = as<GetPrompt>(bind(tov, 51, "TOV_GetPrompt", __LINE__));
    auto load_file = as<LoadFile>(bind(tov, 17, "TOV_Load_File", __LINE__));

    // Names: \\.\COM<N> unless UART_COM<N> says otherwise.
    char path[64] = "";
    CHECK_EQ(device_path(5, path, sizeof path), 0);
    CHECK(std::strcmp(path, "\\\\.\\COM5") == 0);
    CHECK_EQ(device_path(3, path, sizeof path), 0);
    CHECK(std::strcmp(path, "\\\\.\\COM2") == 0);

    // Missing ports.
    CHECK_EQ(open_com(0, 115200, 8, 0, 0), 2);  // no COM port carries 0
    CHECK_EQ(open_com(7, 115200, 8, 0, 0), 3);  // no COM200 on this machine
    CHECK_EQ(open_com(6, 115200, 8, 0, 0), 3);  // UART_COM6 set but empty
    CHECK_EQ(open_com(3, 115200, 9, 0, 0), 6);  // nine data bits
    CHECK_EQ(read_raw(7, path, 1), -1);         // not open

    // Busy: a port this process holds already.
    CHECK_EQ(open_com(3, 115200, 8, 0, 0), 0);
    CHECK_EQ(open_com(3, 115200, 8, 0, 0), 5);

    // The port works, then the far end hangs up in the middle of a transfer.
    CHECK_EQ(get_prompt(3, 500, '>'), 0);
    // A wait for the first bytes of a reply ends when they come, not at the
    // end of the wait, whatever room the reader offers.
    std::vector<char> reply(2048, '\0');
    CHECK_EQ(send_cmd(3, "ver", 0), 0);
    uint16_t count = 0;
    const ULONGLONG asked = ::GetTickCount64();
    CHECK_EQ(read_reply(3, reply.data(), 1000, 30000, UART_FLAG_FIRST_BYTES, &count), 0);
    CHECK(count > 0);
    CHECK(::GetTickCount64() - asked < 15000);
    CHECK_EQ(get_prompt(3, 500, '>'), 0);
    const uint16_t r = load_file(3, argv[1], 'A', nullptr, 0, reply.data());
    CHECK_EQ(r, 44);
    uint8_t byte = 0;
    CHECK_EQ(read_raw(3, &byte, 1), -10);  // UART_ERR_HANGUP, at once
    CHECK_EQ(send_cmd(3, "ver", 0), 10);
    CHECK_EQ(get_prompt(3, 500, '>'), 16);  // the line is gone: at once, not a time-out
    CHECK_EQ(close_com(3), 0);
    std::printf("%d failure(s)\n", g_failures);
    return g_failures;
}
