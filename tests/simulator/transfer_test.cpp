// File transfers to the disks and image uploads, on the console directly.
#include <cstdio>

#include "crc16.h"
#include "sim_test_support.h"

namespace tq318::sim::testing {
namespace {

// Sends `command` and then the blocks of a file; returns the answer to the last block.
std::string send_file(ConsoleHarness& h, const std::string& command, const FileHeader& header,
                      const std::vector<std::uint8_t>& data) {
  EXPECT_EQ(h.send(command + "\r"), "\r\nReady to receive file !");
  const auto blocks = file_blocks(header, data);
  for (std::size_t i = 0; i + 1 < blocks.size(); ++i) EXPECT_EQ(h.send(blocks[i]), kAckS) << "block " << i;
  return h.send(blocks.back());
}

struct TargetRow {
  const char *command, *mode_code;
  char disk;
};

TEST(Transfer, FileIsStoredByteIdenticalWithItsDateOnItsDisk) {
  for (const TargetRow row : {TargetRow{"load", "MS", 'A'}, {"loadr", "MS", 'A'}, {"loadb", "MS", 'B'},
                              {"loadfirmware", "MS", 'A'}, {"loadfirmware", "SL", 'B'}}) {
    SCOPED_TRACE(std::string(row.command) + " " + row.mode_code);
    ConsoleHarness h({.mode_code = row.mode_code});
    const auto data = pattern(1000);
    EXPECT_EQ(send_file(h, row.command, header_for("tq318.exe", 1000), data),
              kAckS + "\r\nFile tq318.exe saved, 1000 bytes" + kPrompt);
    const auto& files = h.console.disk(row.disk).files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0], (StoredFile{"tq318.exe", data, 2026, 12, 6, 12, 34, 28}));
    EXPECT_TRUE(h.console.disk(row.disk == 'A' ? 'B' : 'A').files().empty());
    ASSERT_EQ(h.console.received_blocks().size(), 5u);  // header + 4 data blocks
    EXPECT_EQ(h.console.received_blocks()[0], make_header_block(header_for("tq318.exe", 1000)));
    EXPECT_TRUE(h.console.ready());
  }
}

TEST(Transfer, BadCrcOrLengthIsRefusedWithNakAndTheGoodBlockGoesOn) {
  ConsoleHarness h;
  const auto data = pattern(300);
  const auto blocks = file_blocks(header_for("a", 300), data);
  auto flipped = [](BlockBytes b, std::size_t at) {
    b[at] ^= 0x01;
    return b;
  };
  const std::vector<BlockBytes> bad_headers{flipped(blocks[0], 10), flipped(blocks[0], 259),
                                            make_block(std::vector<std::uint8_t>(30, 'a')),
                                            make_block(std::vector<std::uint8_t>(28, 'a'))};
  const std::vector<BlockBytes> bad_data{flipped(blocks[1], 0), flipped(blocks[1], 258), make_block({}, 257),
                                         make_block({})};
  h.send("load\r");
  for (const auto& b : bad_headers) EXPECT_EQ(h.send(b), kNakS);
  EXPECT_EQ(h.send(blocks[0]), kAckS);
  for (const auto& b : bad_data) EXPECT_EQ(h.send(b), kNakS);
  EXPECT_EQ(h.send(blocks[1]), kAckS);
  EXPECT_EQ(h.send(blocks[2]), kAckS + "\r\nFile a saved, 300 bytes" + kPrompt);
  EXPECT_EQ(h.console.disk('A').files()[0].data, data);
  h.send("load\r");
  EXPECT_EQ(h.send(make_block({}, 0)), kAckS + kPrompt);  // a header of length 0: no file
  EXPECT_TRUE(h.console.ready());
}

TEST(Transfer, NotEnoughSpaceAnswersInsteadOfAck) {
  ConsoleHarness h({.disk_a_kib = 1});
  h.send("load\r");
  EXPECT_EQ(h.send(make_header_block(header_for("big", 1025))),
            "\r\nNOT enough space on disk A (need 1280, free 1024)" + kPrompt);
  EXPECT_TRUE(h.console.ready());
  // A file that replaces one of the same name may use that file's space.
  send_file(h, "load", header_for("big", 1000), pattern(1000));
  EXPECT_EQ(send_file(h, "load", header_for("big", 1024), pattern(1024)),
            kAckS + "\r\nFile big saved, 1024 bytes" + kPrompt);
  h.send("load\r");
  EXPECT_EQ(h.send(make_header_block(header_for("other", 1))),
            "\r\nNOT enough space on disk A (need 256, free 0)" + kPrompt);
}

TEST(Transfer, UploadReportsTheImageCrcAndBios1InstallsIt) {
  ConsoleHarness h;
  const auto image = pattern(700);
  char crc[5];
  std::snprintf(crc, sizeof crc, "%04X", crc16_xmodem(image));
  EXPECT_EQ(send_file(h, "upload", header_for("os.img", 700), image),
            kAckS + "\r\nImage received, 700 bytes, CRC16=" + crc + kPrompt);
  ASSERT_TRUE(h.console.last_image());
  EXPECT_EQ(*h.console.last_image(), image);
  EXPECT_TRUE(h.console.disk('A').files().empty());
  h.console.feed("bios1\r", h.now);
  EXPECT_EQ(h.console.take_output(h.now), "\r\nInstalling image ... done.");
  EXPECT_EQ(h.wait(299), "");
  EXPECT_EQ(h.wait(1), "\r\nTovrane image installed" + kPrompt);
  EXPECT_TRUE(h.console.image_installed());
  // The image lives in RAM: after a restart bios1 has nothing to install.
  h.boot();
  EXPECT_EQ(h.send("bios1\r").size(), 50u);
}

TEST(Transfer, SilenceAbandonsTheTransferAndAQuietGapDropsAPartialBlock) {
  ConsoleHarness h;
  const auto blocks = file_blocks(header_for("a", 600), pattern(600));
  h.send("load\r");
  h.console.feed(std::span<const std::uint8_t>(blocks[0].data(), 100), h.now);  // bytes lost on the way
  h.wait(BlockAssembler::kGapResetMs + 1);
  EXPECT_EQ(h.send(blocks[0]), kAckS);
  EXPECT_EQ(h.wait(Console::kTransferTimeoutMs - 1), "");
  EXPECT_EQ(h.wait(1), kPrompt);
  EXPECT_TRUE(h.console.ready());
  EXPECT_TRUE(h.console.disk('A').files().empty());
}

}  // namespace
}  // namespace tq318::sim::testing
