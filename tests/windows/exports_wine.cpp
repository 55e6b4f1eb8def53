// Under Wine, against a paced tq318-sim on COM1: binds every export of
// tovrane.dll by ordinal and by name, and the uart operations, and calls
// each. usage: exports_wine.exe LOAD_FILE IMAGE_FILE
// The driver then compares LOAD_FILE with the simulator's flash folder.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bind_exports.h"
#include "check.h"
#include "tovrane.h"
#include "uart.h"

using namespace wincheck;

namespace {

using OpenCom = uint16_t (UART_CALL*)(uint8_t, uint32_t, uint8_t, uint8_t, uint8_t);
using CloseCom = uint16_t (UART_CALL*)(uint8_t);
using SendCmd = uint16_t (UART_CALL*)(uint8_t, const char*, int16_t);
using ReceiveCmd = uint16_t (UART_CALL*)(uint8_t, char*, uint16_t, int16_t, uint16_t*);
using SendRaw = uint16_t (UART_CALL*)(uint8_t, const void*, uint16_t);
using ReadReply = uint16_t (UART_CALL*)(uint8_t, char*, uint32_t, uint32_t, int16_t, uint16_t*);
using ExchangeCmd = uint16_t (UART_CALL*)(uint8_t, const char*, char*, uint32_t, uint32_t, int16_t, uint16_t*, char);
using ReadUntil = uint16_t (UART_CALL*)(uint8_t, char*, uint32_t, uint32_t, int16_t, uint16_t*, char);
using ReadRaw = int32_t (UART_CALL*)(uint8_t, void*, uint32_t);

using Version = uint16_t (TOV_CALL*)();
using ErrorString = void (TOV_CALL*)(uint16_t, char*);
using GetPrompt = uint16_t (TOV_CALL*)(uint8_t, uint16_t, uint8_t);
using MakeTable = uint16_t (TOV_CALL*)();
using Crc = uint16_t (TOV_CALL*)(const uint8_t*, uint32_t);
using LoadFile = uint16_t (TOV_CALL*)(uint8_t, const char*, char, const char*, int32_t, char*);
using DelAll = uint16_t (TOV_CALL*)(uint8_t, char, char*);
using Update = uint16_t (TOV_CALL*)(uint8_t, const char*, char*);
using Value = uint16_t (TOV_CALL*)(uint8_t, char*, char*);
using SetCom = uint16_t (TOV_CALL*)(uint8_t, int32_t, int32_t, int32_t, int32_t, int32_t, char*);
using GetCom = uint16_t (TOV_CALL*)(uint8_t, int32_t, int32_t*, int32_t*, int32_t*, int32_t*, char*);
using SetDisk = uint16_t (TOV_CALL*)(uint8_t, int32_t, int32_t, char*);
using GetDisk = uint16_t (TOV_CALL*)(uint8_t, int32_t*, int32_t*, char*);
using Dir = uint16_t (TOV_CALL*)(uint8_t, char, int32_t*, char**, char**, char**, char**, char*);
using FreeSize = uint16_t (TOV_CALL*)(uint8_t, char, char*, char*);
using TovVersion = int32_t (TOV_CALL*)(uint8_t, char*, char*, char*, int32_t*, char*);

constexpr uint8_t kPort = 1;

std::string base_name(const char* path) {
    std::string p(path);
    const auto slash = p.find_last_of("\\/:");
    std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: exports_wine LOAD_FILE IMAGE_FILE\n");
        return 100;
    }
    HMODULE uart = ::LoadLibraryA("uart.dll");
    HMODULE tov = ::LoadLibraryA("tovrane.dll");
    CHECK(uart != nullptr);
    CHECK(tov != nullptr);
    if (uart == nullptr || tov == nullptr) return 100;

