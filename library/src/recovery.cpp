#include "recovery.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "exchange.h"
#include "line_wait.h"
#include "uart.h"
#include "ui/ui.h"

namespace tovrane {

namespace {
Recovery g_last_recovery;
constexpr std::uint32_t kReadChunk = 256;
}  // namespace

PromptWatch::PromptWatch(std::string_view printed, std::uint64_t now_ms)
    : ends_with_prompt_(!printed.empty() && printed.back() == kPromptChar), last_byte_ms_(now_ms) {}

void PromptWatch::on_bytes(std::string_view bytes, std::uint64_t now_ms) {
    if (bytes.empty()) return;
    ends_with_prompt_ = bytes.back() == kPromptChar;
    last_byte_ms_ = now_ms;
}

bool PromptWatch::prompt_shown(std::uint64_t now_ms) const {
    return ends_with_prompt_ && now_ms - last_byte_ms_ >= kPromptQuietMs;
}

std::uint64_t PromptWatch::shown_at() const {
    return ends_with_prompt_ ? last_byte_ms_ + kPromptQuietMs : UINT64_MAX;
}

Recovery last_recovery() { return g_last_recovery; }

Recovery back_to_prompt(std::uint8_t port, std::string_view printed, ui::Ui& ui,
                        std::unique_ptr<ui::ProgressWindow>& window, std::string_view file_name) {
    const std::uint64_t start = tick_ms();
    Recovery result;
    if (!printed.empty() && printed.back() == kPromptChar) {
        result.at_prompt = true;
        g_last_recovery = result;
        return result;
    }
    result.waited = true;
    if (!window) window = ui.open_progress(file_name);
    if (window) window->set_status(kAwaitingPromptStatus);

    PromptWatch watch(printed, start);
    std::array<char, kReadChunk> buffer{};
    for (std::uint64_t now = start; now - start < kPromptRecoveryMs; now = tick_ms()) {
        // Sleep until a byte comes, the prompt would count as shown, or the wait ends.
        const std::uint64_t end = std::min(start + kPromptRecoveryMs, watch.shown_at());
        const std::int32_t n =
            wait_for_bytes(port, buffer, end > now ? static_cast<std::uint32_t>(end - now) : 0);
        if (n < 0) break;  // hung up or closed: nobody to wait for
        if (n > 0) {
            watch.on_bytes(std::string_view(buffer.data(), static_cast<std::size_t>(n)), tick_ms());
            continue;
        }
        if (!watch.prompt_shown(tick_ms())) continue;
        // It gave up its wait: a carriage return must now bring the prompt again.
        const std::uint8_t cr = 13;
        Send_Raw(port, &cr, 1);
        std::array<char, kReplyCapacity> answer{};
        std::uint16_t scratch = 0;
        Read_Until(port, answer.data(), kReplyCapacity, kConfirmWaitMs + line_delay_ms(), 0, &scratch, kPromptChar);
        if (ends_with_char(answer.data(), kPromptChar)) {
            result.at_prompt = true;
            break;
        }
        watch = PromptWatch(answer.data(), tick_ms());
    }
    result.elapsed_ms = static_cast<std::uint32_t>(tick_ms() - start);
    g_last_recovery = result;
    return result;
}

}  // namespace tovrane
