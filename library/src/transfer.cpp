#include "transfer.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <utility>

#include "exchange.h"
#include "line_wait.h"
#include "tovrane.h"
#include "uart.h"
#include "ui/ui.h"

namespace tovrane {

namespace {

// The block buffer, reused for every block of every transfer: payload bytes
// after a block's length are what the block before left there.
Block g_block{};
std::uint32_t g_last_block_count = 0;
std::int32_t g_last_load_mode = 0;
// The size in the header of the transfer under way; the window's total follows from it.
std::uint32_t g_header_size = 0;

// The line's answer delay for the transfer under way (see kMaxAnswerDelayMs).
std::uint32_t g_noted_answer_delay_ms = 0;
std::uint32_t g_answer_delay_ms = 0;

void take_answer_delay(std::uint64_t ms) {
    const std::uint64_t bounded = ms < kMaxAnswerDelayMs ? ms : kMaxAnswerDelayMs;
    if (bounded > g_answer_delay_ms) g_answer_delay_ms = static_cast<std::uint32_t>(bounded);
}

constexpr std::int32_t kFirmwareMode = 3;
constexpr std::uint32_t kFirmwareHeaderPauseMs = 50;

// The header record for the opened file: its size and its last-write time as
// MS-DOS fields of local time.
HeaderRecord header_for(const SourceFile& source, std::string_view name) {
    HeaderRecord record;
    record.name = header_name(name);
    record.size = static_cast<std::uint32_t>(source.size);
    if (source.written) {
        const DosDateTime dos = dos_date_time(*source.written);
        record.year = dos.year;
        record.month = dos.month;
        record.day = dos.day;
        record.hour = dos.hour;
        record.minute = dos.minute;
        record.seconds2 = dos.seconds2;
    }
    return record;
}

void show_status(ui::ProgressWindow* window, std::string_view text) {
    if (window != nullptr) window->set_status(text);
}

// After a block may have been taken twice the controller can finish one block
// early and print its closing text behind that ACK, as late as the line's
// answer delay. Any byte before the line has been quiet for the settle time
// plus that delay means it has left its receive mode: the next block would
// reach its console as typed input, so the transfer stops.
std::uint16_t check_unasked_text(std::uint8_t port, ui::ProgressWindow* window) {
    std::uint8_t byte = 0;
    const std::int32_t got = wait_for_answer(port, byte, UART_SETTLE_MS + g_answer_delay_ms);
    if (got < 0) return TOV_ERR_TRANSFER_LINE;
    if (got == 0) return TOV_OK;
    show_status(window, "NO NAK or ACK");
    return TOV_ERR_BAD_ANSWER;
}

}  // namespace

std::uint32_t last_block_count() { return g_last_block_count; }
void note_answer_delay(std::uint32_t ms) { g_noted_answer_delay_ms = ms < kMaxAnswerDelayMs ? ms : kMaxAnswerDelayMs; }
std::int32_t last_load_mode() { return g_last_load_mode; }
void set_last_load_mode(std::int32_t mode) { g_last_load_mode = mode; }

std::uint32_t take_answer(std::uint8_t port, char* reply, std::uint32_t quiet_ms,
                          bool keep_when_empty) {
    std::array<char, kRawReadMax + 1> buffer{};
    const std::uint32_t n = read_waiting(port, buffer.data(), quiet_ms);
    if (n > 0 || !keep_when_empty) std::memcpy(reply, buffer.data(), n + 1);
    return n;
}

std::uint16_t SendBlock(std::uint8_t port, ui::ProgressWindow* window, std::uint32_t block_number,
                        bool resend_on_silence, bool* resent_after_silence) {
    AnswerTracker tracker;
    for (;;) {
        const std::uint16_t sent =
            Send_Raw(port, g_block.data(), static_cast<std::uint16_t>(kBlockSize));
        if (sent != kBlockSize) {
            char text[40];
            std::snprintf(text, sizeof text, "Send Binary String %d", static_cast<int>(sent));
            show_status(window, text);
            // A block that did not go out whole is never answered as sent:
            // the caller's failure path brings the controller back instead.
            return TOV_ERR_TRANSFER_LINE;
        }

        std::uint8_t answer = 0;
        const std::uint64_t sent_at = tick_ms();
        const std::int32_t got = wait_for_answer(port, answer, kAnswerWaitMs + line_delay_ms());
        if (got > 0) take_answer_delay(tick_ms() - sent_at);

        AnswerTracker::Verdict verdict;
        if (got < 0) {
            verdict = tracker.on_read_failure();
        } else if (got == 0) {
            show_status(window, "Receive Time Out!!");
            if (!resend_on_silence) return TOV_ERR_SILENT;
            verdict = tracker.on_timeout();
            if (verdict == AnswerTracker::Verdict::kResend && resent_after_silence != nullptr) {
                *resent_after_silence = true;
            }
        } else {
            verdict = tracker.on_byte(answer);
            if (verdict == AnswerTracker::Verdict::kFailed) {
                show_status(window, tracker.code() == TOV_ERR_BLOCK_REFUSED ? "time Error"
                                                                            : "NO NAK or ACK");
            }
        }
        switch (verdict) {
            case AnswerTracker::Verdict::kAccepted:
                if (window != nullptr) {
                    window->block_acknowledged(block_number,
                                               data_block_count(g_header_size));
                }
                return TOV_OK;
            case AnswerTracker::Verdict::kFailed:
                return tracker.code();
            case AnswerTracker::Verdict::kResend:
                break;
        }
    }
}

std::uint16_t SendFile(std::uint8_t port, SourceFile& source, const char* path,
                       const char* target_name, TransferReport& report) {
    ui::Ui& ui = ui::active_ui();
    ui.remember_owner();
    MakeCRC16Table();
    g_answer_delay_ms = std::exchange(g_noted_answer_delay_ms, 0);

    const std::string file_name = SplitPath(path != nullptr ? path : "").file_name();

    if (source.state == SourceFile::State::kMissing) {
        // The controller waits for a file: it gets a block of length 0 instead.
        // Sent once: should its answer be lost, a second one would reach the
        // console, which is back at its prompt, as typed input.
        build_no_file_block(g_block);
        ui.message("File no found!!");
        SendBlock(port, nullptr, 0, /*resend_on_silence=*/false);
        return TOV_ERR_NO_FILE;
    }
    if (source.state != SourceFile::State::kReady) return TOV_ERR_FILE_UNREADABLE;

    const bool named = target_name != nullptr && *target_name != '\0';
    const HeaderRecord record =
        header_for(source, named ? std::string_view(target_name) : file_name);
    BuildHeaderBlock(g_block, record);
    g_header_size = record.size;
    // A header whose answer was lost may have been taken: sent again, the
    // controller would store it as the file's first content.
    if (const std::uint16_t r = SendBlock(port, nullptr, 0, /*resend_on_silence=*/false);
        r != TOV_OK) {
        report.header_unanswered = r == TOV_ERR_SILENT;
        return r;
    }

    if (g_last_load_mode == kFirmwareMode) pause_ms(kFirmwareHeaderPauseMs);

    const std::uint32_t blocks = data_block_count(record.size);
    g_last_block_count = blocks;

    report.window = ui.open_progress(file_name);
    if (!report.window) {
        ui.message("The block Dialog build Failure!!");
        return TOV_ERR_WINDOW;
    }
    ui::ProgressWindow* window = report.window.get();

    std::uint16_t crc = 0;
    bool maybe_taken_twice = false;
    std::uint32_t remaining = record.size;
    for (std::uint32_t n = 1; n <= blocks; ++n) {
        const std::size_t expected = remaining < kPayloadSize ? remaining : kPayloadSize;
        // A file that shrinks, grows or fails to read while it goes out would
        // reach the controller different from its header: stop instead.
        if (ReadDataBlock(g_block, source.file.get()) != expected ||
            std::ferror(source.file.get()) != 0) {
            return TOV_ERR_FILE_UNREADABLE;
        }
        remaining -= static_cast<std::uint32_t>(expected);
        if (maybe_taken_twice) {
            if (const std::uint16_t r = check_unasked_text(port, window); r != TOV_OK) return r;
        }
        if (const std::uint16_t r = SendBlock(port, window, n, true, &maybe_taken_twice);
            r != TOV_OK) {
            return r;
        }
        crc = crc16_update(crc, std::span<const std::uint8_t>(g_block.data() + kPayloadOffset,
                                                              expected));
    }
    report.content_crc = crc;
    report.window.reset();
    return TOV_OK;
}

std::uint16_t SendFile(std::uint8_t port, const char* path, const char* target_name) {
    SourceFile source = open_source(path);
    TransferReport report;
    return SendFile(port, source, path, target_name, report);
}

}  // namespace tovrane