    // The serial layer: five by ordinal (and name), four by name only.
    auto open_com = as<OpenCom>(bind_name(uart, "Open_Com", __LINE__));
    auto close_com = as<CloseCom>(bind_name(uart, "Close_Com", __LINE__));
    auto send_cmd = as<SendCmd>(bind_name(uart, "Send_Cmd", __LINE__));
    auto receive_cmd = as<ReceiveCmd>(bind_name(uart, "Receive_Cmd", __LINE__));
    auto send_raw = as<SendRaw>(bind(uart, 9, "Send_Raw", __LINE__));
    auto read_reply = as<ReadReply>(bind(uart, 10, "Read_Reply", __LINE__));
    auto exchange = as<ExchangeCmd>(bind(uart, 30, "Exchange_Cmd", __LINE__));
    auto read_until = as<ReadUntil>(bind(uart, 32, "Read_Until", __LINE__));
    auto read_raw = as<ReadRaw>(bind(uart, 33, "Read_Raw", __LINE__));

    auto dll_version = as<Version>(bind(tov, 1, "TOV_Get_Dll_Version", __LINE__));
    auto load_file = as<LoadFile>(bind(tov, 17, "TOV_Load_File", __LINE__));
    auto update = as<Update>(bind(tov, 18, "TOV_Update_Tovrane", __LINE__));
    auto del_all = as<DelAll>(bind(tov, 20, "TOV_Del_All_Files", __LINE__));
    auto tov_version = as<TovVersion>(bind(tov, 21, "TOV_Get_Tovrane_Version", __LINE__));
    auto dir = as<Dir>(bind(tov, 22, "TOV_Dir_Tovrane", __LINE__));
    auto free_size = as<FreeSize>(bind(tov, 23, "TOV_Get_FreeSize", __LINE__));
    auto set_ip = as<Value>(bind(tov, 24, "TOV_Set_IP", __LINE__));
    auto get_ip = as<Value>(bind(tov, 25, "TOV_Get_IP", __LINE__));
    auto set_mask = as<Value>(bind(tov, 26, "TOV_Set_Mask", __LINE__));
    auto get_mask = as<Value>(bind(tov, 27, "TOV_Get_Mask", __LINE__));
    auto set_gateway = as<Value>(bind(tov, 28, "TOV_Set_Gateway", __LINE__));
    auto get_gateway = as<Value>(bind(tov, 29, "TOV_Get_Gateway", __LINE__));
    auto set_com = as<SetCom>(bind(tov, 30, "TOV_Set_COM", __LINE__));
    auto get_com = as<GetCom>(bind(tov, 31, "TOV_Get_COM", __LINE__));
    auto set_disk = as<SetDisk>(bind(tov, 35, "TOV_Set_DiskSize", __LINE__));
    auto get_disk = as<GetDisk>(bind(tov, 36, "TOV_Get_DiskSize", __LINE__));
    auto error_string = as<ErrorString>(bind(tov, 50, "TOV_IsGetErrorString", __LINE__));
    auto get_prompt = as<GetPrompt>(bind(tov, 51, "TOV_GetPrompt", __LINE__));
    auto make_table = as<MakeTable>(bind(tov, 60, "MakeCRC16Table", __LINE__));
    auto crc = as<Crc>(bind(tov, 61, "GetCRC16", __LINE__));
    if (g_failures != 0) return g_failures;

