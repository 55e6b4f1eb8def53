// The file transfer: a header block, then the content in 256-byte blocks,
// each answered by ACK or NAK, with the "Load Process" window meanwhile.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>

#include "block.h"
#include "exchange.h"

namespace tovrane {

namespace ui {
class ProgressWindow;
}

// Time allowed for the answer to a block before it is sent again, on a line
// that answers at once (the line's answer delay is added).
inline constexpr std::uint32_t kAnswerWaitMs = 2000;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The file a transfer sends, opened and checked before any command goes out,
// so that a file that cannot be sent leaves the line untouched.
struct SourceFile {
    enum class State {
        kMissing,   // does not exist: the no-file block goes in place of the header
        kUnusable,  // no regular file, cannot be opened, or 4 GiB or larger (48)
        kReady,
    };
    State state = State::kMissing;
    File file;
    std::uint64_t size = 0;
    // The last-write time as local time, when the platform gives one.
    std::optional<std::tm> written;
};
// One implementation per platform: source_file_posix.cpp, win32/source_file_win32.cpp.
SourceFile open_source(const char* path);

// The largest file a header can describe: its size field is 32 bits.
inline constexpr std::uint64_t kLargestFile = 0xFFFFFFFFull;

// What a transfer leaves for its caller besides the result code.
struct TransferReport {
    // Block 0 met silence: the controller may have taken it and be waiting
    // for content, so it was not sent again (the caller starts over).
    bool header_unanswered = false;
    // CRC-16/XMODEM of every content byte sent (meaningful after success).
    std::uint16_t content_crc = 0;
    // After a failure the window stays open for the wait that follows.
    std::unique_ptr<ui::ProgressWindow> window;
};

// Sends `source` to the controller, which has accepted a load command.
// The header names the file by `target_name`'s last component, or by
// `path`'s file name when target_name is null or empty. Returns 0 when every
// block was acknowledged; 40, 41, 42 or 47 from a block (42 at once when the
// header's answer times out: a header is never sent twice); 43 without a
// window; 45 when the file does not exist (a block of length 0 is sent in
// place of the header); 48 when the source is unusable (nothing sent) or
// cannot be read to its end while it is sent. The current directory is never
// changed.
std::uint16_t SendFile(std::uint8_t port, SourceFile& source, const char* path,
                       const char* target_name, TransferReport& report);
// The same, opening `path` itself.
std::uint16_t SendFile(std::uint8_t port, const char* path, const char* target_name);

// Sends the module's block buffer as block `block_number` and waits for its
// answer (see AnswerTracker). `window` may be null (block 0, the no-file
// block). With resend_on_silence false a time-out ends it at once with 42;
// `resent_after_silence` (may be null) is set when the block went out again
// after a time-out, so the controller may have taken it twice.
std::uint16_t SendBlock(std::uint8_t port, ui::ProgressWindow* window, std::uint32_t block_number,
                        bool resend_on_silence = true, bool* resent_after_silence = nullptr);

// The number of data blocks of the most recent transfer that opened its window.
std::uint32_t last_block_count();
// The load mode of the most recent TOV_Load_File; 3 adds a 50 ms pause after the header.
std::int32_t last_load_mode();
void set_last_load_mode(std::int32_t mode);

// The line's answer delay as the transfer sees it: the longest of the
// console's answer time noted before the transfer (note_answer_delay) and the
// block ACK round trips seen so far, bounded by kMaxAnswerDelayMs.
inline constexpr std::uint32_t kMaxAnswerDelayMs = kMaxLineDelayMs;
// Notes how long the console took to answer the command that started the
// transfer; the next SendFile starts its estimate from it.
void note_answer_delay(std::uint32_t ms);

// After a failed transfer the controller's explanation may still be arriving
// on a paced line: take_answer reads until it has been quiet this long.
inline constexpr std::uint32_t kFailureTextQuietMs = 50;

// Takes what the controller has sent (at most 1000 bytes, reading until the
// line has been quiet for quiet_ms) into `reply` as text. When nothing came,
// `reply` becomes empty, or keeps its text with keep_when_empty.
std::uint32_t take_answer(std::uint8_t port, char* reply, std::uint32_t quiet_ms,
                          bool keep_when_empty = false);

}  // namespace tovrane
