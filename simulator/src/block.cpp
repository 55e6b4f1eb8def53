#include "block.h"

#include <algorithm>

#include "crc16.h"

namespace tq318::sim {
namespace {

std::uint16_t read_u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

void write_u16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v & 0xFF);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void seal(BlockBytes& block) {
  const std::uint16_t crc = crc16_xmodem(std::span<const std::uint8_t>(block.data(), kBlockSize - 2));
  block[258] = static_cast<std::uint8_t>(crc >> 8);
  block[259] = static_cast<std::uint8_t>(crc & 0xFF);
}

}  // namespace

std::uint16_t block_length(const BlockBytes& block) { return read_u16(block.data()); }

BlockCheck check_block(const BlockBytes& block, std::size_t max_length) {
  const std::uint16_t crc = crc16_xmodem(std::span<const std::uint8_t>(block.data(), kBlockSize - 2));
  const std::uint16_t sent = static_cast<std::uint16_t>((block[258] << 8) | block[259]);
  if (crc != sent) return BlockCheck::bad_crc;
  if (block_length(block) > max_length) return BlockCheck::bad_length;
  return BlockCheck::good;
}

FileHeader parse_header(const BlockBytes& block) {
  const std::uint8_t* p = block.data() + 2;
  FileHeader h;
  const auto* name_end = std::find(p, p + kNameField, std::uint8_t{0});
  h.name.assign(p, name_end);
  h.size = static_cast<std::uint32_t>(p[13]) | (static_cast<std::uint32_t>(p[14]) << 8) |
           (static_cast<std::uint32_t>(p[15]) << 16) | (static_cast<std::uint32_t>(p[16]) << 24);
  h.year_offset = read_u16(p + 17);
  h.month = read_u16(p + 19);
  h.day = read_u16(p + 21);
  h.hour = read_u16(p + 23);
  h.minute = read_u16(p + 25);
  h.seconds2 = read_u16(p + 27);
  return h;
}

bool valid_file_name(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength || name == "." || name == "..") return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u != 0x7F && c != '/' && c != '\\';  // 8-bit bytes 0x80-0xFF allowed
  });
}

BlockBytes make_block(std::span<const std::uint8_t> payload, std::optional<std::uint16_t> length) {
  BlockBytes block{};
  const std::size_t n = std::min(payload.size(), kPayloadSize);
  std::copy_n(payload.begin(), n, block.begin() + 2);
  write_u16(block.data(), length.value_or(static_cast<std::uint16_t>(n)));
  seal(block);
  return block;
}

BlockBytes make_header_block(const FileHeader& header) {
  std::array<std::uint8_t, kHeaderLength> rec{};
  std::copy_n(header.name.begin(), std::min(header.name.size(), kNameField - 1), rec.begin());
  for (int i = 0; i < 4; ++i) rec[13 + i] = static_cast<std::uint8_t>(header.size >> (8 * i));
  write_u16(rec.data() + 17, header.year_offset);
  write_u16(rec.data() + 19, header.month);
  write_u16(rec.data() + 21, header.day);
  write_u16(rec.data() + 23, header.hour);
  write_u16(rec.data() + 25, header.minute);
  write_u16(rec.data() + 27, header.seconds2);
  return make_block(rec);
}

}  // namespace tq318::sim
