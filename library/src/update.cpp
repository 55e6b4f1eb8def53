// Operating-system update: upload the image, check the controller's report,
// then install it with the raw line "bios1".
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "block.h"
#include "exchange.h"
#include "guard.h"
#include "recovery.h"
#include "reply_parse.h"
#include "tovrane.h"
#include "transfer.h"
#include "uart.h"
#include "ui/ui.h"

namespace {

using namespace tovrane;

constexpr std::uint32_t kUploadTimeoutMs = 1200;
constexpr std::uint32_t kReportPauseMs = 2000;
constexpr std::uint32_t kInstallPauseMs = 1000;
constexpr int kHeaderRestarts = 1;
constexpr std::uint8_t kInstallLine[] = {'b', 'i', 'o', 's', '1', 13, 0};
// After "... done." the rest of the install's answer, up to the prompt, may
// take this long.
constexpr std::uint32_t kInstallConfirmMs = 3000;
constexpr std::uint32_t kReadChunk = 256;
constexpr std::string_view kCrcKey = "CRC16=";

// Reads what the controller sends until it ends with its prompt, at most
// kRawReadMax bytes and `limit_ms`.
std::string read_to_prompt(std::uint8_t port, std::uint32_t limit_ms) {
    std::string got;
    std::array<char, kReadChunk> buffer{};
    const std::uint64_t start = tick_ms();
    while (tick_ms() - start < limit_ms && got.size() < kRawReadMax) {
        const std::size_t want = std::min<std::size_t>(kReadChunk, kRawReadMax - got.size());
        const std::int32_t n = Read_Raw(port, buffer.data(), static_cast<std::uint32_t>(want));  // waits up to 1 ms
        if (n < 0) break;
        got.append(buffer.data(), static_cast<std::size_t>(n));
        if (n > 0 && got.back() == kPromptChar) break;
    }
    return got;
}

// The controller's report on the image it took. A report that gives
// "CRC16=" must give exactly four hex digits equal to the CRC-16/XMODEM of
// what was sent (else 54): an image that differs from the file is never
// installed. A report without "CRC16=" is taken when it ends at the prompt
// and says no failure word (else 46); nothing then proves its content.
// Returns 0, 46 or 54; on failure `reply` holds the error text alone and the
// message box says why. `compared` receives the "CRC16=XXXX" that matched.
std::uint16_t check_report(char* reply, std::uint16_t sent_crc, ui::Ui& ui, std::string& compared) {
    const std::string report(reply);
    const std::size_t key = report.find(kCrcKey);
    if (key == std::string::npos) {
        if (parse::upload_report_ok(report) && !parse::says_failure(report)) return TOV_OK;
        // A report that came back to the prompt is shown: its words say why.
        ui.message(parse::upload_report_ok(report) ? "Load receive error\n" + report
                                                   : std::string("Load receive error"));
        format_error_text(reply, nullptr, TOV_ERR_BAD_REPLY);
        return TOV_ERR_BAD_REPLY;
    }
    const auto reported = parse::reported_crc16(report);
    if (reported && *reported == sent_crc) {
        compared = report.substr(key, kCrcKey.size() + 4);
        return TOV_OK;
    }
    // The value as the controller wrote it: up to 8 letters and digits.
    std::string value;
    for (std::size_t i = key + kCrcKey.size(); i < report.size() && value.size() < 8 &&
                                  std::isalnum(static_cast<unsigned char>(report[i])) != 0;
         ++i) {
        value += report[i];
    }
    char crc[8];
    std::snprintf(crc, sizeof crc, "%04X", static_cast<unsigned>(sent_crc));
    ui.message("Load receive error\nCRC16=" + value + ", file CRC16=" + crc);
    format_error_text(reply, nullptr, TOV_ERR_IMAGE_CRC);
    return TOV_ERR_IMAGE_CRC;
}

// The error text for a "bios1" answer that installed nothing, then the
// controller's own words on a new line, within kReplyCapacity bytes.
void fail_with_answer(char* reply, std::string_view answer) {
    const std::string words(answer);  // may view the reply itself
    format_error_text(reply, nullptr, TOV_ERR_NOT_INSTALLED);
    const std::size_t used = strnlen(reply, kReplyCapacity - 1);
    std::string tail = "\r\n" + words;
    tail.resize(std::min(tail.size(), kReplyCapacity - 1 - used));
    std::memcpy(reply + used, tail.c_str(), tail.size());
    reply[used + tail.size()] = '\0';
}

// After a finished install the reply holds the controller's last answer and,
// right behind its terminator, what the report proved: the "CRC16=XXXX" that
// matched the image, or an empty text when the report gave no CRC. Both stay
// within the kReplyCapacity bytes every caller's buffer has; without room for
// the second text there is none, and a caller takes that as no CRC.
void leave_evidence(char* reply, const std::string& compared) {
    const std::size_t used = strnlen(reply, kReplyCapacity - 1) + 1;
    if (used + compared.size() + 1 > kReplyCapacity) return;
    std::memcpy(reply + used, compared.c_str(), compared.size() + 1);
}

}  // namespace

