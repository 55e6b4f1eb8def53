#include <gtest/gtest.h>

#include <string_view>

#include "block.h"
#include "block_assembler.h"
#include "crc16.h"

namespace tq318::sim {
namespace {

std::span<const std::uint8_t> bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(Crc16, CatalogueCheckValue) { EXPECT_EQ(crc16_xmodem(bytes("123456789")), 0x31C3); }

TEST(Crc16, EmptyIsZeroAndSingleBytesFollowTheTable) {
  EXPECT_EQ(crc16_xmodem({}), 0);
  const std::uint8_t one[] = {1};
  const std::uint8_t ff[] = {0xFF};
  EXPECT_EQ(crc16_xmodem(one), 0x1021);
  EXPECT_EQ(crc16_xmodem(ff), 0x1EF0);
}

TEST(Block, MadeBlockChecksGoodWithLengthLsbFirstAndCrcMsbFirst) {
  const std::uint8_t payload[] = {'a', 'b', 'c'};
  const BlockBytes b = make_block(payload);
  EXPECT_EQ(b[0], 3);
  EXPECT_EQ(b[1], 0);
  EXPECT_EQ(block_length(b), 3);
  const std::uint16_t crc = crc16_xmodem(std::span<const std::uint8_t>(b.data(), 258));
  EXPECT_EQ(b[258], crc >> 8);
  EXPECT_EQ(b[259], crc & 0xFF);
  EXPECT_EQ(check_block(b, 256), BlockCheck::good);
}

TEST(Block, AnyFlippedBitFailsTheCrc) {
  const BlockBytes good = make_block(std::vector<std::uint8_t>(256, 0x5A));
  for (std::size_t i : {0u, 1u, 2u, 100u, 257u, 258u, 259u}) {
    BlockBytes bad = good;
    bad[i] ^= 0x01;
    EXPECT_EQ(check_block(bad, 256), BlockCheck::bad_crc) << "byte " << i;
  }
}

TEST(Block, LengthOverTheLimitIsBadLength) {
  EXPECT_EQ(check_block(make_block({}, 257), 256), BlockCheck::bad_length);
  EXPECT_EQ(check_block(make_block({}, 30), 29), BlockCheck::bad_length);
  EXPECT_EQ(check_block(make_block({}, 29), 29), BlockCheck::good);
}

TEST(Block, HeaderRoundTrip) {
  FileHeader h;
  h.name = "tq318.exe";
  h.size = 0x01020304;
  h.year_offset = 46;
  h.month = 12;
  h.day = 6;
  h.hour = 23;
  h.minute = 59;
  h.seconds2 = 29;
  const BlockBytes b = make_header_block(h);
  EXPECT_EQ(block_length(b), 29);
  EXPECT_EQ(b[2 + 13], 0x04);  // size LSB first
  EXPECT_EQ(b[2 + 16], 0x01);
  const FileHeader back = parse_header(b);
  EXPECT_EQ(back.name, "tq318.exe");
  EXPECT_EQ(back.size, 0x01020304u);
  EXPECT_EQ(back.year_offset, 46);
  EXPECT_EQ(back.month, 12);
  EXPECT_EQ(back.day, 6);
  EXPECT_EQ(back.hour, 23);
  EXPECT_EQ(back.minute, 59);
  EXPECT_EQ(back.seconds2, 29);
}

TEST(Block, HeaderNameWithoutNulStopsAtThirteenBytes) {
  std::vector<std::uint8_t> rec(29, 'x');
  EXPECT_EQ(parse_header(make_block(rec)).name, std::string(13, 'x'));
}

TEST(Block, FileNames) {
  EXPECT_TRUE(valid_file_name("tq318.exe"));
  EXPECT_TRUE(valid_file_name("abcdefghijkl"));
  EXPECT_FALSE(valid_file_name(""));
  EXPECT_FALSE(valid_file_name("abcdefghijklm"));
  EXPECT_FALSE(valid_file_name(".."));
  EXPECT_FALSE(valid_file_name("."));
  EXPECT_FALSE(valid_file_name("a/b"));
  EXPECT_FALSE(valid_file_name("a\\b"));
  EXPECT_FALSE(valid_file_name("a b"));
  EXPECT_FALSE(valid_file_name("a\x01"));
}

TEST(BlockAssembler, CompletesAt260Bytes) {
  BlockAssembler a;
  const BlockBytes b = make_block(std::vector<std::uint8_t>(10, 7));
  for (std::size_t i = 0; i + 1 < kBlockSize; ++i) EXPECT_FALSE(a.push(b[i], 100));
  const auto done = a.push(b[259], 100);
  ASSERT_TRUE(done);
  EXPECT_EQ(*done, b);
  EXPECT_EQ(a.pending(), 0u);
}

TEST(BlockAssembler, AQuietGapDropsAPartialBlock) {
  BlockAssembler a;
  for (int i = 0; i < 100; ++i) a.push(0xEE, 100);
  EXPECT_EQ(a.pending(), 100u);
  const BlockBytes b = make_block(std::vector<std::uint8_t>(3, 1));
  std::optional<BlockBytes> done;
  for (std::size_t i = 0; i < kBlockSize; ++i) done = a.push(b[i], 100 + BlockAssembler::kGapResetMs + 1);
  ASSERT_TRUE(done);
  EXPECT_EQ(*done, b);
}

}  // namespace
}  // namespace tq318::sim
