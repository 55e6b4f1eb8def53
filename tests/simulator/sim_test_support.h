// Shared by the simulator tests: a Console driven on a simulated clock, file
// and block builders; the test's end of a real pty line is tests/common's.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "block.h"
#include "console.h"
#include "pty_peer.h"

// Tests name only the fault knobs they set (designated initializers); the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tq318::sim::testing {

inline const std::string kPrompt = "\r\nTQ318-5314A>";
inline const std::string kAckS(1, static_cast<char>(kAck));

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

using testing_support::SlavePort;

}  // namespace tq318::sim::testing
