#include "paced_queue.h"

#include <algorithm>

namespace tq318::sim {
namespace {

constexpr __int128 kTenBitsNanos = 10'000'000'000;  // 10 bits, in ns times baud

}  // namespace

PacedQueue::Nanos PacedQueue::slot_time(std::uint64_t index) const {
  const std::uint64_t k = edge_ == Edge::end ? index + 1 : index;
  return base_ + static_cast<Nanos>(static_cast<__int128>(k) * kTenBitsNanos / baud_);
}

PacedQueue::Nanos PacedQueue::byte_nanos() const {
  return baud_ == 0 ? 0 : static_cast<Nanos>(kTenBitsNanos / baud_);
}

void PacedQueue::push(std::string_view bytes, Nanos now) {
  if (bytes.empty()) return;
  if (empty() && baud_ != 0) {
    // An idle line starts a new run now; a busy one queues behind its run.
    const Nanos next_start = base_ + static_cast<Nanos>(static_cast<__int128>(done_) * kTenBitsNanos / baud_);
    if (next_start <= now) {
      base_ = now;
      done_ = 0;
    }
  }
  if (head_ > 0 && head_ >= buffer_.size() / 2) {
    buffer_.erase(0, head_);
    head_ = 0;
  }
  buffer_.append(bytes);
}

std::size_t PacedQueue::due_count(Nanos now) const {
  const std::size_t n = size();
  if (baud_ == 0 || n == 0) return n;
  // Largest k with slot_time(done_ + k - 1) <= now, by binary search.
  std::size_t lo = 0, hi = n;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo + 1) / 2;
    if (slot_time(done_ + mid - 1) <= now)
      lo = mid;
    else
      hi = mid - 1;
  }
  return lo;
}

void PacedQueue::consume(std::size_t n) {
  n = std::min(n, size());
  head_ += n;
  done_ += n;
  if (head_ == buffer_.size()) {
    buffer_.clear();
    head_ = 0;
  }
}

std::optional<PacedQueue::Nanos> PacedQueue::due_time(std::size_t want) const {
  const std::size_t n = std::min(std::max<std::size_t>(want, 1), size());
  if (n == 0) return std::nullopt;
  if (baud_ == 0) return Nanos{0};
  return slot_time(done_ + n - 1);
}

void PacedQueue::clear() {
  buffer_.clear();
  head_ = 0;
}

}  // namespace tq318::sim
