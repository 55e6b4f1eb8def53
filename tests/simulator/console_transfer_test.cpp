#include <gtest/gtest.h>

#include "console_harness.h"
#include "crc16.h"

namespace tq318::sim::testing {
namespace {

// Sends a whole file after `command`; returns everything printed after the
// "Ready" line, checking each block is acknowledged.
std::string send_file(ConsoleHarness& h, const std::string& command, const FileHeader& header,
                      const std::vector<std::uint8_t>& data) {
  EXPECT_EQ(h.send(command + "\r"), "\r\nReady to receive file !");
  EXPECT_EQ(h.send(make_header_block(header)), data.empty() ? ack() + "\r\nFile " + header.name + " saved, 0 bytes" + kPrompt : ack());
  std::string last;
  const auto blocks = data_blocks(data);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    last = h.send(blocks[i]);
    if (i + 1 < blocks.size()) {
      EXPECT_EQ(last, ack()) << "block " << i + 1;
    }
  }
  return last;
}

TEST(ConsoleTransfer, FileIsStoredByteIdenticalWithItsDate) {
  ConsoleHarness h;
  const auto data = pattern(1000);
  const std::string end = send_file(h, "load", header_for("tq318.exe", 1000), data);
  EXPECT_EQ(end, ack() + "\r\nFile tq318.exe saved, 1000 bytes" + kPrompt);
  const auto& files = h.console.disk('A').files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].name, "tq318.exe");
  EXPECT_EQ(files[0].data, data);
  EXPECT_EQ(files[0].year, 2026);
  EXPECT_EQ(files[0].month, 12);
  EXPECT_EQ(files[0].seconds2, 28);
  EXPECT_TRUE(h.console.disk('B').files().empty());
  ASSERT_EQ(h.console.received_blocks().size(), 5u);  // header + 4 data blocks
  EXPECT_EQ(parse_header(h.console.received_blocks()[0]).name, "tq318.exe");
  EXPECT_TRUE(h.console.ready());
}

TEST(ConsoleTransfer, ExactMultipleOf256AndEmptyFiles) {
  ConsoleHarness h;
  EXPECT_EQ(send_file(h, "loadb", header_for("x.bin", 512), pattern(512)),
            ack() + "\r\nFile x.bin saved, 512 bytes" + kPrompt);
  send_file(h, "loadb", header_for("empty", 0), {});
  ASSERT_EQ(h.console.disk('B').files().size(), 2u);
  EXPECT_TRUE(h.console.disk('B').files()[1].data.empty());
}

TEST(ConsoleTransfer, LoadfirmwareGoesToDiskBUnlessModeCodeIsMS) {
  SimulatorOptions o;
  o.mode_code = "SL";
  ConsoleHarness slave(o);
  send_file(slave, "loadfirmware", header_for("fw", 10), pattern(10));
  EXPECT_EQ(slave.console.disk('B').files().size(), 1u);
  ConsoleHarness master;
  send_file(master, "loadfirmware", header_for("fw", 10), pattern(10));
  EXPECT_EQ(master.console.disk('A').files().size(), 1u);
  ConsoleHarness r;
  send_file(r, "loadr", header_for("r", 10), pattern(10));
  EXPECT_EQ(r.console.disk('A').files().size(), 1u);
}

TEST(ConsoleTransfer, BadCrcAndBadLengthAreRefusedThenAGoodBlockGoesOn) {
  ConsoleHarness h;
  h.send("load\r");
  BlockBytes header = make_header_block(header_for("a", 300));
  BlockBytes broken = header;
  broken[10] ^= 0xFF;
  EXPECT_EQ(h.send(broken), nak());
  EXPECT_EQ(h.send(make_block(std::vector<std::uint8_t>(30, 'a'))), nak());  // header longer than 29
  EXPECT_EQ(h.send(make_block(std::vector<std::uint8_t>(28, 'a'))), nak());  // header shorter than 29
  EXPECT_EQ(h.send(header), ack());
  const auto data = pattern(300);
  auto blocks = data_blocks(data);
  EXPECT_EQ(h.send(make_block({}, 257)), nak());
  EXPECT_EQ(h.send(make_block({})), nak());  // a data block without data
  BlockBytes bad = blocks[0];
  bad[259] ^= 1;
  EXPECT_EQ(h.send(bad), nak());
  EXPECT_EQ(h.send(blocks[0]), ack());
  EXPECT_EQ(h.send(blocks[1]), ack() + "\r\nFile a saved, 300 bytes" + kPrompt);
  EXPECT_EQ(h.console.disk('A').files()[0].data, data);
}

TEST(ConsoleTransfer, NoFileHeaderIsAcknowledgedAndEndsAtThePrompt) {
  ConsoleHarness h;
  h.send("load\r");
  EXPECT_EQ(h.send(make_block({}, 0)), ack() + kPrompt);
  EXPECT_TRUE(h.console.ready());
  EXPECT_TRUE(h.console.disk('A').files().empty());
}

