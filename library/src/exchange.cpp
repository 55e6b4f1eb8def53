#include "exchange.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "guard.h"
#include "line_wait.h"
#include "tovrane.h"
#include "uart.h"

namespace tovrane {

namespace {
constexpr const char* kModelTokens[] = {"5314a", "4400", "5312a", "kx2k"};
constexpr std::size_t kErrorStringSize = 32;
constexpr std::size_t kDrainChunk = 256;
std::uint32_t g_line_delay_ms = 0;
}  // namespace

void note_line_delay(std::uint64_t ms) {
    g_line_delay_ms = static_cast<std::uint32_t>(ms < kMaxLineDelayMs ? ms : kMaxLineDelayMs);
}

std::uint32_t line_delay_ms() { return g_line_delay_ms; }

void drain_input(std::uint8_t port) {
    char scratch[kDrainChunk];
    const std::uint64_t end = tick_ms() + kDrainLimitMs + g_line_delay_ms;
    // Bounded: each pass either ends on silence or takes bytes, and the limit ends a line that never stops.
    while (tick_ms() < end) {
        if (read_until_quiet(port, std::span(scratch), UART_SETTLE_MS + g_line_delay_ms) == 0) return;
    }
}

std::uint64_t tick_ms() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void pause_ms(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool ends_with_char(const char* text, char c) {
    if (text == nullptr) return false;
    const std::size_t n = std::strlen(text);
    return n > 0 && text[n - 1] == c;
}

void format_error_text(char* reply, const char* command, std::uint32_t code) {
    if (reply == nullptr) return;
    char error_string[kErrorStringSize] = "";
    TOV_IsGetErrorString(static_cast<std::uint16_t>(code), error_string);
    const unsigned low = code & 0xFFFFu;
    if (command != nullptr) {
        std::snprintf(reply, kReplyCapacity, "%s Error!, Code:%u, %s", command, low, error_string);
    } else {
        std::snprintf(reply, kReplyCapacity, "\r\n%s Error!, Code:%u, %s", "(null)", low,
                      error_string);
    }
}

std::uint16_t exchange(std::uint8_t port, std::string_view command, char* reply,
                       std::uint32_t timeout_ms, char end_char, std::uint32_t capacity) {
    const std::string text(command);
    drain_input(port);
    std::uint16_t scratch = 0;
    const std::uint16_t r =
        Exchange_Cmd(port, text.c_str(), reply, capacity, timeout_ms + g_line_delay_ms, 0, &scratch, end_char);
    if (r != 0) format_error_text(reply, text.c_str(), r);
    return r;
}

std::uint16_t check_controller_model(char* reply) {
    if (reply == nullptr) return TOV_ERR_MODEL;
    for (char* p = reply; *p != '\0'; ++p) {
        *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    }
    for (const char* token : kModelTokens) {
        if (std::strstr(reply, token) != nullptr) return TOV_OK;
    }
    return TOV_ERR_MODEL;
}

std::uint16_t model_precheck(std::uint8_t port, char* reply, std::uint32_t timeout_ms) {
    drain_input(port);
    std::uint16_t scratch = 0;
    const std::uint16_t r =
        Exchange_Cmd(port, " ", reply, kReplyCapacity, timeout_ms, 0, &scratch, kPromptChar);
    // A silent line or a reply without the prompt is passed over: the real command follows.
    if (r != 0 || !ends_with_char(reply, kPromptChar)) return TOV_OK;
    if (check_controller_model(reply) == TOV_ERR_MODEL) {
        format_error_text(reply, nullptr, TOV_ERR_MODEL);
        return TOV_ERR_MODEL;
    }
    return TOV_OK;
}

std::uint32_t read_waiting(std::uint8_t port, char* reply, std::uint32_t quiet_ms) {
    // Without a quiet time: what is waiting, with the raw read's short wait for a first byte.
    const std::uint32_t n =
        read_until_quiet(port, std::span(reply, kRawReadMax), quiet_ms == 0 ? UART_RAW_WAIT_MS : quiet_ms);
    reply[n] = '\0';
    return n;
}

}  // namespace tovrane

// ---- Exports of the console exchange ----

namespace {
constexpr std::uint16_t kDllVersion = 0x0111;
}  // namespace

extern "C" TOV_API uint16_t TOV_CALL TOV_Get_Dll_Version(void) { return kDllVersion; }

extern "C" TOV_API void TOV_CALL TOV_IsGetErrorString(uint16_t /*code*/, char* /*text*/) {}

static uint16_t getprompt_export(uint8_t port, uint16_t timeout_ms, uint8_t prompt);

extern "C" TOV_API uint16_t TOV_CALL TOV_GetPrompt(uint8_t port, uint16_t timeout_ms, uint8_t prompt) {
    return tovrane::guarded<uint16_t>(nullptr, [&] { return getprompt_export(port, timeout_ms, prompt); });
}

static uint16_t getprompt_export(uint8_t port, uint16_t timeout_ms, uint8_t prompt) {
    using tovrane::tick_ms;
    const std::uint8_t cr = 13;
    // Only the answer to this carriage return counts: a prompt still on its
    // way from an earlier line would end the wait too soon.
    tovrane::drain_input(port);
    Send_Raw(port, &cr, 1);
    const std::uint64_t sent_at = tick_ms();
    bool answered = false;
    std::uint64_t deadline = sent_at + timeout_ms;
    // Bounded: every pass either takes a byte, sleeps until the deadline, or
    // (after a failed read) pauses 1 ms; the deadline ends silence and failures.
    for (;;) {
        const std::uint64_t now = tick_ms();
        std::uint8_t byte = 0;
        const std::int32_t n =
            tovrane::wait_for_answer(port, byte, now > deadline ? 0 : static_cast<std::uint32_t>(deadline - now + 1));
        if (n > 0) {
            if (!answered) tovrane::note_line_delay(tick_ms() - sent_at);
            answered = true;
            if (byte == prompt) return TOV_OK;
            deadline = tick_ms() + timeout_ms;  // the time-out bounds silence, not the whole wait
        } else if (n == 0) {
            if (tick_ms() > deadline) return TOV_ERR_NO_PROMPT;
        } else {
            // A line that hung up or a port that is not open will not answer:
            // no point waiting. A port that keeps failing otherwise must not
            // hold the caller for ever either.
            if (n == -static_cast<std::int32_t>(UART_ERR_HANGUP) ||
                n == -static_cast<std::int32_t>(UART_ERR_NOT_OPEN) || tick_ms() > deadline) {
                return TOV_ERR_LINE_FAILED;
            }
            tovrane::pause_ms(1);
        }
    }
}
