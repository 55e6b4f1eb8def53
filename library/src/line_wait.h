// Every wait of the library for the controller: the thread sleeps in the
// kernel until a byte arrives or the wait ends (the serial layer's
// UART_FLAG_FIRST_BYTES read), instead of polling Read_Raw.
#pragma once

#include <cstdint>
#include <span>

namespace tovrane {

// Waits up to timeout_ms for bytes and stores those waiting, at most
// into.size(); bytes beyond that stay on the line. Returns their number,
// 0 when none came, or minus the serial layer's code when the read failed
// (-UART_ERR_HANGUP: the serial adapter was disconnected).
std::int32_t wait_for_bytes(std::uint8_t port, std::span<char> into, std::uint32_t timeout_ms);

// The answer to a block: one byte within timeout_ms. Same results as
// wait_for_bytes with room for one byte.
std::int32_t wait_for_answer(std::uint8_t port, std::uint8_t& answer, std::uint32_t timeout_ms);

// Takes into `into` what arrives until the line has been quiet for quiet_ms
// or `into` is full; returns the number of bytes (a failed read ends it).
std::uint32_t read_until_quiet(std::uint8_t port, std::span<char> into, std::uint32_t quiet_ms);

}  // namespace tovrane