TEST(ConsoleTransfer, NotEnoughSpaceAnswersInsteadOfAck) {
  SimulatorOptions o;
  o.disk_a_kib = 1;
  ConsoleHarness h(o);
  h.send("load\r");
  EXPECT_EQ(h.send(make_header_block(header_for("big", 1025))),
            "\r\nNOT enough space on disk A (need 1280, free 1024)" + kPrompt);
  EXPECT_TRUE(h.console.ready());
  // A file that replaces one of the same name may use that file's space.
  send_file(h, "load", header_for("big", 1000), pattern(1000));
  EXPECT_EQ(send_file(h, "load", header_for("big", 1024), pattern(1024)),
            ack() + "\r\nFile big saved, 1024 bytes" + kPrompt);
  h.send("load\r");
  EXPECT_EQ(h.send(make_header_block(header_for("other", 1))),
            "\r\nNOT enough space on disk A (need 256, free 0)" + kPrompt);
}

TEST(ConsoleTransfer, BadFileNamesAreRefused) {
  ConsoleHarness h;
  h.send("load\r");
  EXPECT_EQ(h.send(make_header_block(header_for("../x", 1))), "\r\nInvalid file name" + kPrompt);
  h.send("load\r");
  EXPECT_EQ(h.send(make_header_block(header_for("", 1))), "\r\nInvalid file name" + kPrompt);
}

TEST(ConsoleTransfer, UploadReportsTheImageCrcAndBios1InstallsIt) {
  ConsoleHarness h;
  EXPECT_EQ(h.send("bios1\r"), std::string("\r\nNo OS image in memory, please uplo") + kPrompt);
  const auto image = pattern(700);
  char crc[5];
  std::snprintf(crc, sizeof crc, "%04X", crc16_xmodem(image));
  EXPECT_EQ(send_file(h, "upload", header_for("os.img", 700), image),
            ack() + "\r\nImage received, 700 bytes, CRC16=" + crc + kPrompt);
  ASSERT_TRUE(h.console.last_image());
  EXPECT_EQ(*h.console.last_image(), image);
  EXPECT_TRUE(h.console.disk('A').files().empty());
  EXPECT_FALSE(h.console.image_installed());
  h.console.feed(std::string_view("bios1\r\0", 7), h.now);
  EXPECT_EQ(h.console.take_output(h.now), "\r\nInstalling image ... done.");
  EXPECT_EQ(h.wait(299), "");
  EXPECT_EQ(h.wait(1), "\r\nTovrane image installed" + kPrompt);
  EXPECT_TRUE(h.console.image_installed());
  // The image lives in RAM: after a restart bios1 has nothing to install.
  h.boot();
  EXPECT_EQ(h.send("bios1\r").size(), 50u);
  EXPECT_TRUE(h.console.last_image());
}

TEST(ConsoleTransfer, OversizedImageIsRefused) {
  ConsoleHarness h;
  h.send("upload\r");
  const std::string out = h.send(make_header_block(header_for("os.img", Console::kMaxImage + 1)));
  EXPECT_TRUE(out.starts_with("\r\nImage too large")) << out;
  EXPECT_TRUE(h.console.ready());
}

TEST(ConsoleTransfer, TenSilentSecondsAbandonTheTransfer) {
  ConsoleHarness h;
  h.send("load\r");
  h.send(make_header_block(header_for("a", 600)));
  h.send(data_blocks(pattern(600))[0]);
  EXPECT_EQ(h.wait(Console::kTransferTimeoutMs - 1), "");
  EXPECT_EQ(h.wait(1), kPrompt);
  EXPECT_TRUE(h.console.ready());
  EXPECT_TRUE(h.console.disk('A').files().empty());
}

TEST(ConsoleTransfer, APartialBlockIsDroppedAfterAQuietSecond) {
  ConsoleHarness h;
  h.send("load\r");
  const BlockBytes header = make_header_block(header_for("a", 5));
  h.console.feed(std::span<const std::uint8_t>(header.data(), 100), h.now);  // bytes lost on the way
  h.wait(BlockAssembler::kGapResetMs + 1);
  EXPECT_EQ(h.send(header), ack());
  EXPECT_EQ(h.send(data_blocks(pattern(5))[0]), ack() + "\r\nFile a saved, 5 bytes" + kPrompt);
}

TEST(ConsoleTransfer, BlocksSplitAcrossFeedsAreAssembled) {
  ConsoleHarness h;
  h.send("load\r");
  const BlockBytes header = make_header_block(header_for("a", 5));
  for (std::size_t i = 0; i < kBlockSize; i += 7) {
    const std::size_t n = std::min<std::size_t>(7, kBlockSize - i);
    h.console.feed(std::span<const std::uint8_t>(header.data() + i, n), h.now);
  }
  EXPECT_EQ(h.settle(), ack());
}

}  // namespace
}  // namespace tq318::sim::testing
