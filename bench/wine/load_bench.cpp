// One TOV_Load_File of a file, timed: prints the size, the seconds and the
// rate against the 115200 baud 8N1 link limit (11520 B/s). Built for Linux
// and for Windows (run under Wine) alike; asserts nothing.
//   load_bench PORT FILE
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "tovrane.h"
#include "uart.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: load_bench PORT FILE\n");
        return 2;
    }
    const int port_number = std::atoi(argv[1]);
    if (port_number < 1 || port_number > 255) return 2;
    const auto port = static_cast<uint8_t>(port_number);
    std::error_code ec;
    const auto size = std::filesystem::file_size(argv[2], ec);
    if (ec) {
        std::fprintf(stderr, "load_bench: %s: %s\n", argv[2], ec.message().c_str());
        return 2;
    }
    if (const uint16_t open = Open_Com(port, 115200, 8, 0, 0); open != 0) {
        std::fprintf(stderr, "load_bench: Open_Com %u\n", open);
        return 1;
    }
    char reply[TOV_REPLY_MIN] = {};
    const auto t0 = std::chrono::steady_clock::now();
    const uint16_t code = TOV_Load_File(port, argv[2], 'A', "bench.bin", 0, reply);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    Close_Com(port);
    if (code != 0) {
        std::printf("TOV_Load_File failed: %u\n", code);
        return 1;
    }
    const double rate = static_cast<double>(size) / seconds;
    std::printf("%ju bytes in %.2f s: %.0f B/s, %.1f%% of 11520 B/s\n", static_cast<std::uintmax_t>(size), seconds,
                rate, 100.0 * rate / 11520.0);
    return 0;
}
