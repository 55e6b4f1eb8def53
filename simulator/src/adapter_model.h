// A USB serial adapter between the line and the PC: the bytes it receives
// from the line reach the PC in USB packets of at most `packet` bytes; a full
// packet goes at once, a partial one only when the adapter's latency timer
// (started by its first byte) runs out. With latency 0 bytes pass at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tq318::sim {

class AdapterModel {
 public:
  using Nanos = std::int64_t;
  AdapterModel(std::uint32_t latency_ms, std::size_t packet);

  bool enabled() const { return latency_ns_ > 0; }
  // Bytes that came off the line at `now`.
  void push(std::string_view bytes, Nanos now);
  // Bytes the adapter has handed to the PC by `now` and that are not yet consumed.
  std::string_view ready(Nanos now);
  void consume(std::size_t n);
  // When more bytes will be ready, if any are held.
  std::optional<Nanos> next_release() const;
  bool empty() const { return held_.empty() && released_.size() == head_; }
  void clear();

 private:
  void release(Nanos now);

  Nanos latency_ns_;
  std::size_t packet_;
  std::string held_;          // in the adapter, not yet sent to the PC
  Nanos first_held_at_ = 0;   // when the first held byte came: the latency timer's start
  std::string released_;      // sent to the PC, not yet written to the pty
  std::size_t head_ = 0;
};

}  // namespace tq318::sim
