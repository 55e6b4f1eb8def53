// A test whose serial port is open on a pseudo-terminal: the test plays the
// far end through `peer`, byte by byte.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "pty_peer.h"
#include "uart.h"

namespace testing_support {

class PortOnPty : public ::testing::Test {
public:
    static constexpr std::uint8_t kPort = 9;

protected:
    void SetUp() override { ASSERT_EQ(Open_Com(kPort, 115200, 8, 0, 0), UART_OK); }
    void TearDown() override {
        if (far_end.joinable()) far_end.join();
        Close_Com(kPort);
    }
    // The far end answers `reply` once `command` has arrived; `heard` is what it read.
    void answer(std::string command, std::string reply) {
        if (far_end.joinable()) far_end.join();
        far_end = std::thread([this, command, reply] {
            heard = peer.read_until(command, std::chrono::seconds(2));
            peer.write(reply);
        });
    }
    PtyPeer peer;
    ComMapping mapping{kPort, peer.slave_path()};
    std::thread far_end;
    std::string heard;
};

}  // namespace testing_support
