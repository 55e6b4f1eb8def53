#include "block_assembler.h"

namespace tq318::sim {

std::optional<BlockBytes> BlockAssembler::push(std::uint8_t byte, std::uint64_t now_ms) {
  if (fill_ > 0 && now_ms > last_byte_ms_ + kGapResetMs) fill_ = 0;
  last_byte_ms_ = now_ms;
  buffer_[fill_++] = byte;
  if (fill_ < kBlockSize) return std::nullopt;
  fill_ = 0;
  return buffer_;
}

}  // namespace tq318::sim
