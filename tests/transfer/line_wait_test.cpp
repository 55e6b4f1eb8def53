// The library's waits for the controller sleep in the kernel: the block
// answer, the prompt wait (15 after one time-out on a silent line) and the
// wait for a quiet line wake up a handful of times, not once a millisecond.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <string>
#include <thread>

#include "exchange.h"
#include "pty_peer.h"
#include "tovrane.h"
#include "transfer.h"
#include "uart.h"

using namespace std::chrono;
using testing_support::ComMapping;
using testing_support::PtyPeer;

namespace {

constexpr std::uint8_t kPort = 13;

long wakeups() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_nvcsw;
}

class LineWait : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Open_Com(kPort, 115200, 8, 0, 0), UART_OK); }
    void TearDown() override { Close_Com(kPort); }
    PtyPeer peer;
    ComMapping mapping{kPort, peer.slave_path()};
};

TEST_F(LineWait, TheBlockAnswerIsAwaitedAsleep) {
    std::thread controller([&] {
        peer.read_until(std::string(1, '\0'), 2s);
        std::this_thread::sleep_for(300ms);
        peer.write("\x06");
    });
    const long before = wakeups();
    EXPECT_EQ(tovrane::SendBlock(kPort, nullptr, 0, /*resend_on_silence=*/false), TOV_OK);
    const long woke = wakeups() - before;
    controller.join();
    EXPECT_LT(woke, 15);
}

TEST_F(LineWait, ThePromptWaitSleepsThroughSilence) {
    const long before = wakeups();
    const auto t0 = steady_clock::now();
    EXPECT_EQ(TOV_GetPrompt(kPort, 300, '>'), TOV_ERR_NO_PROMPT);
    EXPECT_GE(steady_clock::now() - t0, 300ms);
    EXPECT_LT(steady_clock::now() - t0, 400ms);  // one time-out, not several
    EXPECT_LT(wakeups() - before, 15);
}

TEST_F(LineWait, ReadingUntilQuietSleepsAndKeepsEveryByte) {
    std::thread controller([&] {
        peer.write("\r\nFile a");
        std::this_thread::sleep_for(30ms);
        peer.write(" saved, 4 bytes");
    });
    char reply[tovrane::kRawReadMax + 1];
    const long before = wakeups();
    const std::uint32_t n = tovrane::read_waiting(kPort, reply, 200);
    controller.join();
    EXPECT_EQ(std::string(reply, n), "\r\nFile a saved, 4 bytes");
    EXPECT_LT(wakeups() - before, 15);
}

}  // namespace
