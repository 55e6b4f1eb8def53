// A program that links no Qt: the shared library runs a whole download with
// its console UI, and no Qt library is ever loaded into the process.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "temp_dir.h"
#include "tovrane.h"
#include "tq318/simulator.h"
#include "uart.h"

namespace {

TEST(NoQt, DownloadRunsWithTheConsoleUiAndNoQtIsLoaded) {
    tq318::Simulator sim;
    sim.start();
    ::setenv("UART_COM9", sim.device_path().c_str(), 1);
    ASSERT_EQ(Open_Com(9, 115200, 8, 0, 0), 0);
    testing_support::TempDir dir;
    const std::string payload(1000, 'q');
    testing_support::write_file(dir / "web.bin", payload);
    std::string reply(2047, ' ');  // a caller's buffer of 2048 bytes, not cleared
    EXPECT_EQ(TOV_Load_File(9, (dir / "web.bin").c_str(), 'a', "web.bin", 0, reply.data()), 0) << reply;
    Close_Com(9);
    const auto files = sim.files('a');
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.front().data, std::vector<std::uint8_t>(payload.begin(), payload.end()));
    EXPECT_EQ(testing_support::read_file("/proc/self/maps").find("libQt"), std::string::npos);
}

}  // namespace
