// Bytes on a serial line of a given rate: each byte takes 10 bit times, so
// byte k of a continuous run starts at base + k * 10 / baud seconds. Used both
// ways: output leaves at the start of its slot, input counts as received at
// the end of its slot. Slot times are computed from the run's start, never
// accumulated, so they do not drift. A rate of 0 means no pacing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tq318::sim {

class PacedQueue {
 public:
  using Nanos = std::int64_t;
  enum class Edge { start, end };

  PacedQueue(std::uint32_t baud, Edge edge) : baud_(baud), edge_(edge) {}

  void push(std::string_view bytes, Nanos now);
  std::size_t size() const { return buffer_.size() - head_; }
  bool empty() const { return size() == 0; }
  // How many queued bytes are due by `now`.
  std::size_t due_count(Nanos now) const;
  // The first n queued bytes (n <= size()).
  std::string_view front(std::size_t n) const { return std::string_view(buffer_).substr(head_, n); }
  void consume(std::size_t n);
  // When the first min(want, size()) bytes will all be due; nullopt when empty.
  std::optional<Nanos> due_time(std::size_t want) const;
  void clear();
  // Nanoseconds one byte takes (rounded); 0 when unpaced.
  Nanos byte_nanos() const;

 private:
  Nanos slot_time(std::uint64_t index) const;  // time of byte `index` of the run

  std::uint32_t baud_;
  Edge edge_;
  std::string buffer_;
  std::size_t head_ = 0;
  Nanos base_ = 0;            // start of the current run
  std::uint64_t done_ = 0;    // bytes of the run already consumed
};

}  // namespace tq318::sim
