// The firmware package's 50-byte authentication record ("auth.key") and its
// two checks. Offsets: 5 and 20 hold the program file's CRC-16/MODBUS (low
// byte, high byte); 48 and 49 the CRC-16/MODBUS of bytes 0 to 47 (low, high).
// Bytes after the fiftieth are ignored. A record shorter than 50 bytes fails
// both checks: missing bytes are not made up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "modbus_crc.h"

namespace tq318::repair {

inline constexpr std::size_t kAuthRecordSize = 50;
inline constexpr std::size_t kAuthRecordSummed = 48;
inline constexpr std::size_t kProgramCrcLowOffset = 5;
inline constexpr std::size_t kProgramCrcHighOffset = 20;
inline constexpr std::size_t kRecordCrcLowOffset = 48;
inline constexpr std::size_t kRecordCrcHighOffset = 49;

// The record check against the registers of a sum over its first 48 bytes.
bool recordChecksumMatches(std::span<const uint8_t> record, CrcRegisters sumOfFirst48);

// The program-file check against the registers of a sum over the whole file.
bool programChecksumMatches(std::span<const uint8_t> record, CrcRegisters sumOfProgram);

// Both checks in one, without yielding (for small files and tests).
bool recordIsGenuine(const CrcTables& tables, std::span<const uint8_t> record);
bool packageIsAuthentic(const CrcTables& tables, std::span<const uint8_t> record, std::span<const uint8_t> program);

}  // namespace tq318::repair
