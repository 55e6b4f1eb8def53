// tq318/simulator.h - a simulated TQ-318 controller console on a pseudo-terminal.
//
// The simulator owns the master side of a pty and plays the controller's
// serial console there (see simulator/CONSOLE.md for every text it prints).
// The slave side (device_path()) is the "serial port" the kit opens.
//
// All members are thread-safe: one internal mutex guards the console state,
// and an internal I/O thread drives the pty between start() and stop().
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tq318 {

// One file on a flash disk. year is the calendar year (header year + 1980);
// month..minute as in the header; seconds2 is seconds divided by 2.
struct StoredFile {
  std::string name;
  std::vector<std::uint8_t> data;
  std::uint16_t year = 1980, month = 1, day = 1, hour = 0, minute = 0, seconds2 = 0;
  friend bool operator==(const StoredFile&, const StoredFile&) = default;
};

struct SimulatorOptions {
  std::string model = "TQ318-5314A";
  std::string mode_code = "MS";                // two characters, banner characters 21 and 22
  std::optional<std::string> password;         // nullopt: boot without a password prompt
  bool echo = false;                           // echo typed characters (for people at a terminal)
  std::uint32_t baud = 0;                      // pace output AND input at this line rate (10 bits a byte); 0 = unpaced
  std::uint32_t disk_a_kib = 1024, disk_b_kib = 3072;
  std::string flash_dir;                       // empty: disks in memory; else DIR/A and DIR/B
  int restart_after_open_ms = -1;              // play a power restart this long after the slave is opened; <0 off
  bool boot_on_start = false;                  // play the boot sequence when start() runs
  bool udp = false;                            // "ver" says Tovrane_UDP
  std::string probe_data = "50";               // "inp 30a" answers data=<probe_data>
  std::uint64_t seed = 1;                      // seeds the fault RNG (garbage bytes, NAK, loss rates)
  std::uint32_t transfer_timeout_ms = 10000;   // no byte for this long while receiving a file: it gives up
  // A USB serial adapter between the console and the pty: output reaches the
  // pty in pieces of at most adapter_packet bytes, a partial piece only
  // adapter_latency_ms after its first byte (0: no adapter, bytes pass at once).
  std::uint32_t adapter_latency_ms = 0;
  std::size_t adapter_packet = 62;
};

// Fault knobs: all off by default; settable at any time from another thread.
struct Faults {
  bool silent = false;                   // take commands (recorded), answer nothing
  std::size_t garbage_before_reply = 0;  // that many random non-prompt bytes before each reply
  std::string text_after_prompt;         // appended after every prompt
  std::size_t long_reply_bytes = 0;      // pad each command reply with this many characters before the prompt
  std::uint32_t reply_delay_ms = 0;      // slow replies
  std::uint32_t byte_stream_ms = 0;      // after a lone CR, send a non-prompt byte every 20 ms for this long, then the prompt
  int nak_block = -1;                    // NAK the first nak_times tries of block nak_block (0 = header)
  int nak_times = 0;
  double nak_rate = 0.0;                 // NAK any good block with this probability (seeded)
  int swallow_block = -1;                // send no answer to block n, the first swallow_times tries
  int swallow_times = 0;
  int lose_ack_block = -1;               // store block n but drop its ACK (the answer is lost, not the block),
  int lose_ack_times = 0;                //   the first lose_ack_times times since the faults were set
  double lose_ack_rate = 0.0;            // the same for any stored block, with this probability (seeded)
  double swallow_rate = 0.0;             // discard any block unanswered with this probability (seeded): it never arrived
  int other_byte_block = -1;             // answer block n with other_byte instead of ACK
  std::uint8_t other_byte = 'X';
  int hangup_after_block = -1;           // close the pty master right after acknowledging block n
  // Another controller's wording (CONSOLE.md, "Other wordings"): "{prompt}"
  // and, in the report, "{size}", "{crc}", "{wrong-crc}" are filled in.
  std::optional<std::string> bios1_answer;   // replace the whole answer to "bios1" (nothing is installed)
  std::optional<std::string> upload_report;  // replace the whole report after an upload
  std::vector<std::string> mute_commands;    // command words (lower case) taken but never answered; also the answer to "del"'s question ("y")
  std::string store_short_name;              // a file of this stored name keeps store_short_by fewer bytes,
  std::size_t store_short_by = 0;            // while "saved" reports the size received
};

// One COM port setting of the controller, as "setcom" shows it.
struct ComSetting {
  std::uint32_t baud = 115200;
  std::uint32_t data_bits = 8;
  std::uint32_t parity = 0;  // 0 n, 1 e, 2 o, 3 m, 4 s
  std::uint32_t stop_bits = 1;
  friend bool operator==(const ComSetting&, const ComSetting&) = default;
};

class Simulator {
 public:
  explicit Simulator(SimulatorOptions options = {});
  ~Simulator();  // stops
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Creates the pty (if not yet created) and starts the I/O thread. Throws
  // std::system_error when no pty can be had. Calling it twice is harmless.
  void start();
  // Stops the I/O thread and closes the master. The device path then vanishes.
  void stop();

  const std::string& device_path() const;  // the slave path, e.g. /dev/pts/5 (valid once the constructor ran)

  void restart();   // play a power restart now
  void hang_up();   // close the master now: the slave sees EIO/POLLHUP; the simulator stays dead until stop()

  void set_faults(const Faults& faults);
  Faults faults() const;

  // Settings that take effect at once (the next prompt or banner uses them).
  void set_model(const std::string& model);
  void set_mode_code(const std::string& mode_code);
  void set_password(const std::optional<std::string>& password);  // used from the next restart
  void set_probe_data(const std::string& data);
  SimulatorOptions options() const;

  // Every console line received, in order (password and confirmation answers
  // included; a lone CR is an empty line). Transfer blocks are not lines.
  std::vector<std::string> received_lines() const;
  // The same, each with the steady-clock time it completed, in milliseconds
  // since the steady clock's epoch.
  std::vector<std::pair<std::uint64_t, std::string>> received_lines_timed() const;
  void clear_received_lines();
  // Waits until a line equal to `line` has been received (at any time since the
  // start or the last clear); false after `limit`.
  bool wait_for_line(std::string_view line, std::chrono::milliseconds limit) const;
  // Waits until the console is at its prompt (boot finished, no transfer); false after `limit`.
  bool wait_until_ready(std::chrono::milliseconds limit) const;
  // Waits until the slave side is open (true) or closed (false), seen by the I/O thread.
  bool wait_for_slave(bool open, std::chrono::milliseconds limit) const;
  bool slave_open() const;
  std::uint64_t boot_count() const;  // power restarts played so far

  // Disks: 'a'/'A' or 'b'/'B' (anything else is disk A).
  std::vector<StoredFile> files(char disk) const;
  void put_file(char disk, const StoredFile& file);  // add or replace a file without a transfer
  std::uint64_t free_bytes(char disk) const;
  std::uint32_t disk_kib(char disk) const;

  std::optional<std::vector<std::uint8_t>> uploaded_image() const;  // the last image received by "upload"
  bool image_installed() const;                                      // "bios1" installed an image
  // The raw 260-byte blocks of the last transfer that were acknowledged, in
  // order (header first), for header checks.
  std::vector<std::vector<std::uint8_t>> received_blocks() const;
  // Waits until the transfer under way has had `count` blocks acknowledged
  // (header included); false after `limit`.
  bool wait_for_blocks(std::size_t count, std::chrono::milliseconds limit) const;

  std::string ip() const;
  std::string mask() const;
  std::string gateway() const;
  ComSetting com(int port) const;  // port 1..8

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tq318
