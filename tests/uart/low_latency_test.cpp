// The low-latency request at open, through a stand-in driver that takes the
// request or refuses it (a pseudo-terminal has no serial flags at all).
#include "low_latency.h"

#include <gtest/gtest.h>
#include <linux/serial.h>

#include <vector>

#include "pty_peer.h"
#include "serial_device.h"
#include "uart.h"

namespace {

using uart::LowLatency;
using uart::LowLatencyState;

// A driver with a flags word; records every write.
class FakeDriver : public uart::SerialFlags {
public:
    bool has_flags = true;
    bool refuses = false;
    int flags = 0x1000;  // some unrelated flag that must survive
    std::vector<int> writes;

    bool get(int, int& out) override { return has_flags && (out = flags, true); }
    bool set(int, int value) override {
        writes.push_back(value);
        return !refuses && (flags = value, true);
    }
};

// What the driver offers -> the request's state, the flags while open and
// after the close, and every write the request made.
TEST(LowLatency, ItIsAskedForOnceAndPutBackOnlyIfTaken) {
    constexpr int kOn = 0x1000 | ASYNC_LOW_LATENCY;
    struct Row {
        const char* name;
        bool has_flags, refuses;
        int flags;
        LowLatencyState state;
        int open_flags, closed_flags;
        std::vector<int> writes;
    } rows[] = {
        {"takes it", true, false, 0x1000, LowLatencyState::kTaken, kOn, 0x1000, {kOn, 0x1000}},
        {"refuses it", true, true, 0x1000, LowLatencyState::kRefused, 0x1000, 0x1000, {kOn}},
        {"already on", true, false, kOn, LowLatencyState::kAlreadyOn, kOn, kOn, {}},
        {"no flags", false, false, 0x1000, LowLatencyState::kUnsupported, 0x1000, 0x1000, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeDriver driver;
        driver.has_flags = row.has_flags;
        driver.refuses = row.refuses;
        driver.flags = row.flags;
        {
            LowLatency request(5, driver);
            EXPECT_EQ(request.state(), row.state);
            EXPECT_EQ(driver.flags, row.open_flags);
        }
        EXPECT_EQ(driver.flags, row.closed_flags);
        EXPECT_EQ(driver.writes, row.writes);
    }
}

// Through a driver that takes the request or refuses it, the device opens and
// puts the flags back when it closes.
TEST(LowLatency, TheDeviceOpensWhateverItsDriverDoes) {
    testing_support::PtyPeer peer;
    for (const bool refuses : {false, true}) {
        FakeDriver driver;
        driver.refuses = refuses;
        std::uint16_t code = 99;
        auto device = uart::SerialDevice::open(peer.slave_path(), {}, code, driver);
        ASSERT_TRUE(device);
        EXPECT_EQ(code, UART_OK);
        EXPECT_EQ(device->low_latency(), refuses ? LowLatencyState::kRefused : LowLatencyState::kTaken);
        device.reset();
        EXPECT_EQ(driver.flags, 0x1000);
    }
}

}  // namespace
