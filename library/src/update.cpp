// Operating-system update: upload the image, check the controller's report,
// then install it with the raw line "bios1".
#include <cstring>

#include "block.h"
#include "exchange.h"
#include "guard.h"
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
constexpr std::uint8_t kInstallLine[] = {'b', 'i', 'o', 's', '1', 13, 0};

}  // namespace

static uint16_t update_tovrane_export(uint8_t port, const char* image_path, char* reply);

extern "C" TOV_API uint16_t TOV_Update_Tovrane(uint8_t port, const char* image_path, char* reply) {
    return tovrane::guarded<uint16_t>(reply, [&] { return update_tovrane_export(port, image_path, reply); });
}

static uint16_t update_tovrane_export(uint8_t port, const char* image_path, char* reply) {
    if (reply == nullptr) return TOV_ERR_ARGUMENT;
    if (const std::uint16_t r = exchange(port, "upload", reply, kUploadTimeoutMs, kFileReadyChar);
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

    if (const std::uint16_t e = SendFile(port, image_path, nullptr); e != TOV_OK) {
        take_answer(port, reply, kFailureTextQuietMs);
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
