// The 260-byte transfer block and its 29-byte header record.
//
// Block: length (2 bytes, LSB first), 256 payload bytes, CRC-16/XMODEM over
// bytes 0..257 (MSB first). Header payload: name (13, NUL-terminated), size
// (4, LSB first), year-1980, month, day, hour, minute, seconds/2 (2 each, LSB first).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tq318::sim {

inline constexpr std::size_t kBlockSize = 260;
inline constexpr std::size_t kPayloadSize = 256;
inline constexpr std::size_t kHeaderLength = 29;
inline constexpr std::size_t kNameField = 13;
inline constexpr std::size_t kMaxNameLength = 12;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;

using BlockBytes = std::array<std::uint8_t, kBlockSize>;

enum class BlockCheck { good, bad_crc, bad_length };

// The length field of a block.
std::uint16_t block_length(const BlockBytes& block);
// Checks the CRC and that the length is at most max_length.
BlockCheck check_block(const BlockBytes& block, std::size_t max_length);

struct FileHeader {
  std::string name;
  std::uint32_t size = 0;
  std::uint16_t year_offset = 0;  // year - 1980
  std::uint16_t month = 1, day = 1, hour = 0, minute = 0, seconds2 = 0;
};

// Reads the header record from a block's payload. The name ends at the first
// NUL or after 13 bytes.
FileHeader parse_header(const BlockBytes& block);

// A name the disks accept: 1..12 printable characters, no path separators,
// not "." or "..".
bool valid_file_name(std::string_view name);

// Builds a block carrying `payload` (at most 256 bytes; the rest of the
// payload is zero). `length` overrides the length field when given.
BlockBytes make_block(std::span<const std::uint8_t> payload, std::optional<std::uint16_t> length = {});
BlockBytes make_header_block(const FileHeader& header);

}  // namespace tq318::sim
