// How the library's waits cost and how long its failures take: prints numbers,
// asserts nothing.
//   wakeups:  voluntary context switches while the block answer, the prompt
//             wait on a silent line and the read until a quiet line wait
//             (a wait that sleeps in the kernel wakes a handful of times)
//   failures: how long SendFile takes to give up on each line fault, and a
//             whole download that meets three NAKs (the controller gives up
//             after 3 s of silence)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "exchange.h"
#include "pty_peer.h"
#include "sections.h"
#include "tovrane.h"
#include "tq318/simulator.h"
#include "transfer.h"
#include "uart.h"

namespace {

using namespace std::chrono;
namespace fs = std::filesystem;

long wakeups() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_nvcsw;
}

double seconds_since(steady_clock::time_point t0) { return duration<double>(steady_clock::now() - t0).count(); }

void line_waits() {
    constexpr std::uint8_t kPort = 13;
    testing_support::PtyPeer peer;
    testing_support::ComMapping mapping{kPort, peer.slave_path()};
    if (Open_Com(kPort, 115200, 8, 0, 0) != UART_OK) {
        std::puts("wakeups: cannot open the pty");
        return;
    }
    {
        std::thread controller([&] {
            peer.read_until(std::string(1, '\0'), 2s);
            std::this_thread::sleep_for(300ms);
            peer.write("\x06");
        });
        const long before = wakeups();
        const std::uint16_t code = tovrane::SendBlock(kPort, nullptr, 0, /*resend_on_silence=*/false);
        const long woke = wakeups() - before;
        controller.join();
        std::printf("block answer after 300 ms: code %u, %ld wakeups\n", code, woke);
    }
    {
        const long before = wakeups();
        const auto t0 = steady_clock::now();
        const std::uint16_t code = TOV_GetPrompt(kPort, 300, '>');
        std::printf("prompt wait of 300 ms on a silent line: code %u, %.3f s, %ld wakeups\n", code, seconds_since(t0),
                    wakeups() - before);
    }
    {
        std::thread controller([&] {
            peer.write("\r\nFile a");
            std::this_thread::sleep_for(30ms);
            peer.write(" saved, 4 bytes");
        });
        char reply[tovrane::kRawReadMax + 1];
        const long before = wakeups();
        const std::uint32_t n = tovrane::read_waiting(kPort, reply, 200);
        controller.join();
        const bool whole = std::string(reply, n) == "\r\nFile a saved, 4 bytes";
        std::printf("read until quiet over a 30 ms gap: %s, %ld wakeups\n", whole ? "every byte" : "BYTES LOST",
                    wakeups() - before);
    }
    Close_Com(kPort);
}

void failures(const fs::path& dir) {
    constexpr std::uint8_t kPort = 9;
    const fs::path path = dir / "fail.bin";
    std::ofstream(path, std::ios::binary) << std::string(256 * 10, 'f');
    struct Case { const char* name; tq318::Faults faults; bool whole_load; };
    std::vector<Case> cases(4);
    cases[0] = {"silent after the header", {}, false};
    cases[0].faults.swallow_block = 1, cases[0].faults.swallow_times = 1000;
    cases[1] = {"another byte for an ACK", {}, false};
    cases[1].faults.other_byte_block = 2;
    cases[2] = {"hung up after block 2", {}, false};
    cases[2].faults.hangup_after_block = 2;
    cases[3] = {"three NAKs, whole download", {}, true};
    cases[3].faults.nak_block = 1, cases[3].faults.nak_times = 3;
    for (const Case& c : cases) {
        tq318::SimulatorOptions o;
        o.transfer_timeout_ms = 3000;
        tq318::Simulator sim(o);
        sim.start();
        ::setenv("UART_COM9", sim.device_path().c_str(), 1);
        char reply[2048] = {};
        if (Open_Com(kPort, 115200, 8, 0, 0) != 0 || !sim.wait_until_ready(3s) ||
            (!c.whole_load && tovrane::exchange(kPort, "load", reply, 2400, '!') != 0)) {
            std::printf("%s: cannot start\n", c.name);
            Close_Com(kPort);
            continue;
        }
        sim.set_faults(c.faults);
        const auto t0 = steady_clock::now();
        const std::uint16_t code = c.whole_load ? TOV_Load_File(kPort, path.c_str(), 'a', nullptr, 0, reply)
                                                : tovrane::SendFile(kPort, path.c_str(), nullptr);
        std::printf("%s: code %u after %.3f s\n", c.name, code, seconds_since(t0));
        Close_Com(kPort);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Sections to run: wakeups, failures (both when none is named).
    const auto wanted = [&](const char* name) { return section_wanted(argc, argv, name); };
    char templ[] = "/tmp/line_wait_bench_XXXXXX";
    const fs::path dir(::mkdtemp(templ));
    if (wanted("wakeups")) line_waits();
    if (wanted("failures")) failures(dir);
    fs::remove_all(dir);
    return 0;
}
