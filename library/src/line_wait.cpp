#include "line_wait.h"

#include <array>
#include <cstring>

#include "uart.h"

namespace tovrane {

namespace {
// What one read may take; the layer writes a NUL after the bytes.
constexpr std::size_t kChunk = 1024;
}  // namespace

std::int32_t wait_for_bytes(std::uint8_t port, std::span<char> into, std::uint32_t timeout_ms) {
    if (into.empty()) return 0;
    std::array<char, kChunk + 1> chunk{};
    const std::size_t want = into.size() < kChunk ? into.size() : kChunk;
    std::uint16_t count = 0;
    const std::uint16_t r = Read_Reply(port, chunk.data(), static_cast<std::uint32_t>(want + 1), timeout_ms,
                                       UART_FLAG_FIRST_BYTES, &count);
    if (r == UART_ERR_TIMEOUT) return 0;
    if (r != UART_OK) return -static_cast<std::int32_t>(r);
    const std::size_t n = count < want ? count : want;
    std::memcpy(into.data(), chunk.data(), n);
    return static_cast<std::int32_t>(n);
}

std::int32_t wait_for_answer(std::uint8_t port, std::uint8_t& answer, std::uint32_t timeout_ms) {
    char byte = 0;
    const std::int32_t n = wait_for_bytes(port, std::span(&byte, 1), timeout_ms);
    if (n > 0) answer = static_cast<std::uint8_t>(byte);
    return n;
}

std::uint32_t read_until_quiet(std::uint8_t port, std::span<char> into, std::uint32_t quiet_ms) {
    std::size_t total = 0;
    while (total < into.size()) {
        const std::int32_t n = wait_for_bytes(port, into.subspan(total), quiet_ms);
        if (n <= 0) break;
        total += static_cast<std::size_t>(n);
    }
    return static_cast<std::uint32_t>(total);
}

}  // namespace tovrane
