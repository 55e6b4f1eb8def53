// CRC-16/MODBUS as the firmware authentication uses it: two 256-entry tables
// and two byte registers. After a run `crcHi` holds the low-order byte of the
// CRC value (the byte Modbus transmits first) and `crcLo` the high-order byte.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>

namespace tq318::repair {

struct CrcTables {
    std::array<uint8_t, 256> hi{};  // low byte of the reflected-0xA001 table entry
    std::array<uint8_t, 256> lo{};  // high byte of it
};

struct CrcRegisters {
    uint8_t crcHi = 0xFF;
    uint8_t crcLo = 0xFF;
    // The CRC-16/MODBUS value: crcLo is its high byte.
    uint16_t value() const { return static_cast<uint16_t>((crcLo << 8) | crcHi); }
};

// Fills both tables from the published rule.
CrcTables makeCrcTables();

// How often a long sum hands control back: `yield` is called whenever at least
// `interval` of summing has passed since the start or since the last yield
// returned. The result does not depend on it.
struct CrcYield {
    std::function<void()> yield;
    std::chrono::nanoseconds interval = std::chrono::milliseconds(10);
};

// Sums `data` from the initial registers 0xFF, 0xFF.
CrcRegisters modbusCrc(const CrcTables& tables, std::span<const uint8_t> data, const CrcYield& yield = {});

}  // namespace tq318::repair
