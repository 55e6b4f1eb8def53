// Bringing the controller back to its prompt after a failed transfer. While
// it waits for a file it takes every byte as part of a block, and every byte
// restarts its wait, so the next command would be swallowed: the sender stays
// silent until the controller gives up its wait on its own and shows the
// prompt, then confirms the prompt with a carriage return.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace tovrane {

namespace ui {
class Ui;
class ProgressWindow;
}  // namespace ui

// The whole wait for the prompt is bounded by this (the controller gives up
// after a quiet spell of its own, about 10 s on the simulator).
inline constexpr std::uint32_t kPromptRecoveryMs = 15000;
// A prompt counts as shown when ">" is the last byte and the line then stays quiet this long.
inline constexpr std::uint32_t kPromptQuietMs = 50;
// The answer to the confirming carriage return.
inline constexpr std::uint32_t kConfirmWaitMs = 1000;
// The status line of the "Load Process" window meanwhile.
inline constexpr std::string_view kAwaitingPromptStatus = "Waiting for the controller ...";

// Decides, from the bytes that arrive and their times, when the controller
// shows its prompt: ">" last and nothing after it for kPromptQuietMs.
class PromptWatch {
public:
    explicit PromptWatch(std::string_view printed, std::uint64_t now_ms);
    void on_bytes(std::string_view bytes, std::uint64_t now_ms);
    bool prompt_shown(std::uint64_t now_ms) const;
    // When prompt_shown will first be true if nothing more arrives (UINT64_MAX: not before a byte).
    std::uint64_t shown_at() const;

private:
    bool ends_with_prompt_ = false;
    std::uint64_t last_byte_ms_ = 0;
};

struct Recovery {
    bool at_prompt = false;       // the controller answered the confirming carriage return
    bool waited = false;          // false: what it printed already ended with its prompt
    std::uint32_t elapsed_ms = 0;
};

// `printed` is what the controller sent after the failure. When it ends with
// the prompt this returns at once; otherwise the window (opened for
// `file_name` when none is given) shows kAwaitingPromptStatus while the line
// is watched, at most kPromptRecoveryMs. A line that fails ends the wait.
Recovery back_to_prompt(std::uint8_t port, std::string_view printed, ui::Ui& ui,
                        std::unique_ptr<ui::ProgressWindow>& window, std::string_view file_name);

// The most recent back_to_prompt (for measurements).
Recovery last_recovery();

}  // namespace tovrane
