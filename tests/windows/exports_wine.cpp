// Under Wine, linked to tovrane.dll and uart.dll: every export of the library
// and every uart operation called on COM1, a simulator paced at 115200 baud
// whose upload report names a CRC16 that differs from the image's; then the
// serial layer's missing, busy and mapped ports and a hang-up on port 3,
// mapped by UART_COM3 to COM2, a simulator that hangs up after block 1
// (UART_COM7 names the missing COM200, UART_COM6 is set but empty).
// usage: exports_wine.exe LOAD_FILE IMAGE_FILE BLOCKS_FILE
// The driver then compares LOAD_FILE with the simulator's flash folder.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "check.h"
#include "tovrane.h"
#include "uart.h"

namespace {

void exports_on_com1(const char* load_path, const char* image_path) {
    constexpr uint8_t kPort = 1;
    // Nothing on the line.
    CHECK_EQ(TOV_Get_Dll_Version(), 0x0111);
    char untouched[8] = "keep";
    TOV_IsGetErrorString(46, untouched);
    CHECK(std::strcmp(untouched, "keep") == 0);
    MakeCRC16Table();
    CHECK_EQ(GetCRC16(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x31C3);

    CHECK_EQ(Open_Com(kPort, 115200, 8, 0, 0), 0);
    CHECK_EQ(Open_Com(kPort, 115200, 8, 0, 0), 5);  // already open here: busy

    // The uart operations themselves.
    std::vector<char> reply(2048, '\0');
    uint16_t scratch = 0;
    CHECK_EQ(Exchange_Cmd(kPort, " ", reply.data(), 1001, 1000, 0, &scratch, '>'), 0);
    CHECK(std::strstr(reply.data(), "TQ318-5314A>") != nullptr);
    CHECK_EQ(Send_Cmd(kPort, "ver", 0), 0);
    CHECK_EQ(Read_Until(kPort, reply.data(), 1001, 1500, 0, &scratch, '>'), 0);
    CHECK(std::strstr(reply.data(), "Ver. 1.23") != nullptr);
    CHECK_EQ(Send_Cmd(kPort, "ip", 0), 0);
    CHECK_EQ(Read_Reply(kPort, reply.data(), 1001, 1000, 0, &scratch), 0);
    CHECK(std::strstr(reply.data(), "IP=") != nullptr);
    const uint8_t cr = 13;
    CHECK_EQ(Send_Raw(kPort, &cr, 1), 1);
    Receive_Cmd(kPort, reply.data(), 500, 0, &scratch);
    CHECK(std::strchr(reply.data(), '>') != nullptr);
    uint8_t byte = 0;
    CHECK_EQ(Read_Raw(kPort, &byte, 1), 0);  // nothing waiting: at once

    // Every export of the library.
    CHECK_EQ(TOV_GetPrompt(kPort, 200, '>'), 0);
    char model[32] = "", date[16] = "", flash[32] = "";
    int32_t probe = -1;
    CHECK_EQ(TOV_Get_Tovrane_Version(kPort, model, date, flash, &probe, reply.data()), 123003);
    CHECK(std::strcmp(date, "Dec/06/2026") == 0);
    using Value = uint16_t(TOV_CALL*)(uint8_t, char*, char*);
    const struct { Value set, get; const char* value; } values[] = {{TOV_Set_IP, TOV_Get_IP, "10.1.2.3"},
        {TOV_Set_Mask, TOV_Get_Mask, "255.255.0.0"}, {TOV_Set_Gateway, TOV_Get_Gateway, "10.1.0.254"}};
    for (const auto& v : values) {
        char value[TOV_VALUE_SIZE] = {};
        std::strcpy(value, v.value);
        CHECK_EQ(v.set(kPort, value, reply.data()), 0);
        char got[TOV_VALUE_SIZE] = {};
        CHECK(v.get(kPort, got, reply.data()) == 0 && std::strcmp(got, v.value) == 0);
    }
    CHECK_EQ(TOV_Set_COM(kPort, 2, 9600, 7, 1, 2, reply.data()), 0);
    int32_t baud = 0, bits = 0, parity = -1, stop = 0;
    CHECK_EQ(TOV_Get_COM(kPort, 2, &baud, &bits, &parity, &stop, reply.data()), 0);
    CHECK(baud == 9600 && bits == 7 && stop == 2);
    CHECK_EQ(TOV_Set_DiskSize(kPort, 2048, 2048, reply.data()), 0);
    int32_t size_a = 0, size_b = 0;
    CHECK_EQ(TOV_Get_DiskSize(kPort, &size_a, &size_b, reply.data()), 0);
    CHECK(size_a == 2048 && size_b == 2048);
    CHECK_EQ(TOV_Del_All_Files(kPort, 'b', reply.data()), 0);

    // A paced load; the driver compares the stored file byte for byte.
    CHECK_EQ(TOV_Load_File(kPort, load_path, 'A', nullptr, 0, reply.data()), 0);
    std::vector<std::vector<char>> words(4 * TOV_DIR_MAX_ENTRIES, std::vector<char>(TOV_DIR_WORD_SIZE, '\0'));
    std::vector<char*> w;
    for (auto& word : words) w.push_back(word.data());
    int32_t count = -1;
    CHECK_EQ(TOV_Dir_Tovrane(kPort, 'A', &count, &w[0], &w[100], &w[200], &w[300], reply.data()), 0);
    CHECK_EQ(count, 1);
    CHECK(std::strcmp(w[0], "paced.bin") == 0);  // the driver sends Paced.BIN
    char free_text[TOV_FREE_TEXT_SIZE] = "";
    CHECK_EQ(TOV_Get_FreeSize(kPort, 'B', free_text, reply.data()), 0);
    CHECK(std::strcmp(free_text, "2097152") == 0);
    // The controller reports a CRC16 that differs from the image's: 54, and "bios1" is not sent.
    CHECK_EQ(TOV_Update_Tovrane(kPort, image_path, reply.data()), 54);
    CHECK_EQ(Close_Com(kPort), 0);
    CHECK_EQ(Close_Com(kPort), 1);  // not open any more
}

void serial_layer(const char* blocks_path) {
    // Names: \\.\COM<N> unless UART_COM<N> says otherwise.
    char path[64] = "";
    CHECK_EQ(Uart_Device_Path(5, path, sizeof path), 0);
    CHECK(std::strcmp(path, "\\\\.\\COM5") == 0);
    CHECK_EQ(Uart_Device_Path(3, path, sizeof path), 0);
    CHECK(std::strcmp(path, "\\\\.\\COM2") == 0);
    CHECK_EQ(Open_Com(0, 115200, 8, 0, 0), 2);  // no COM port carries 0
    CHECK_EQ(Open_Com(7, 115200, 8, 0, 0), 3);  // no COM200 on this machine
    CHECK_EQ(Open_Com(6, 115200, 8, 0, 0), 3);  // UART_COM6 set but empty
    CHECK_EQ(Open_Com(3, 115200, 9, 0, 0), 6);  // nine data bits
    CHECK_EQ(Read_Raw(7, path, 1), -1);         // not open
    CHECK_EQ(Open_Com(3, 115200, 8, 0, 0), 0);
    CHECK_EQ(Open_Com(3, 115200, 8, 0, 0), 5);  // busy: this process holds it

    // A wait for the first bytes of a reply ends when they come, not at the
    // end of the wait, whatever room the reader offers.
    CHECK_EQ(TOV_GetPrompt(3, 500, '>'), 0);
    std::vector<char> reply(2048, '\0');
    CHECK_EQ(Send_Cmd(3, "ver", 0), 0);
    uint16_t count = 0;
    const ULONGLONG asked = ::GetTickCount64();
    CHECK_EQ(Read_Reply(3, reply.data(), 1000, 30000, UART_FLAG_FIRST_BYTES, &count), 0);
    CHECK(count > 0);
    CHECK(::GetTickCount64() - asked < 15000);
    // The far end hangs up in the middle of a transfer: every call after it fails at once.
    CHECK_EQ(TOV_GetPrompt(3, 500, '>'), 0);
    CHECK_EQ(TOV_Load_File(3, blocks_path, 'A', nullptr, 0, reply.data()), 44);
    uint8_t byte = 0;
    CHECK_EQ(Read_Raw(3, &byte, 1), -10);  // UART_ERR_HANGUP
    CHECK_EQ(Send_Cmd(3, "ver", 0), 10);
    CHECK_EQ(TOV_GetPrompt(3, 500, '>'), 16);  // the line is gone, not a time-out
    CHECK_EQ(Close_Com(3), 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return std::printf("usage: exports_wine LOAD_FILE IMAGE_FILE BLOCKS_FILE\n"), 100;
    exports_on_com1(argv[1], argv[2]);
    serial_layer(argv[3]);
    std::printf("%d failure(s)\n", wincheck::g_failures);
    return wincheck::g_failures;
}
