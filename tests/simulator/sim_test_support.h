// Shared by the simulator tests: a Console driven on a simulated clock, file
// and block builders, and the test's end of a real pty line.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "block.h"
#include "console.h"

// Tests name only the fault knobs they set (designated initializers); the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tq318::sim::testing {

inline const std::string kPrompt = "\r\nTQ318-5314A>";
inline const std::string kAckS(1, static_cast<char>(kAck));
inline const std::string kNakS(1, static_cast<char>(kNak));

class ConsoleHarness {
 public:
  explicit ConsoleHarness(SimulatorOptions options = {}, Faults faults = {}) : console(std::move(options), 1000) {
    console.set_faults(faults);
  }
  // Feeds `input` now and returns everything printed until nothing more is scheduled.
  std::string send(std::string_view input) {
    console.feed(input, now);
    return settle();
  }
  std::string send(const BlockBytes& block) {
    console.feed(std::span<const std::uint8_t>(block.data(), block.size()), now);
    return settle();
  }
  std::string settle() {
    std::string out = console.take_output(now);
    while (auto due = console.next_output_due()) {
      now = std::max(now, *due);
      out += console.take_output(now);
    }
    return out;
  }
  // Lets `ms` pass and returns what was printed meanwhile.
  std::string wait(Millis ms) {
    std::string out;
    const Millis end = now + ms;
    while (auto due = console.next_due()) {
      if (*due > end) break;
      now = std::max(now, *due);
      out += console.take_output(now);
    }
    now = end;
    return out + console.take_output(now);
  }
  std::string boot() {
    console.power_restart(now);
    return settle();
  }

  Console console;
  Millis now = 1000;
};

// A header dated 2026-12-06 12:34:56.
inline FileHeader header_for(std::string name, std::uint32_t size) { return {std::move(name), size, 46, 12, 6, 12, 34, 28}; }

inline std::vector<std::uint8_t> pattern(std::size_t n) {
  std::vector<std::uint8_t> data(n);
  for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>((i * 131 + 119 + i / 256) & 0xFF);
  return data;
}

// The header block, then the data blocks of 256 bytes each (the last one shorter).
inline std::vector<BlockBytes> file_blocks(const FileHeader& header, const std::vector<std::uint8_t>& data) {
  std::vector<BlockBytes> blocks{make_header_block(header)};
  for (std::size_t off = 0; off < data.size(); off += kPayloadSize)
    blocks.push_back(make_block(std::span(data).subspan(off, std::min(kPayloadSize, data.size() - off))));
  return blocks;
}

inline std::string str(const BlockBytes& b) { return std::string(b.begin(), b.end()); }

// The pty slave opened raw, as the kit opens its serial port.
class SlavePort {
 public:
  using Clock = std::chrono::steady_clock;

  explicit SlavePort(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd_, TCSANOW, &t);
  }
  ~SlavePort() { close(); }
  SlavePort(const SlavePort&) = delete;
  SlavePort& operator=(const SlavePort&) = delete;

  bool ok() const { return fd_ >= 0; }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  bool write(std::string_view bytes) {
    for (int tries = 0; !bytes.empty() && tries < 100; ++tries) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0 && errno != EAGAIN) return false;
      if (n > 0) bytes.remove_prefix(static_cast<std::size_t>(n));
      pollfd p{fd_, POLLOUT, 0};
      if (!bytes.empty()) ::poll(&p, 1, 50);
    }
    return bytes.empty();
  }
  // Reads until what was read ends with `text`, or `limit` passes.
  std::string read_until(std::string_view text, std::chrono::milliseconds limit = std::chrono::seconds(3)) {
    std::string got;
    const auto deadline = Clock::now() + limit;
    while (!got.ends_with(text) && Clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      char buf[4096];
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n == 0 || (n < 0 && errno != EAGAIN)) break;
      if (n < 0) continue;
      if (got.empty()) first_byte_at = Clock::now();
      last_byte_at = Clock::now();
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }
  // Arrival times of the first and the last byte of the last read.
  Clock::time_point first_byte_at, last_byte_at;
  // Waits until the line reports a hang-up: POLLHUP, end of file or EIO.
  bool wait_hang_up(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      if (p.revents & (POLLHUP | POLLERR)) return true;
      char buf[256];
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n == 0 || (n < 0 && errno == EIO)) return true;
    }
    return false;
  }

 private:
  int fd_ = -1;
};

}  // namespace tq318::sim::testing
