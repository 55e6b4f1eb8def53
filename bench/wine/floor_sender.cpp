// The floor for the Wine comparison: the same paced transfer as load_bench
// ("load", the header block, the data blocks, one answer byte each) through
// the plainest Win32 serial code there is: blocking WriteFile of each
// 260-byte block, ReadFile of the one-byte answer under time-outs that return
// on the first byte. Only the block format is the library's. Prints the same
// line as load_bench; asserts nothing.
//   floor_sender PORT FILE
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "block.h"

namespace {

bool send(HANDLE port, const void* bytes, DWORD count) {
    DWORD done = 0;
    return ::WriteFile(port, bytes, count, &done, nullptr) && done == count;
}

// One byte within the read time-out; 0 when none came.
int read_byte(HANDLE port) {
    unsigned char byte = 0;
    DWORD got = 0;
    if (!::ReadFile(port, &byte, 1, &got, nullptr) || got != 1) return -1;
    return byte;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tovrane;
    if (argc != 3) {
        std::fprintf(stderr, "usage: floor_sender PORT FILE\n");
        return 2;
    }
    const std::string device = "\\\\.\\COM" + std::string(argv[1]);
    HANDLE port = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(argv[2], "rb"), &std::fclose);
    if (port == INVALID_HANDLE_VALUE || !file) return 1;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(port, &dcb);
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 3000, 0, 0};
    if (!::SetCommState(port, &dcb) || !::SetCommTimeouts(port, &timeouts)) return 1;
    ::PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);

    std::fseek(file.get(), 0, SEEK_END);
    const auto size = static_cast<std::uint32_t>(std::ftell(file.get()));
    std::rewind(file.get());
    const auto t0 = std::chrono::steady_clock::now();
    if (!send(port, "load\r", 5)) return 1;
    for (int i = 0; i < 4096; ++i) {  // the console's answer ends with '!'
        const int c = read_byte(port);
        if (c < 0) return 1;
        if (c == '!') break;
    }
    Block block{};
    HeaderRecord record;
    record.name = "bench.bin";
    record.size = size;
    BuildHeaderBlock(block, record);
    const std::uint32_t blocks = (size + kPayloadSize - 1) / kPayloadSize;
    for (std::uint32_t n = 0; n <= blocks; ++n) {
        if (n > 0 && ReadDataBlock(block, file.get()) == 0) return 1;
        if (!send(port, block.data(), kBlockSize) || read_byte(port) != kAck) {
            std::printf("block %u not acknowledged\n", n);
            return 1;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ::CloseHandle(port);
    const double rate = static_cast<double>(size) / seconds;
    std::printf("%u bytes in %.2f s: %.0f B/s, %.1f%% of 11520 B/s\n", size, seconds, rate, 100.0 * rate / 11520.0);
    return 0;
}
