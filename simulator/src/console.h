// The controller's console as a pure state machine: fed the bytes that arrive
// on the line with their arrival time, it answers with the bytes to send, each
// due at a time of its own (boot pauses, slow replies). It does no I/O except
// through its flash disks, and keeps no clock: every call names the time.
//
// Use: feed(bytes, now); take_output(now) returns what is due by `now`;
// next_due() says when to call take_output again.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "block.h"
#include "block_assembler.h"
#include "flash_disk.h"
#include "settings.h"
#include "tq318/simulator.h"

namespace tq318::sim {

using Millis = std::uint64_t;

class Console {
 public:
  static constexpr std::size_t kMaxLine = 512;              // longer lines are cut
  static constexpr Millis kBootPauseMs = 100;
  static constexpr Millis kInstallPauseMs = 300;
  static constexpr Millis kTransferTimeoutMs = 10000;        // default of SimulatorOptions::transfer_timeout_ms
  static constexpr Millis kStreamIntervalMs = 20;
  static constexpr std::size_t kMaxImage = 16u << 20;        // upload refuses larger images
  static constexpr std::size_t kMaxPendingBytes = 4u << 20;  // replies beyond this backlog are dropped
  static constexpr std::size_t kMaxPendingSteps = 4096;
  static constexpr std::size_t kMaxFaultBytes = 1u << 20;    // cap on garbage and padding per reply
  static constexpr std::size_t kMaxLines = 100000;           // line log keeps the newest
  static constexpr std::size_t kMaxRecordedBlocks = 70000;

  enum class Mode { booting, password, command, confirm_delete, transfer };

  Console(SimulatorOptions options, Millis now);

  void power_restart(Millis now);
  void feed(std::span<const std::uint8_t> bytes, Millis now);
  void feed(std::string_view text, Millis now);
  std::string take_output(Millis now);
  std::optional<Millis> next_due() const;
  // When the next scheduled output is due (timers such as the transfer
  // time-out left out); nullopt when nothing is scheduled.
  std::optional<Millis> next_output_due() const;
  // Set once a fault asks for the line to be hung up; the driver then closes it.
  bool hang_up_requested() const { return hang_up_; }

  void set_faults(const Faults& faults) {
    faults_ = faults;
    lost_acks_ = 0;
  }
  const Faults& faults() const { return faults_; }
  const SimulatorOptions& options() const { return options_; }
  void set_model(std::string model) { options_.model = std::move(model); }
  void set_mode_code(std::string code) { options_.mode_code = std::move(code); }
  void set_password(std::optional<std::string> password) { options_.password = std::move(password); }
  void set_probe_data(std::string data) { options_.probe_data = std::move(data); }

  Mode mode() const { return mode_; }
  bool ready() const { return mode_ == Mode::command && steps_.empty(); }
  std::uint64_t boot_count() const { return boots_; }
  const std::deque<std::pair<Millis, std::string>>& lines() const { return lines_; }
  void clear_lines() { lines_.clear(); }

  FlashDisk& disk(char letter) { return (letter == 'b' || letter == 'B') ? disk_b_ : disk_a_; }
  const FlashDisk& disk(char letter) const { return (letter == 'b' || letter == 'B') ? disk_b_ : disk_a_; }
  const Settings& settings() const { return settings_; }
  const std::optional<std::vector<std::uint8_t>>& last_image() const { return last_image_; }
  bool image_in_memory() const { return image_in_memory_; }
  bool image_installed() const { return image_installed_; }
  const std::vector<BlockBytes>& received_blocks() const { return blocks_; }

 private:
  struct Step {
    Millis due = 0;
    std::string bytes;
    std::optional<Mode> then;  // mode entered once the bytes are out
    Millis stream_until = 0;   // >0: repeat `bytes` every kStreamIntervalMs until this time
    bool hang_up = false;
  };
  enum class Target { disk_a, disk_b, image };
  struct Transfer {
    Target target = Target::disk_a;
    int block = 0;   // number of the block expected next (0 = header)
    int tries = 0;   // tries of that block so far
    FileHeader header;
    std::vector<std::uint8_t> data;
    Millis last_activity = 0;
  };

  // Scheduling (console.cpp).
  void advance(Millis now);
  void schedule(Millis delay, std::string bytes, std::optional<Mode> then = {});
  void reply(std::string_view body, bool with_prompt = true, Millis extra_delay = 0);
  void reply_raw(std::string text);
  std::string prompt() const;
  std::string garbage(std::size_t n);

  // Lines (console.cpp).
  void take_byte(std::uint8_t byte, Millis now);
  void end_line(Millis now);
  void check_password(const std::string& line);
  void confirm_delete(const std::string& line);

  // Commands (console_commands.cpp).
  void run_command(const std::string& line, Millis now);
  void cmd_address(std::string_view word, std::string& value, std::string_view key,
                   const std::vector<std::string_view>& args);
  void cmd_setcom(const std::vector<std::string_view>& args);
  void cmd_disksize(const std::vector<std::string_view>& args);
  void cmd_bios1();

  // Transfers (console_transfer.cpp).
  void begin_transfer(Target target, Millis now);
  void take_block(const BlockBytes& block);
  bool accept_header(const BlockBytes& block);
  bool accept_data(const BlockBytes& block);
  void finish_transfer();
  void answer(std::uint8_t byte, bool hang_up_after = false);
  bool chance(double rate);

  SimulatorOptions options_;
  Faults faults_;
  Settings settings_;
  FlashDisk disk_a_;
  FlashDisk disk_b_;
  std::mt19937_64 rng_;

  Millis now_ = 0;
  Mode mode_ = Mode::command;
  std::deque<Step> steps_;
  std::size_t pending_bytes_ = 0;
  std::string out_;
  std::string line_;
  char delete_disk_ = 'A';
  Transfer transfer_;
  BlockAssembler assembler_;
  std::vector<BlockBytes> blocks_;
  std::optional<std::vector<std::uint8_t>> last_image_;
  bool image_in_memory_ = false;
  bool image_installed_ = false;
  bool hang_up_ = false;
  int lost_acks_ = 0;  // ACKs of faults_.lose_ack_block dropped since the faults were set
  std::uint64_t boots_ = 0;
  std::deque<std::pair<Millis, std::string>> lines_;
};

}  // namespace tq318::sim
