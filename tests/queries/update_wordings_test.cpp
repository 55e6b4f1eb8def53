// The OS repair against controllers that word the upload's report and the
// answer to "bios1" each their own way: the real library and engine over a
// pseudo-terminal to the simulator, one row per wording.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "direct_console.h"
#include "temp_dir.h"
#include "tovrane.h"
#include "tq318/repair/engine.h"
#include "tq318/simulator.h"
#include "uart.h"

// Rows name only the fault knobs they set (designated initializers); the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace std::chrono_literals;
namespace repair = tq318::repair;
constexpr std::uint8_t kPort = 6;

struct Wording {
    const char* name;
    tq318::Faults words;    // the report, the answer to "bios1", a restart that never comes
    bool password;          // asked again after the restart
    repair::Outcome::Result result;
    std::string said;       // the last message
};
void PrintTo(const Wording& w, std::ostream* os) { *os << w.name; }

using R = repair::Outcome::Result;
const std::string kRunning = "running Tovrane 1.23 build 003 after the restart";
const Wording kWordings[] = {
    {"flash_written", {.bios1_answer = "\r\nFlash written."}, false, R::Verified, "Upgrade Successed."},
    {"installed_after_a_login", {.bios1_answer = "\r\nInstalled.\r\n>", .upload_report = "\r\nOK CRC16={crc}{prompt}"},
     true, R::Verified, "Upgrade Successed."},
    {"report_without_crc", {.upload_report = "\r\nReceived {size} bytes{prompt}"}, false, R::Unproven,
     "installed; the controller reported no CRC, so the image's content was not compared; " + kRunning},
    {"no_restart", {.mute_commands = {"reset"}}, false, R::Failed,
     "Not verified: the controller was silent for 2 s after the restart."},
};

class UpdateWordings : public ::testing::TestWithParam<Wording> {
protected:
    void TearDown() override { Close_Com(kPort); }
    testing_support::TempDir dir_;
};

TEST_P(UpdateWordings, ProvenOnlyByWhatTheControllerGives) {
    const Wording& w = GetParam();
    tq318::SimulatorOptions options;
    if (w.password) options.password = "quorvelstand83";
    tq318::Simulator sim(options);
    sim.set_faults(w.words);
    sim.start();
    ::setenv("UART_COM6", sim.device_path().c_str(), 1);
    ASSERT_EQ(Open_Com(kPort, 115200, 8, 0, 0), 0);
    ASSERT_TRUE(sim.wait_until_ready(3s));

    const auto image = dir_ / "os.img";
    std::ofstream(image, std::ios::binary) << std::string(3000, 'x') << "tail";
    repair::OsRequest request{kPort, image.string(), "quorvelstand83", 2s};
    repair::FrontEnd frontEnd;
    tovctl::DirectConsole console;  // the library's exports
    const repair::Outcome o = repair::repairOs(request, frontEnd, console);

    EXPECT_EQ(o.updateCode, std::optional<uint16_t>(0));
    EXPECT_EQ(o.result, w.result);
    ASSERT_FALSE(o.messages.empty());
    EXPECT_EQ(o.messages.back(), w.said);
    EXPECT_EQ(o.runningAfterRestart.empty(), w.result != R::Verified && w.result != R::Unproven);
}

INSTANTIATE_TEST_SUITE_P(Controllers, UpdateWordings, ::testing::ValuesIn(kWordings),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
