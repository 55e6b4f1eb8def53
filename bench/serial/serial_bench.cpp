// How soon the serial layer and the exchange return, in milliseconds: the
// figures the tests do not bound (a test on a shared machine cannot).
//   silent line:  one empty raw read (neither a spin nor a long wait)
//   hang-up:      each read on a line whose far end went away, and one that
//                 goes away 100 ms into a 5 s wait
//   first bytes:  Read_Reply returning after a byte that comes 50 ms into a 5 s wait
//   exchange:     from the far end's prompt to Exchange_Cmd's return
//   mapping file: the COM lookup when the mapping file is a FIFO
//   simulator:    the exchange and each export with text after the prompt,
//                 and TOV_Load_File's final wait (1000 ms) with it
#include <stdlib.h>
#include <sys/stat.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "exchange.h"
#include "pty_peer.h"
#include "temp_dir.h"
#include "tovrane.h"
#include "tq318/simulator.h"
#include "uart.h"

namespace {

using namespace std::chrono;
using testing_support::ComMapping;
using testing_support::PtyPeer;

double ms_since(steady_clock::time_point t) { return duration<double, std::milli>(steady_clock::now() - t).count(); }

double timed(const std::function<void()>& call) {
    const auto t0 = steady_clock::now();
    call();
    return ms_since(t0);
}

// A port on a fresh pseudo-terminal; `body` gets the far end.
void on_pty(const std::function<void(PtyPeer&)>& body) {
    PtyPeer peer;
    ComMapping mapping(9, peer.slave_path());
    if (Open_Com(9, 115200, 8, 0, 0) != UART_OK) {
        std::printf("cannot open the pseudo-terminal\n");
        return;
    }
    body(peer);
    Close_Com(9);
}

void pty_figures() {
    on_pty([](PtyPeer&) {
        std::uint8_t b;
        std::printf("silent line: raw read %.2f ms per call (50 calls)\n",
                    timed([&] { for (int i = 0; i < 50; ++i) Read_Raw(9, &b, 1); }) / 50);
    });
    on_pty([](PtyPeer& peer) {
        peer.close_master();
        char reply[UART_TEXT_CAPACITY];
        std::uint8_t b;
        std::printf("hang-up: Read_Raw %.1f ms, Read_Until(3000) %.1f ms, Receive_Cmd %.1f ms, first bytes(5000) %.1f ms, "
                    "GetPrompt(5000) %.1f ms\n",
                    timed([&] { Read_Raw(9, &b, 1); }), timed([&] { Read_Until(9, reply, sizeof reply, 3000, 0, nullptr, '>'); }),
                    timed([&] { Receive_Cmd(9, reply, 1, 0, nullptr); }),
                    timed([&] { Read_Reply(9, reply, sizeof reply, 5000, UART_FLAG_FIRST_BYTES, nullptr); }),
                    timed([&] { TOV_GetPrompt(9, 5000, '>'); }));
        std::printf("not open: GetPrompt(5000) %.1f ms\n", timed([&] { TOV_GetPrompt(99, 5000, '>'); }));
    });
    on_pty([](PtyPeer& peer) {
        std::thread unplug([&] {
            std::this_thread::sleep_for(100ms);
            peer.close_master();
        });
        char reply[16];
        const double took = timed([&] { Read_Reply(9, reply, sizeof reply, 5000, UART_FLAG_FIRST_BYTES, nullptr); });
        unplug.join();
        std::printf("hang-up 100 ms into a 5000 ms first-bytes wait: returned %.1f ms after it\n", took - 100);
    });
    on_pty([](PtyPeer& peer) {
        std::thread far_end([&] {
            std::this_thread::sleep_for(50ms);
            peer.write("\x06");
        });
        char reply[16];
        const double took = timed([&] { Read_Reply(9, reply, sizeof reply, 5000, UART_FLAG_FIRST_BYTES, nullptr); });
        far_end.join();
        std::printf("first bytes: returned %.1f ms after a byte 50 ms into a 5000 ms wait\n", took - 50);
    });
    on_pty([](PtyPeer& peer) {
        steady_clock::time_point answered;
        std::thread far_end([&] {
            peer.read_until("ip\r", 2s);
            answered = steady_clock::now();
            peer.write("\r\nIP=10.0.0.1\r\nTQ318-5314A>");
        });
        char reply[1001];
        Exchange_Cmd(9, "ip", reply, sizeof reply, 1000, 0, nullptr, '>');
        const double after = ms_since(answered);
        far_end.join();
        std::printf("exchange: returned %.1f ms after the prompt was sent\n", after);
    });
    testing_support::TempDir config;
    std::filesystem::create_directories(config / "tq318");
    ::mkfifo((config / "tq318" / "ports").c_str(), 0600);
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    ::unsetenv("UART_COM5");
    char path[256];
    std::printf("mapping file a FIFO: lookup %.1f ms\n", timed([&] { Uart_Device_Path(5, path, sizeof path); }));
    ::unsetenv("XDG_CONFIG_HOME");
}

void simulator_figures() {
    tq318::Simulator sim;
    sim.start();
    if (!sim.wait_until_ready(5s)) {
        std::printf("the simulator did not start\n");
        return;
    }
    ComMapping mapping(22, sim.device_path());
    if (Open_Com(22, 115200, 8, 0, 0) != UART_OK) return;
    tq318::Faults faults;
    faults.text_after_prompt = " more";
    sim.set_faults(faults);
    char big[TOV_DIR_REPLY_MIN], value[TOV_VALUE_SIZE], set_ip[] = "10.0.0.7", free_text[TOV_FREE_TEXT_SIZE];
    char model[TOV_MODEL_SIZE], date[TOV_BUILD_DATE_SIZE], flash[TOV_FLASH_SIZE];
    int32_t a = 0, b = 0, c = 0, d = 0, count = 0, probe = 0;
    std::vector<std::array<char, TOV_DIR_WORD_SIZE>> words(4 * TOV_DIR_MAX_ENTRIES);
    std::vector<char*> p;
    for (auto& w : words) p.push_back(w.data());
    const int n = TOV_DIR_MAX_ENTRIES;
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"exchange", [&] { tovrane::exchange(22, "ip", big, 1000, '>'); }},
        {"get ip", [&] { TOV_Get_IP(22, value, big); }},
        {"set ip", [&] { TOV_Set_IP(22, set_ip, big); }},
        {"get mask", [&] { TOV_Get_Mask(22, value, big); }},
        {"get gateway", [&] { TOV_Get_Gateway(22, value, big); }},
        {"set com", [&] { TOV_Set_COM(22, 2, 9600, 8, 0, 1, big); }},
        {"get com", [&] { TOV_Get_COM(22, 1, &a, &b, &c, &d, big); }},
        {"get disk size", [&] { TOV_Get_DiskSize(22, &a, &b, big); }},
        {"dir", [&] { TOV_Dir_Tovrane(22, 'a', &count, &p[0], &p[n], &p[2 * n], &p[3 * n], big); }},
        {"free", [&] { TOV_Get_FreeSize(22, 'a', free_text, big); }},
        {"ver", [&] { TOV_Get_Tovrane_Version(22, model, date, flash, &probe, big); }},
    };
    std::printf("text after the prompt:");
    std::fflush(stdout);
    for (const auto& [name, call] : calls) std::printf(" %s %.0f ms,", name, timed(call));
    testing_support::TempDir dir;
    testing_support::write_file(dir / "f.bin", std::string(300, 'x'));
    const double load = timed([&] { TOV_Load_File(22, (dir / "f.bin").c_str(), 'a', nullptr, 0, big); });
    std::printf("\ntext after the prompt: load (final wait 1000 ms) %.0f ms\n", load);
    Close_Com(22);
}

}  // namespace

int main() {
    pty_figures();
    simulator_figures();
    return 0;
}
