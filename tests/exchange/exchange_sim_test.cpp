// The exchange against the simulated controller and its fault modes, end to
// end; each export's own code and text are pinned over a scripted exchange
// (tests/queries), how soon each returns by bench/serial.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "exchange.h"
#include "pty_peer.h"
#include "temp_dir.h"
#include "tovrane.h"
#include "tq318/simulator.h"
#include "uart.h"

using namespace std::chrono;

// Fault sets are designated initializers: the members left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

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
    tq318::Simulator sim;
    testing_support::ComMapping mapping{kPort, sim.device_path()};
    char big[TOV_DIR_REPLY_MIN];
};

// A command or an export against a console fault -> the code, and the reply as
// the console gave it (`holds` in it, the prompt last or not) or the error text.
TEST_F(Controller, RepliesAsTheConsoleGivesThem) {
    testing_support::TempDir dir;
    testing_support::write_file(dir / "f.bin", std::string(300, 'x'));
    auto exchange = [&](const char* command, uint32_t timeout_ms) {
        return [=, this] { return tovrane::exchange(kPort, command, big, timeout_ms, '>'); };
    };
    struct Row { const char* name; tq318::Faults faults; std::function<uint16_t()> call; uint16_t code; std::string holds;
                 bool prompt_last = false; };
    const Row rows[] = {
        {"blank", {}, exchange(" ", 1000), 0, "\r\nTQ318-5314A>", true},
        {"unknown", {}, exchange("frobnicate", 1000), 0, "frobnicate", true},
        {"noise", {.garbage_before_reply = 40}, exchange("ip", 1000), 0, "IP=", true},
        {"slow", {.reply_delay_ms = 300}, exchange("mask", 1000), 0, "MASK=", true},
        {"too slow", {.reply_delay_ms = 700}, exchange("mask", 400), UART_ERR_TIMEOUT, "mask Error!, Code:9, "},
        {"after the prompt", {.text_after_prompt = " more"}, exchange("ip", 1000), 0, "IP=192.168.1.1\r\nTQ318-5314A> more"},
        // "Y" not answered inside TOV_Del_All_Files: that exchange's code and text.
        {"confirmation", {.mute_commands = {"y"}}, [&] { return TOV_Del_All_Files(kPort, 'a', big); },
         UART_ERR_TIMEOUT, "Y Error!, Code:9, "},
        // The final wait after a transfer: no prompt at the end of the report.
        {"load", {.text_after_prompt = " more"}, [&] { return TOV_Load_File(kPort, (dir / "f.bin").c_str(), 'a', nullptr, 0, big); },
         TOV_ERR_BAD_REPLY, "\r\n(null) Error!, Code:46, "},
        // The prompt wait's time-out bounds silence, not a stream of other bytes.
        {"prompt", {.byte_stream_ms = 500}, [&] { big[0] = 0; return TOV_GetPrompt(kPort, 200, '>'); }, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim.set_faults(row.faults);
        EXPECT_EQ(row.call(), row.code);
        const std::string got = big;
        EXPECT_NE(got.find(row.holds), std::string::npos) << got;
        EXPECT_EQ(row.code != 0 ? got : row.holds, row.holds);
        EXPECT_EQ(tovrane::ends_with_char(big, '>'), row.prompt_last) << got;
        EXPECT_GE(got.size(), row.faults.garbage_before_reply);
    }
    EXPECT_TRUE(sim.wait_for_line(" ", 1s));
}

// An exception inside an export never reaches the caller: 50 with its text
// (libuart: its failure code); the exports without a code never allocate.
TEST_F(Controller, AllocationFailureStaysInsideTheLibraries) {
    char value[TOV_VALUE_SIZE] = "", gateway[] = "10.0.0.254";
    const uint8_t bytes[] = {'1', '2', '3'};
    MakeCRC16Table();
    t_fail_allocations = true;
    // Commands past the short-string size, so that building the line allocates.
    const uint16_t codes[] = {TOV_Set_Gateway(kPort, gateway, big), TOV_Set_DiskSize(kPort, 1024, 3072, big),
                              Send_Cmd(kPort, "a line longer than sixteen", 0), TOV_Get_Dll_Version(),
                              GetCRC16(bytes, 3)};
    MakeCRC16Table();
    TOV_IsGetErrorString(50, value);
    t_fail_allocations = false;
    EXPECT_EQ(std::vector<uint16_t>(codes, codes + 5),
              (std::vector<uint16_t>{TOV_ERR_INTERNAL, TOV_ERR_INTERNAL, UART_ERR_READ, 0x0111, 0x9752}));
    EXPECT_STREQ(big, "\r\n(null) Error!, Code:50, ");
    EXPECT_TRUE(sim.received_lines().empty() || sim.received_lines().back() == " ");
    EXPECT_STREQ(value, "");
}

// 15 files on each disk make a listing of about 1.6 KB: read whole for the free
// space of disk B at its end (the listing itself through tovctl, over an
// adapter: tests/tovctl/adapter_test.cpp). Past 2048 bytes: 11.
TEST_F(Controller, DirectoryListingsUpTo2048Bytes) {
    for (int i = 0; i < 15; ++i) {
        sim.put_file('a', {.name = "a" + std::to_string(i) + ".bin", .data = std::vector<std::uint8_t>(100 + i)});
        sim.put_file('b', {.name = "b" + std::to_string(i) + ".dat", .data = std::vector<std::uint8_t>(0x1234 + i)});
    }
    char free_text[TOV_FREE_TEXT_SIZE] = "";
    ASSERT_EQ(TOV_Get_FreeSize(kPort, 'b', free_text, big), 0) << big;
    EXPECT_GT(std::strlen(big), 1500u);
    EXPECT_EQ(std::string(free_text), std::to_string(sim.free_bytes('b')));
    for (int i = 15; i < 40; ++i) sim.put_file('b', {.name = "more" + std::to_string(i) + ".dat", .data = {1}});
    std::vector<std::array<char, TOV_DIR_WORD_SIZE>> words(4 * TOV_DIR_MAX_ENTRIES);
    std::vector<char*> p;
    for (auto& w : words) p.push_back(w.data());
    int32_t count = -1;
    const int n = TOV_DIR_MAX_ENTRIES;
    EXPECT_EQ(TOV_Dir_Tovrane(kPort, 'a', &count, &p[0], &p[n], &p[2 * n], &p[3 * n], big), UART_ERR_TOO_LONG);
    EXPECT_STREQ(big, "dir Error!, Code:11, ");
    EXPECT_EQ(count, -1);
    EXPECT_EQ(TOV_Get_FreeSize(kPort, 'b', free_text, big), UART_ERR_TOO_LONG);
    EXPECT_STREQ(big, "dir Error!, Code:11, ");
}

}  // namespace