    // Nothing on the line.
    CHECK_EQ(dll_version(), 0x0111);
    char untouched[8] = "keep";
    error_string(46, untouched);
    CHECK(std::strcmp(untouched, "keep") == 0);
    make_table();
    CHECK_EQ(crc(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x31C3);

    CHECK_EQ(open_com(kPort, 115200, 8, 0, 0), 0);
    CHECK_EQ(open_com(kPort, 115200, 8, 0, 0), 5);  // already open here: busy

    // The uart operations themselves.
    std::vector<char> reply(2048, '\0');
    uint16_t scratch = 0;
    CHECK_EQ(exchange(kPort, " ", reply.data(), 1001, 1000, 0, &scratch, '>'), 0);
    CHECK(std::strstr(reply.data(), "TQ318-5314A>") != nullptr);
    CHECK_EQ(send_cmd(kPort, "ver", 0), 0);
    CHECK_EQ(read_until(kPort, reply.data(), 1001, 1500, 0, &scratch, '>'), 0);
    CHECK(std::strstr(reply.data(), "Ver. 1.23") != nullptr);
    CHECK_EQ(send_cmd(kPort, "ip", 0), 0);
    CHECK_EQ(read_reply(kPort, reply.data(), 1001, 1000, 0, &scratch), 0);
    CHECK(std::strstr(reply.data(), "IP=") != nullptr);
    const uint8_t cr = 13;
    CHECK_EQ(send_raw(kPort, &cr, 1), 1);
    receive_cmd(kPort, reply.data(), 500, 0, &scratch);
    CHECK(std::strchr(reply.data(), '>') != nullptr);
    uint8_t byte = 0;
    CHECK_EQ(read_raw(kPort, &byte, 1), 0);  // nothing waiting: at once

    // Every export of the library.
    CHECK_EQ(get_prompt(kPort, 200, '>'), 0);
    char model[32] = "", date[16] = "", flash[32] = "";
    int32_t probe = -1;
    CHECK_EQ(tov_version(kPort, model, date, flash, &probe, reply.data()), 123003);
    CHECK(std::strcmp(date, "Dec/06/2026") == 0);

    char value[16];
    std::strcpy(value, "10.1.2.3");
    CHECK_EQ(set_ip(kPort, value, reply.data()), 0);
    std::memset(value, 0, sizeof value);
    CHECK_EQ(get_ip(kPort, value, reply.data()), 0);
    CHECK(std::strcmp(value, "10.1.2.3") == 0);
    std::strcpy(value, "255.255.0.0");
    CHECK_EQ(set_mask(kPort, value, reply.data()), 0);
    std::memset(value, 0, sizeof value);
    CHECK_EQ(get_mask(kPort, value, reply.data()), 0);
    CHECK(std::strcmp(value, "255.255.0.0") == 0);
    std::strcpy(value, "10.1.0.254");
    CHECK_EQ(set_gateway(kPort, value, reply.data()), 0);
    std::memset(value, 0, sizeof value);
    CHECK_EQ(get_gateway(kPort, value, reply.data()), 0);
    CHECK(std::strcmp(value, "10.1.0.254") == 0);

    CHECK_EQ(set_com(kPort, 2, 9600, 7, 1, 2, reply.data()), 0);
    int32_t baud = 0, bits = 0, parity = -1, stop = 0;
    CHECK_EQ(get_com(kPort, 2, &baud, &bits, &parity, &stop, reply.data()), 0);
    CHECK_EQ(baud, 9600);
    CHECK_EQ(bits, 7);
    CHECK_EQ(stop, 2);
    CHECK_EQ(set_disk(kPort, 2048, 2048, reply.data()), 0);
    int32_t size_a = 0, size_b = 0;
    CHECK_EQ(get_disk(kPort, &size_a, &size_b, reply.data()), 0);
    CHECK_EQ(size_a, 2048);
    CHECK_EQ(size_b, 2048);

    CHECK_EQ(del_all(kPort, 'b', reply.data()), 0);
    CHECK(std::strstr(reply.data(), "All files deleted") != nullptr);

    // A paced load; the driver compares the stored file byte for byte.
    CHECK_EQ(load_file(kPort, argv[1], 'A', nullptr, 0, reply.data()), 0);
    CHECK(std::strstr(reply.data(), "saved") != nullptr);

    std::vector<std::vector<char>> words(4 * 100, std::vector<char>(32, '\0'));
    std::vector<char*> w1(100), w2(100), w3(100), sizes(100);
    for (int i = 0; i < 100; ++i) {
        w1[i] = words[i].data();
        w2[i] = words[100 + i].data();
        w3[i] = words[200 + i].data();
        sizes[i] = words[300 + i].data();
    }
    int32_t count = -1;
    CHECK_EQ(dir(kPort, 'A', &count, w1.data(), w2.data(), w3.data(), sizes.data(), reply.data()), 0);
    CHECK_EQ(count, 1);
    CHECK(base_name(argv[1]) == w1[0]);
    char free_text[32] = "";
    CHECK_EQ(free_size(kPort, 'B', free_text, reply.data()), 0);
    CHECK(std::strcmp(free_text, "2097152") == 0);

    // The controller reports a CRC16 that differs from the image's: 54, and
    // "bios1" is not sent.
    CHECK_EQ(update(kPort, argv[2], reply.data()), 54);

    CHECK_EQ(close_com(kPort), 0);
    CHECK_EQ(close_com(kPort), 1);  // not open any more
    std::printf("%d failure(s)\n", g_failures);
    return g_failures;
}
