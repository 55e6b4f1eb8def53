// Console file transfer: header and data blocks, their answers, and storing.
#include <algorithm>

#include "console.h"
#include "console_text.h"
#include "crc16.h"

namespace tq318::sim {

void Console::begin_transfer(Target target, Millis now) {
  mode_ = Mode::transfer;
  transfer_ = Transfer{};
  transfer_.target = target;
  transfer_.last_activity = now;
  assembler_.reset();
  blocks_.clear();
  reply(kReadyToReceive, false);
}

void Console::answer(std::uint8_t byte, bool hang_up_after) {
  schedule(0, std::string(1, static_cast<char>(byte)));
  if (hang_up_after && !steps_.empty()) steps_.back().hang_up = true;
}

bool Console::chance(double rate) {
  return rate > 0.0 && std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < rate;
}

void Console::take_block(const BlockBytes& block) {
  if (faults_.silent) return;  // a silent controller answers no block, and waits for it again
  ++transfer_.tries;
  const int n = transfer_.block;
  if (n == faults_.swallow_block && transfer_.tries <= faults_.swallow_times) return;
  if (chance(faults_.swallow_rate)) return;
  if (n == faults_.other_byte_block) return answer(faults_.other_byte);
  const std::size_t max_length = n == 0 ? kHeaderLength : kPayloadSize;
  if (check_block(block, max_length) != BlockCheck::good) return answer(kNak);
  if (n == faults_.nak_block && transfer_.tries <= faults_.nak_times) return answer(kNak);
  if (chance(faults_.nak_rate)) return answer(kNak);
  if (!(n == 0 ? accept_header(block) : accept_data(block))) return;
  if (blocks_.size() < kMaxRecordedBlocks) blocks_.push_back(block);
  // A lost answer: the block is taken as usual, only its ACK never reaches the sender.
  bool lose = chance(faults_.lose_ack_rate);
  if (n == faults_.lose_ack_block && lost_acks_ < faults_.lose_ack_times) {
    ++lost_acks_;
    lose = true;
  }
  if (!lose) answer(kAck, n == faults_.hangup_after_block);
  transfer_.block = n + 1;
  transfer_.tries = 0;
  if (transfer_.data.size() == transfer_.header.size) finish_transfer();
}

// Returns true when the header is taken and should be acknowledged; otherwise
// it has answered (or ended the transfer) itself.
bool Console::accept_header(const BlockBytes& block) {
  const std::uint16_t length = block_length(block);
  if (length == 0) {  // "no file": acknowledge and go back to the prompt
    answer(kAck);
    mode_ = Mode::command;
    reply("");
    return false;
  }
  if (length != kHeaderLength) {
    answer(kNak);
    return false;
  }
  FileHeader header = parse_header(block);
  if (!valid_file_name(header.name)) {
    mode_ = Mode::command;
    reply("\r\nInvalid file name");
    return false;
  }
  if (transfer_.target == Target::image) {
    if (header.size > kMaxImage) {
      mode_ = Mode::command;
      reply("\r\nImage too large (" + std::to_string(header.size) + " bytes, max " + std::to_string(kMaxImage) + ")");
      return false;
    }
  } else {
    const FlashDisk& d = disk(transfer_.target == Target::disk_b ? 'B' : 'A');
    const std::uint64_t need = FlashDisk::space_for(header.size);
    const std::uint64_t free = d.free_replacing(header.name);
    if (need > free) {
      mode_ = Mode::command;
      reply(not_enough_space_text(d.letter(), need, free));
      return false;
    }
  }
  transfer_.header = std::move(header);
  transfer_.data.clear();
  transfer_.data.reserve(std::min<std::size_t>(transfer_.header.size, std::size_t{1} << 20));
  return true;
}

bool Console::accept_data(const BlockBytes& block) {
  const std::uint16_t length = block_length(block);
  if (length == 0) {  // a data block carries at least one byte
    answer(kNak);
    return false;
  }
  const std::size_t remaining = transfer_.header.size - transfer_.data.size();
  const std::size_t take = std::min<std::size_t>(length, remaining);
  transfer_.data.insert(transfer_.data.end(), block.begin() + 2, block.begin() + 2 + static_cast<std::ptrdiff_t>(take));
  return true;
}

void Console::finish_transfer() {
  mode_ = Mode::command;
  Transfer done = std::exchange(transfer_, Transfer{});
  const std::size_t size = done.data.size();
  if (done.target == Target::image) {
    const std::uint16_t crc = crc16_xmodem(done.data);
    last_image_ = std::move(done.data);
    image_in_memory_ = true;
    if (faults_.upload_report)
      return reply_raw(fill_answer(*faults_.upload_report, {prompt(), size, crc}));
    return reply(image_report_text(size, crc));
  }
  StoredFile file;
  file.name = done.header.name;
  file.data = std::move(done.data);
  if (!faults_.store_short_name.empty() && file.name == faults_.store_short_name)
    file.data.resize(file.data.size() - std::min(faults_.store_short_by, file.data.size()));
  file.year = static_cast<std::uint16_t>(std::min(done.header.year_offset + 1980, 65535));
  file.month = done.header.month;
  file.day = done.header.day;
  file.hour = done.header.hour;
  file.minute = done.header.minute;
  file.seconds2 = done.header.seconds2;
  disk(done.target == Target::disk_b ? 'B' : 'A').store(std::move(file));
  reply("\r\nFile " + done.header.name + " saved, " + std::to_string(size) + " bytes");
}

}  // namespace tq318::sim
