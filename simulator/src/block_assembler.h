// Frames the bytes of a transfer into 260-byte blocks. A block that stays
// incomplete while the line is quiet for kGapResetMs is dropped, so a sender
// that resends a whole block after a lost byte is understood again.
#pragma once

#include <cstdint>
#include <optional>

#include "block.h"

namespace tq318::sim {

class BlockAssembler {
 public:
  static constexpr std::uint64_t kGapResetMs = 1000;

  // Takes one byte received at `now_ms`; returns the block it completes.
  std::optional<BlockBytes> push(std::uint8_t byte, std::uint64_t now_ms);
  std::size_t pending() const { return fill_; }
  void reset() { fill_ = 0; }

 private:
  BlockBytes buffer_{};
  std::size_t fill_ = 0;
  std::uint64_t last_byte_ms_ = 0;
};

}  // namespace tq318::sim
