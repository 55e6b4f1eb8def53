// Operating-system update: upload the image, check the controller's report,
// then install it with the raw line "bios1".
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

}  // namespace

static uint16_t update_tovrane_export(uint8_t port, const char* image_path, char* reply);

extern "C" TOV_API uint16_t TOV_Update_Tovrane(uint8_t port, const char* image_path, char* reply) {
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

        pause_ms(kReportPauseMs);
        take_answer(port, reply, 0);
        if (!parse::upload_report_ok(reply)) {
            ui.message("Load receive error");
            format_error_text(reply, nullptr, TOV_ERR_BAD_REPLY);
            return TOV_ERR_BAD_REPLY;
        }
        // The controller checks every block with CRC-16/XMODEM and reports the
        // CRC of the whole image it took: an image that differs from the file
        // is never installed.
        if (const auto reported = parse::reported_crc16(reply);
            reported && *reported != report.content_crc) {
            const std::size_t at = std::string_view(reply).find("CRC16=") + 6;
            char text[80];
            std::snprintf(text, sizeof text, "Load receive error\nCRC16=%.4s, file CRC16=%04X",
                          reply + at, static_cast<unsigned>(report.content_crc));
            ui.message(text);
            format_error_text(reply, nullptr, TOV_ERR_IMAGE_CRC);
            return TOV_ERR_IMAGE_CRC;
        }

        Send_Raw(port, kInstallLine, sizeof kInstallLine);
        pause_ms(kInstallPauseMs);
        take_answer(port, reply, 0);
        switch (bios1_followup(reply)) {
            case Bios1Followup::kPleaseUpload:
                // The controller holds no image to install: not a success.
                ui.message("Please Upload first!");
                format_error_text(reply, nullptr, TOV_ERR_NOT_INSTALLED);
                return TOV_ERR_NOT_INSTALLED;
            case Bios1Followup::kReadAgain:
                take_answer(port, reply, 0, /*keep_when_empty=*/true);
                break;
            case Bios1Followup::kDone:
                break;
        }
        return TOV_OK;
    }
}
