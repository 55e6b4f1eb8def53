#include "crc16.h"

#include <array>

namespace tq318::sim {
namespace {

constexpr std::array<std::uint16_t, 256> make_table() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) : (crc << 1);
    table[i] = static_cast<std::uint16_t>(crc);
  }
  return table;
}

constexpr auto kTable = make_table();

}  // namespace

std::uint16_t crc16_xmodem(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0;
  for (std::uint8_t b : bytes) crc = static_cast<std::uint16_t>(kTable[((crc >> 8) ^ b) & 0xFF] ^ (crc << 8));
  return crc;
}

}  // namespace tq318::sim
