#include "adapter_model.h"

#include <algorithm>

namespace tq318::sim {

AdapterModel::AdapterModel(std::uint32_t latency_ms, std::size_t packet)
    : latency_ns_(static_cast<Nanos>(latency_ms) * 1'000'000), packet_(std::max<std::size_t>(1, packet)) {}

void AdapterModel::push(std::string_view bytes, Nanos now) {
  if (bytes.empty()) return;
  if (held_.empty()) first_held_at_ = now;
  held_.append(bytes);
  release(now);
}

void AdapterModel::release(Nanos now) {
  std::size_t full = (held_.size() / packet_) * packet_;
  // A partial packet leaves when the latency timer has run out since its first byte.
  const bool timer_out = !held_.empty() && now >= first_held_at_ + latency_ns_;
  const std::size_t n = timer_out ? held_.size() : full;
  if (n == 0) return;
  released_.append(held_, 0, n);
  held_.erase(0, n);
  // The timer starts again with the first byte still held.
  first_held_at_ = now;
}

std::string_view AdapterModel::ready(Nanos now) {
  release(now);
  return std::string_view(released_).substr(head_);
}

void AdapterModel::consume(std::size_t n) {
  head_ += n;
  if (head_ >= released_.size()) {
    released_.clear();
    head_ = 0;
  }
}

std::optional<AdapterModel::Nanos> AdapterModel::next_release() const {
  if (held_.empty()) return std::nullopt;
  return first_held_at_ + latency_ns_;
}

void AdapterModel::clear() {
  held_.clear();
  released_.clear();
  head_ = 0;
}

}  // namespace tq318::sim