static uint16_t update_tovrane_export(uint8_t port, const char* image_path, char* reply);

extern "C" TOV_API uint16_t TOV_CALL TOV_Update_Tovrane(uint8_t port, const char* image_path, char* reply) {
    return tovrane::guarded<uint16_t>(reply, [&] { return update_tovrane_export(port, image_path, reply); });
}

static uint16_t update_tovrane_export(uint8_t port, const char* image_path, char* reply) {
    if (reply == nullptr) return TOV_ERR_ARGUMENT;
    const std::string file_name = SplitPath(image_path != nullptr ? image_path : "").file_name();
    // A header that met silence is never sent twice: the upload starts over
    // from "upload", once.
    for (int header_restarts = kHeaderRestarts;;) {
        // An image that cannot be sent is refused before "upload" goes out.
        SourceFile source = open_source(image_path);
        if (source.state == SourceFile::State::kUnusable) {
            format_error_text(reply, nullptr, TOV_ERR_FILE_UNREADABLE);
            return TOV_ERR_FILE_UNREADABLE;
        }
        if (const std::uint16_t r =
                exchange(port, "upload", reply, kUploadTimeoutMs, kFileReadyChar);
            r != TOV_OK) {
            return r;
        }

        ui::Ui& ui = ui::active_ui();
        const ui::WaitCursor wait(ui);  // back to the arrow on every return below
        ui.remember_owner();

        if (!parse::ready_for_file(reply)) {
            ui.message(reply);
            format_error_text(reply, nullptr, TOV_ERR_BAD_REPLY);
            return TOV_ERR_BAD_REPLY;
        }
        std::memset(reply, 0, strnlen(reply, kRawReadMax));

        TransferReport report;
        if (const std::uint16_t e = SendFile(port, source, image_path, nullptr, report);
            e != TOV_OK) {
            take_answer(port, reply, kFailureTextQuietMs);
            const Recovery back = back_to_prompt(port, reply, ui, report.window, file_name);
            report.window.reset();
            if (report.header_unanswered && back.at_prompt && header_restarts-- > 0) continue;
            format_error_text(reply, nullptr, TOV_ERR_UPDATE_TRANSFER);
            return e;
        }

        pause_ms(kReportPauseMs + line_delay_ms());
        take_answer(port, reply, 0);
        std::string compared;
        if (const std::uint16_t r = check_report(reply, report.content_crc, ui, compared); r != TOV_OK) return r;

        // A stop asked during the report's wait keeps "bios1" from going out:
        // nothing was installed, and the message says so.
        if (Send_Raw(port, kInstallLine, sizeof kInstallLine) != sizeof kInstallLine) {
            ui.message("The install line \"bios1\" was not sent: nothing was installed");
            format_error_text(reply, nullptr, TOV_ERR_NOT_INSTALLED);
            return TOV_ERR_NOT_INSTALLED;
        }
        pause_ms(kInstallPauseMs + line_delay_ms());
        take_answer(port, reply, 0);
        std::string answer(reply);
        switch (bios1_followup(answer)) {
            case Bios1Followup::kPleaseUpload:
                // The controller holds no image to install: not a success.
                ui.message("Please Upload first!");
                fail_with_answer(reply, answer);
                return TOV_ERR_NOT_INSTALLED;
            case Bios1Followup::kReadAgain: {
                const std::string rest = read_to_prompt(port, kInstallConfirmMs + line_delay_ms());
                if (!rest.empty()) std::memcpy(reply, rest.c_str(), rest.size() + 1);
                answer += rest;
                break;
            }
            case Bios1Followup::kDone:
                break;
        }
        // Any words but a failure's count: a controller's words for a
        // finished install are its own. Silence is no answer.
        if (answer.find_first_not_of(" \r\n") == std::string::npos || parse::says_failure(answer)) {
            ui.message(answer.empty() ? std::string("No answer to the install line \"bios1\"") : answer);
            fail_with_answer(reply, answer);
            return TOV_ERR_NOT_INSTALLED;
        }
        leave_evidence(reply, compared);
        return TOV_OK;
    }
}
