// Drives a Console on bytes with a simulated clock, for the pure console tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "block.h"
#include "console.h"

namespace tq318::sim::testing {

inline const std::string kPrompt = "\r\nTQ318-5314A>";

class ConsoleHarness {
 public:
  explicit ConsoleHarness(SimulatorOptions options = {}) : console(std::move(options), 1000) {}

  // Feeds `input` now, then lets time run until no output is scheduled any
  // more (at most `limit` ms) and returns everything printed.
  std::string send(std::string_view input, Millis limit = 60000) {
    console.feed(input, now);
    return settle(limit);
  }
  std::string send(const BlockBytes& block, Millis limit = 60000) {
    console.feed(std::span<const std::uint8_t>(block.data(), block.size()), now);
    return settle(limit);
  }
  std::string settle(Millis limit = 60000) {
    const Millis end = now + limit;
    std::string out = console.take_output(now);
    while (auto due = console.next_output_due()) {
      if (*due > end) break;
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

inline std::vector<std::uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }

inline FileHeader header_for(std::string name, std::uint32_t size) {
  FileHeader h;
  h.name = std::move(name);
  h.size = size;
  h.year_offset = 46;  // 2026
  h.month = 12;
  h.day = 6;
  h.hour = 12;
  h.minute = 34;
  h.seconds2 = 28;
  return h;
}

inline std::vector<std::uint8_t> pattern(std::size_t n, unsigned seed = 7) {
  std::vector<std::uint8_t> data(n);
  for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>((i * 131 + seed * 17 + i / 256) & 0xFF);
  return data;
}

// The data blocks of a file, 256 bytes each (the last one shorter).
inline std::vector<BlockBytes> data_blocks(const std::vector<std::uint8_t>& data) {
  std::vector<BlockBytes> blocks;
  for (std::size_t off = 0; off < data.size(); off += kPayloadSize) {
    const std::size_t n = std::min(kPayloadSize, data.size() - off);
    blocks.push_back(make_block(std::span<const std::uint8_t>(data.data() + off, n)));
  }
  return blocks;
}

inline std::string ack() { return std::string(1, static_cast<char>(kAck)); }
inline std::string nak() { return std::string(1, static_cast<char>(kNak)); }

}  // namespace tq318::sim::testing
