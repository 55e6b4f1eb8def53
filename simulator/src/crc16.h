// CRC-16/XMODEM as the transfer blocks carry it: polynomial 0x1021, initial
// value 0, most significant bit first, no final XOR ("123456789" -> 0x31C3).
#pragma once

#include <cstdint>
#include <span>

namespace tq318::sim {

std::uint16_t crc16_xmodem(std::span<const std::uint8_t> bytes);

}  // namespace tq318::sim
