// The file transfer: a header block, then the content in 256-byte blocks,
// each answered by ACK or NAK, with the "Load Process" window meanwhile.
#pragma once

#include <cstdint>

#include "block.h"

namespace tovrane {

namespace ui {
class ProgressWindow;
}

// Time allowed for the answer to a block before it is sent again.
inline constexpr std::uint32_t kAnswerWaitMs = 2000;

// Sends `path`'s content to the controller, which has accepted a load command.
// The header names the file by `target_name`'s last component, or by the
// path's file name when target_name is null or empty. Returns 0 when every
// block was acknowledged; 40, 41, 42 or 47 from a block; 43 without a window;
// 45 when the file does not exist (a block of length 0 is sent in place of the
// header); 48 when it exists but cannot be read, or is 4 GiB or larger
// (nothing sent), or it cannot be read to its end while it is sent.
// The content is read from `path` itself; the current directory is never changed.
std::uint16_t SendFile(std::uint8_t port, const char* path, const char* target_name);

// Sends the module's block buffer as block `block_number` and waits for its
// answer (see AnswerTracker). `window` may be null (block 0, the no-file block).
std::uint16_t SendBlock(std::uint8_t port, ui::ProgressWindow* window, std::uint32_t block_number);

// The number of data blocks of the most recent transfer that opened its window.
std::uint32_t last_block_count();
// The load mode of the most recent TOV_Load_File; 3 adds a 50 ms pause after the header.
std::int32_t last_load_mode();
void set_last_load_mode(std::int32_t mode);

// After a failed transfer the controller's explanation may still be arriving
// on a paced line: take_answer reads until it has been quiet this long.
inline constexpr std::uint32_t kFailureTextQuietMs = 50;

// Takes what the controller has sent (at most 1000 bytes, reading until the
// line has been quiet for quiet_ms) into `reply` as text. When nothing came,
// `reply` becomes empty, or keeps its text with keep_when_empty.
std::uint32_t take_answer(std::uint8_t port, char* reply, std::uint32_t quiet_ms,
                          bool keep_when_empty = false);

}  // namespace tovrane
