// CRC-16/XMODEM (polynomial 0x1021, initial 0, no reflection, no final XOR)
// for the transfer blocks, table-driven.
#include <array>
#include <cstdint>

#include "block.h"
#include "tovrane.h"

namespace {
constexpr std::uint16_t kPolynomial = 0x1021;
std::array<std::uint16_t, 256> g_table{};
bool g_table_built = false;
}  // namespace

extern "C" TOV_API uint16_t TOV_CALL MakeCRC16Table(void) {
    if (g_table_built) return 0;
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t crc = 0;
        std::uint16_t d = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            if ((crc ^ d) & 0x8000u) {
                crc = static_cast<std::uint16_t>((crc << 1) ^ kPolynomial);
            } else {
                crc = static_cast<std::uint16_t>(crc << 1);
            }
            d = static_cast<std::uint16_t>(d << 1);
        }
        g_table[i] = crc;
    }
    g_table_built = true;
    return 1;
}

extern "C" TOV_API uint16_t TOV_CALL GetCRC16(const uint8_t* data, uint32_t count) {
    std::uint16_t crc = 0;
    if (data == nullptr) return crc;
    for (std::uint32_t i = 0; i < count; ++i) {
        crc = static_cast<std::uint16_t>(g_table[((crc >> 8) ^ data[i]) & 0xFFu] ^ (crc << 8));
    }
    return crc;
}

namespace tovrane {

std::uint16_t crc16_update(std::uint16_t crc, std::span<const std::uint8_t> data) {
    MakeCRC16Table();
    for (const std::uint8_t byte : data) {
        crc = static_cast<std::uint16_t>(g_table[((crc >> 8) ^ byte) & 0xFFu] ^ (crc << 8));
    }
    return crc;
}

}  // namespace tovrane
