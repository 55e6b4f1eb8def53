// Soak: many downloads through a line that loses answers (the block is
// stored, its ACK never arrives) or blocks (never arrive), against the
// simulated controller. Prints one table row; asserts nothing.
//   transfer_soak answer|block RATE [LOADS [SIZE [BAUD]]]
// The figure that must stay 0 is "wrong": a load reported as a success whose
// stored file differs from its source.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "recovery.h"
#include "tovrane.h"
#include "tq318/simulator.h"
#include "ui/ui.h"
#include "uart.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
constexpr std::uint8_t kPort = 11;

// Answers every question No, shows nothing.
class QuietUi final : public tovrane::ui::Ui {
public:
    void remember_owner() override {}
    std::unique_ptr<tovrane::ui::ProgressWindow> open_progress(std::string_view) override {
        return std::make_unique<Window>();
    }
    void message(std::string_view, std::string_view) override {}
    bool ask_yes_no(std::string_view, std::string_view) override { return false; }
    void set_wait_cursor(bool) override {}

private:
    struct Window final : tovrane::ui::ProgressWindow {
        void set_status(std::string_view) override {}
        void block_acknowledged(std::uint32_t, std::uint32_t) override {}
    };
};

std::vector<std::uint8_t> content(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> v(size);
    std::uint32_t x = seed * 2654435761u + 7;
    for (auto& b : v) b = static_cast<std::uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
    return v;
}

double seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: transfer_soak answer|block RATE [LOADS [SIZE [BAUD]]]\n");
        return 2;
    }
    const std::string kind = argv[1];
    const double rate = std::atof(argv[2]);
    const int loads = argc > 3 ? std::atoi(argv[3]) : 100;
    const std::size_t size = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 16384;
    const std::uint32_t baud = argc > 5 ? static_cast<std::uint32_t>(std::atoi(argv[5])) : 0;

    tq318::SimulatorOptions options;
    options.seed = 318 + static_cast<std::uint64_t>(rate * 1000) + (kind == "block" ? 7 : 0);
    options.baud = baud;
    tq318::Simulator sim(options);
    sim.start();
    ::setenv(("UART_COM" + std::to_string(kPort)).c_str(), sim.device_path().c_str(), 1);
    if (Open_Com(kPort, 115200, 8, 0, 0) != 0 || !sim.wait_until_ready(3s)) return 1;
    QuietUi ui;
    tovrane::ui::set_active_ui(&ui);
    tq318::Faults faults;
    (kind == "block" ? faults.swallow_rate : faults.lose_ack_rate) = rate;
    sim.set_faults(faults);

    char templ[] = "/tmp/transfer_soak_XXXXXX";
    const fs::path dir = ::mkdtemp(templ);
    const fs::path path = dir / "soak.bin";
    int ok = 0, failed = 0, wrong = 0, not_back = 0, at_once = 0;
    std::vector<double> recoveries;
    double failed_s = 0;
    const auto t0 = std::chrono::steady_clock::now();
    char reply[2048];
    for (int i = 0; i < loads; ++i) {
        const auto data = content(size, static_cast<std::uint32_t>(i));
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        const auto start = std::chrono::steady_clock::now();
        const std::uint16_t r = TOV_Load_File(kPort, path.c_str(), 'a', nullptr, 0, reply);
        if (r == 0) {
            const auto files = sim.files('a');
            const auto it = std::find_if(files.begin(), files.end(), [](const auto& f) { return f.name == "soak.bin"; });
            (it != files.end() && it->data == data ? ok : wrong)++;
        } else {
            ++failed;
            failed_s += seconds_since(start);
            const tovrane::Recovery back = tovrane::last_recovery();
            std::fprintf(stderr, "load %d: code %u after %.1f s, last wait for the prompt %u ms%s\n", i,
                         static_cast<unsigned>(r), seconds_since(start), back.elapsed_ms,
                         back.at_prompt ? "" : " (no prompt)");
            if (back.waited) {
                recoveries.push_back(back.elapsed_ms / 1000.0);
            } else {
                ++at_once;
            }
            // The controller must answer a command at once.
            sim.set_faults({});
            if (TOV_GetPrompt(kPort, 500, '>') != 0) {
                ++not_back;
                sim.wait_until_ready(20s);
            }
            sim.set_faults(faults);
        }
        sim.put_file('a', {.name = "soak.bin", .data = {}});  // the next load replaces it
    }
    std::sort(recoveries.begin(), recoveries.end());
    const double median = recoveries.empty() ? 0 : recoveries[recoveries.size() / 2];
    const double worst = recoveries.empty() ? 0 : recoveries.back();
    std::printf("| %s loss %.0f %% | %d | %d | %d | %d | %d | %zu | %.1f s | %.1f s | %.1f s | %.0f s |\n",
                kind.c_str(), rate * 100, loads, ok, failed, wrong, at_once, recoveries.size(), median,
                worst, failed ? failed_s / failed : 0.0, seconds_since(t0));
    std::printf("(not back at the prompt after a failure: %d)\n", not_back);
    tovrane::ui::set_active_ui(nullptr);
    Close_Com(kPort);
    fs::remove_all(dir);
    return 0;
}
