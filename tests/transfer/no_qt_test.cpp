// A program that links no Qt: the shared library runs a whole download with
// its console UI, and no Qt library is ever loaded into the process.
#include <gtest/gtest.h>
#include <link.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "tovrane.h"
#include "tq318/simulator.h"
#include "uart.h"

namespace {

constexpr std::uint8_t kPort = 9;

std::vector<std::string> loaded_objects() {
    std::vector<std::string> names;
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* out) {
            static_cast<std::vector<std::string>*>(out)->emplace_back(info->dlpi_name ? info->dlpi_name : "");
            return 0;
        },
        &names);
    return names;
}

TEST(NoQt, DownloadRunsWithTheConsoleUiAndNoQtIsLoaded) {
    tq318::Simulator sim;
    sim.start();
    ::setenv("UART_COM9", sim.device_path().c_str(), 1);
    ASSERT_EQ(Open_Com(kPort, 115200, 8, 0, 0), 0);
    testing_support::TempDir dir;
    const std::string payload(1000, 'q');
    testing_support::write_file(dir / "web.bin", payload);
    std::vector<char> reply(2048, ' ');
    reply.back() = '\0';
    const std::string path = (dir / "web.bin").string();
    EXPECT_EQ(TOV_Load_File(kPort, path.c_str(), 'a', "web.bin", 0, reply.data()), 0) << reply.data();
    Close_Com(kPort);
    const auto files = sim.files('a');
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.front().data, std::vector<std::uint8_t>(payload.begin(), payload.end()));
    for (const std::string& name : loaded_objects()) EXPECT_EQ(name.find("libQt"), std::string::npos) << name;
}

}  // namespace
