// The exchange against the simulated controller and its fault modes.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <functional>
#include <string_view>
#include <vector>
#include <cstring>
#include <string>

#include "exchange.h"
#include "pty_peer.h"
#include "temp_dir.h"
#include "tovrane.h"
#include "tq318/simulator.h"
#include "uart.h"

using namespace std::chrono;

// Fault sets are designated initializers: the members left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
using testing_support::ComMapping;

// While set, every allocation on this thread fails: what an export does when
// memory runs out. Other threads (the simulator's) allocate as usual.
thread_local bool t_fail_allocations = false;

void* operator new(std::size_t size) {
    if (t_fail_allocations) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr uint8_t kPort = 22;

class Controller : public ::testing::Test {
protected:
    void SetUp() override {
        sim.start();
        ASSERT_TRUE(sim.wait_until_ready(5s));
        ASSERT_EQ(Open_Com(kPort, 115200, 8, 0, 0), UART_OK);
    }
    void TearDown() override { Close_Com(kPort); }
    void fault(auto&& change) {
        tq318::Faults f = sim.faults();
        change(f);
        sim.set_faults(f);
    }
    tq318::Simulator sim;
    ComMapping mapping{kPort, sim.device_path()};
    char reply[1001];
    char big[TOV_DIR_REPLY_MIN];
};

// Blank, unknown and slow commands, and noise before the reply: the reply as
// the console gave it, the prompt last, or the time-out.
TEST_F(Controller, RepliesAsTheConsoleGivesThem) {
    struct Row { const char* command; tq318::Faults faults; uint32_t timeout_ms; uint16_t code; const char* holds; };
    const Row rows[] = {
        {" ", {}, 1000, 0, "\r\nTQ318-5314A>"},
        {"frobnicate", {}, 1000, 0, "frobnicate"},
        {"ip", {.garbage_before_reply = 40}, 1000, 0, "IP="},
        {"mask", {.reply_delay_ms = 300}, 1000, 0, "MASK="},
        {"mask", {.reply_delay_ms = 700}, 400, UART_ERR_TIMEOUT, "mask Error!"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        sim.set_faults(row.faults);
        EXPECT_EQ(tovrane::exchange(kPort, row.command, reply, row.timeout_ms, '>'), row.code);
        EXPECT_NE(std::strstr(reply, row.holds), nullptr) << reply;
        EXPECT_EQ(tovrane::ends_with_char(reply, '>'), row.code == 0) << reply;
        EXPECT_GE(std::strlen(reply), static_cast<std::size_t>(row.faults.garbage_before_reply));
    }
    EXPECT_TRUE(sim.wait_for_line(" ", 1s));
}

// The console goes on after its prompt: the exchange hands the reply over one
// settle time after the last byte, and each export gives its own code.
TEST_F(Controller, TextAfterThePromptEndsAtTheSettleTimeWithTheExportsOwnCode) {
    fault([](auto& f) { f.text_after_prompt = " more"; });
    auto t0 = steady_clock::now();
    EXPECT_EQ(tovrane::exchange(kPort, "ip", reply, 1000, '>'), 0);
    const auto settled = duration_cast<milliseconds>(steady_clock::now() - t0);
    EXPECT_STREQ(reply, "\r\nIP=192.168.1.1\r\nTQ318-5314A> more");
    EXPECT_LT(settled, 200ms);
    std::printf("exchange with text after the prompt: %lld ms\n", static_cast<long long>(settled.count()));

    char value[TOV_VALUE_SIZE] = "old", set_ip[] = "10.0.0.7", free_text[TOV_FREE_TEXT_SIZE] = "";
    char model[TOV_MODEL_SIZE] = "", date[TOV_BUILD_DATE_SIZE] = "", flash[TOV_FLASH_SIZE] = "";
    int32_t a = 0, b = 0, c = 0, d = 0, count = 0, probe = 0;
    std::vector<std::array<char, TOV_DIR_WORD_SIZE>> words(4 * TOV_DIR_MAX_ENTRIES);
    std::vector<char*> p;
    for (auto& w : words) p.push_back(w.data());
    auto arrays = [&](int k) { return p.data() + k * TOV_DIR_MAX_ENTRIES; };
    struct Row {
        const char* name;
        std::function<int32_t()> call;
        int32_t code;
        std::string text;  // "": the reply as received is kept
    };
    const std::string err = "\r\n(null) Error!, Code:";
    const Row rows[] = {
        {"get ip", [&] { return TOV_Get_IP(kPort, value, big); }, TOV_ERR_GET_IP, err + "57, "},
        {"set ip", [&] { return TOV_Set_IP(kPort, set_ip, big); }, TOV_ERR_SET_IP, err + "56, "},
        {"get mask", [&] { return TOV_Get_Mask(kPort, value, big); }, TOV_ERR_GET_MASK, err + "59, "},
        {"get gateway", [&] { return TOV_Get_Gateway(kPort, value, big); }, TOV_ERR_GET_GATEWAY, err + "61, "},
        {"set com", [&] { return TOV_Set_COM(kPort, 2, 9600, 8, 0, 1, big); }, TOV_ERR_SET_COM, err + "63, "},
        {"get com", [&] { return TOV_Get_COM(kPort, 1, &a, &b, &c, &d, big); }, TOV_ERR_GET_COM, err + "64, "},
        {"get disk size", [&] { return TOV_Get_DiskSize(kPort, &a, &b, big); }, TOV_ERR_DISK_SIZE, err + "65, "},
        {"dir", [&] { return TOV_Dir_Tovrane(kPort, 'a', &count, arrays(0), arrays(1), arrays(2), arrays(3), big); },
         TOV_ERR_DIR_REPLY, err + "62, "},
        {"free", [&] { return TOV_Get_FreeSize(kPort, 'a', free_text, big); }, TOV_ERR_BAD_REPLY, ""},
        {"ver", [&] { return TOV_Get_Tovrane_Version(kPort, model, date, flash, &probe, big); }, TOV_ERR_BAD_REPLY,
         err + "46, "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        t0 = steady_clock::now();
        EXPECT_EQ(row.call(), row.code);
        const auto took = steady_clock::now() - t0;
        if (row.text.empty()) {
            EXPECT_NE(std::strstr(big, "Free space"), nullptr) << big;
            EXPECT_TRUE(std::string_view(big).ends_with("> more")) << big;
        } else {
            EXPECT_EQ(std::string(big), row.text);
        }
        // Two exchanges at most, each one settle time after its last byte (the
        // shortest time-out in play is 600 ms).
        EXPECT_LT(took, 400ms);
    }
    EXPECT_STREQ(value, "old");
}

// An exception inside an export never reaches the caller: 50 with its text
// (libuart: its failure code); the exports without a code never allocate.
TEST_F(Controller, AllocationFailureStaysInsideTheLibraries) {
    char value[TOV_VALUE_SIZE] = "", gateway[] = "10.0.0.254";
    const uint8_t bytes[] = {'1', '2', '3'};
    MakeCRC16Table();
    uint16_t codes[6] = {};
    t_fail_allocations = true;
    // Commands past the short-string size, so that building the line allocates.
    codes[0] = TOV_Set_Gateway(kPort, gateway, big);
    codes[1] = TOV_Set_DiskSize(kPort, 1024, 3072, big);
    codes[2] = Send_Cmd(kPort, "a line longer than sixteen", 0);
    codes[3] = TOV_Get_Dll_Version();
    codes[4] = GetCRC16(bytes, 3);
    codes[5] = MakeCRC16Table();
    TOV_IsGetErrorString(50, value);
    t_fail_allocations = false;
    EXPECT_EQ(codes[0], TOV_ERR_INTERNAL);
    EXPECT_EQ(codes[1], TOV_ERR_INTERNAL);
    EXPECT_STREQ(big, "\r\n(null) Error!, Code:50, ");
    EXPECT_EQ(codes[2], UART_ERR_READ);
    EXPECT_TRUE(sim.received_lines().empty() || sim.received_lines().back() == " ");
    EXPECT_EQ(codes[3], 0x0111);
    EXPECT_EQ(codes[4], 0x9752);
    EXPECT_STREQ(value, "");
}

// 15 files on each disk make a listing of about 1.6 KB: read whole. Past
// 2048 bytes the exchange reports 11.
TEST_F(Controller, DirectoryListingsUpTo2048Bytes) {
    for (int i = 0; i < 15; ++i) {
        sim.put_file('a', {.name = "a" + std::to_string(i) + ".bin", .data = std::vector<std::uint8_t>(100 + i)});
        sim.put_file('b', {.name = "b" + std::to_string(i) + ".dat", .data = std::vector<std::uint8_t>(0x1234 + i)});
    }
    std::vector<std::array<char, TOV_DIR_WORD_SIZE>> words(4 * TOV_DIR_MAX_ENTRIES);
    std::vector<char*> p;
    for (auto& w : words) p.push_back(w.data());
    auto arrays = [&](int k) { return p.data() + k * TOV_DIR_MAX_ENTRIES; };
    for (const char disk : {'a', 'b'}) {
        SCOPED_TRACE(disk);
        int32_t count = 0;
        ASSERT_EQ(TOV_Dir_Tovrane(kPort, disk, &count, arrays(0), arrays(1), arrays(2), arrays(3), big), 0) << big;
        EXPECT_GT(std::strlen(big), 1500u);
        EXPECT_EQ(count, 15);
        for (int i = 0; i < 15; ++i) {
            EXPECT_STREQ(arrays(0)[i], ((disk == 'a' ? "a" : "b") + std::to_string(i) + (disk == 'a' ? ".bin" : ".dat")).c_str());
            EXPECT_STREQ(arrays(3)[i], std::to_string(disk == 'a' ? 100 + i : 0x1234 + i).c_str());
        }
    }
    char free_text[TOV_FREE_TEXT_SIZE] = "";
    ASSERT_EQ(TOV_Get_FreeSize(kPort, 'b', free_text, big), 0) << big;
    EXPECT_EQ(std::string(free_text), std::to_string(sim.free_bytes('b')));

    for (int i = 15; i < 40; ++i) sim.put_file('b', {.name = "more" + std::to_string(i) + ".dat", .data = {1}});
    int32_t count = -1;
    EXPECT_EQ(TOV_Dir_Tovrane(kPort, 'a', &count, arrays(0), arrays(1), arrays(2), arrays(3), big), UART_ERR_TOO_LONG);
    EXPECT_STREQ(big, "dir Error!, Code:11, ");
    EXPECT_EQ(count, -1);
    EXPECT_EQ(TOV_Get_FreeSize(kPort, 'b', free_text, big), UART_ERR_TOO_LONG);
    EXPECT_STREQ(big, "dir Error!, Code:11, ");
}

// "Y" not answered inside TOV_Del_All_Files: that exchange's code and text.
TEST_F(Controller, DeleteAllFilesReportsAFailedConfirmation) {
    fault([](auto& f) { f.mute_commands = {"y"}; });
    EXPECT_EQ(TOV_Del_All_Files(kPort, 'a', big), UART_ERR_TIMEOUT);
    EXPECT_STREQ(big, "Y Error!, Code:9, ");
}

// The final wait after a transfer ends at the settle time when the console goes
// on after its prompt, and the missing prompt at the end gives 46.
TEST_F(Controller, LoadFinalWaitWithoutThePromptAtTheEnd) {
    testing_support::TempDir dir;
    testing_support::write_file(dir / "f.bin", std::string(300, 'x'));
    fault([](auto& f) { f.text_after_prompt = " more"; });
    const auto t0 = steady_clock::now();
    EXPECT_EQ(TOV_Load_File(kPort, (dir / "f.bin").c_str(), 'a', nullptr, 0, big), TOV_ERR_BAD_REPLY);
    EXPECT_LT(steady_clock::now() - t0, 700ms);  // not the 1000 ms final wait
    EXPECT_STREQ(big, "\r\n(null) Error!, Code:46, ");
}

TEST_F(Controller, GetPromptWaitsOutAStreamOfOtherBytes) {
    fault([](auto& f) { f.byte_stream_ms = 500; });
    const auto t0 = steady_clock::now();
    EXPECT_EQ(TOV_GetPrompt(kPort, 200, '>'), 0);
    EXPECT_GE(steady_clock::now() - t0, 450ms);
}

}  // namespace
