// The standard console exchange shared by every command family, and the
// small helpers around it (error text, model check, pauses, the tick).
#pragma once

#include <cstdint>
#include <string_view>

namespace tovrane {

// What the library hands the uart layer as a reply buffer's capacity:
// 1000 characters and the terminator (TOV_REPLY_MIN).
inline constexpr std::uint32_t kReplyCapacity = 1001;
// The directory exports' reply buffers take a whole listing: TOV_DIR_REPLY_MIN.
inline constexpr std::uint32_t kDirReplyCapacity = 2048;
// The most that a raw read takes into a reply buffer.
inline constexpr std::uint32_t kRawReadMax = 1000;

// Console end characters.
inline constexpr char kPromptChar = '>';
inline constexpr char kFileReadyChar = '!';
inline constexpr char kQuestionChar = '?';

// Sends `command` and collects the reply into `reply`. On a nonzero uart code
// the reply buffer receives the error text with the command and the code is
// returned unchanged. `capacity` is the reply buffer's size, terminator included.
std::uint16_t exchange(std::uint8_t port, std::string_view command, char* reply,
                       std::uint32_t timeout_ms, char end_char,
                       std::uint32_t capacity = kReplyCapacity);

// True when the NUL-terminated text is non-empty and its last character is `c`.
bool ends_with_char(const char* text, char c);

// Writes "<command> Error!, Code:<n>, " or, with no command,
// "\r\n(null) Error!, Code:<n>, " into the reply buffer (code printed as its low 16 bits).
void format_error_text(char* reply, const char* command, std::uint32_t code);

// Lower-cases `reply` in place and returns 0 when it names a supported model, else 55.
std::uint16_t check_controller_model(char* reply);

// The model pre-check of the network settings family: returns 55 (with the
// error text written) when the prompt names no supported model, else 0.
std::uint16_t model_precheck(std::uint8_t port, char* reply, std::uint32_t timeout_ms);

// Copies at most kRawReadMax bytes that are waiting on the port into `reply`,
// NUL-terminated; returns how many. Reads until the line has been quiet for
// `quiet_ms` (0: a single read).
std::uint32_t read_waiting(std::uint8_t port, char* reply, std::uint32_t quiet_ms = 0);

// Before a command: throws away what the console still prints (a late answer
// to an earlier line) until the line has been quiet for the settle time plus
// the line's answer delay, at most kDrainLimitMs plus that delay in all.
inline constexpr std::uint32_t kDrainLimitMs = 1000;
void drain_input(std::uint8_t port);
// The line's answer delay as last measured (a carriage return's answer, the
// time to a command's first byte), bounded by kMaxLineDelayMs. Every later
// wait for the console (a command's reply, the prompt after a stored file,
// a block's answer, the way back to the prompt) is lengthened by it, so that
// a slow line (a modem link, a loaded terminal server: a second or more)
// is not taken for a silent one. A line slower than the ceiling counts as
// that slow.
inline constexpr std::uint32_t kMaxLineDelayMs = 5000;
void note_line_delay(std::uint64_t ms);
std::uint32_t line_delay_ms();

// Monotonic millisecond tick and a sleep.
std::uint64_t tick_ms();
void pause_ms(std::uint32_t ms);

}  // namespace tovrane
