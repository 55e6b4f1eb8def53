// File download (TOV_Load_File) and deleting a disk's files (TOV_Del_All_Files).
#include <cstring>
#include <string>
#include <string_view>

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

constexpr std::int32_t kModeRaw = 1;       // "loadr"
constexpr std::int32_t kModeFirmware = 3;  // "loadfirmware"
constexpr std::uint32_t kLoadTimeoutMs = 2400;
constexpr std::uint32_t kLoadRawTimeoutMs = 1400;
constexpr std::uint32_t kLineReadTimeoutMs = 200;
constexpr std::uint32_t kDeleteTimeoutMs = 3000;
constexpr int kHeaderRestarts = 1;

void clear_text(char* reply) { std::memset(reply, 0, std::strlen(reply)); }

}  // namespace

static uint16_t del_all_files_export(uint8_t port, char disk, char* reply);

extern "C" TOV_API uint16_t TOV_CALL TOV_Del_All_Files(uint8_t port, char disk, char* reply) {
    return tovrane::guarded<uint16_t>(reply, [&] { return del_all_files_export(port, disk, reply); });
}

static uint16_t del_all_files_export(uint8_t port, char disk, char* reply) {
    if (reply == nullptr) return TOV_ERR_ARGUMENT;
    const char* command = parse::is_disk_b(disk) ? "delb" : "del";
    if (const std::uint16_t r = exchange(port, command, reply, kDeleteTimeoutMs, kQuestionChar);
        r != TOV_OK) {
        return r;
    }
    pause_ms(10);
    // The confirmation must end at the prompt; a silent or cut answer means the
    // disk may not have been emptied, which the caller has to learn.
    if (const std::uint16_t r = exchange(port, "Y", reply, kDeleteTimeoutMs, kPromptChar);
        r != TOV_OK) {
        return r;
    }
    pause_ms(3);
    return TOV_OK;
}

static uint16_t load_file_export(uint8_t port, const char* path, char disk,
                                          const char* target_name, int32_t mode, char* reply);

extern "C" TOV_API uint16_t TOV_CALL TOV_Load_File(uint8_t port, const char* path, char disk,
                                          const char* target_name, int32_t mode, char* reply) {
    return tovrane::guarded<uint16_t>(reply, [&] { return load_file_export(port, path, disk, target_name, mode, reply); });
}

static uint16_t load_file_export(uint8_t port, const char* path, char disk,
                                          const char* target_name, int32_t mode, char* reply) {
    if (reply == nullptr) return TOV_ERR_ARGUMENT;
    const std::string file_name = SplitPath(path != nullptr ? path : "").file_name();
    // A header that met silence is never sent twice: the download starts over
    // from its command, once.
    int header_restarts = kHeaderRestarts;
    // Every pass asks the user before deleting, so the user bounds this loop.
    for (;;) {
        ui::Ui& ui = ui::active_ui();
        ui.remember_owner();

        // A file that cannot be sent is refused before the controller is asked to wait for one.
        SourceFile source = open_source(path);
        if (source.state == SourceFile::State::kUnusable) {
            format_error_text(reply, nullptr, TOV_ERR_FILE_UNREADABLE);
            return TOV_ERR_FILE_UNREADABLE;
        }

        const char* command = nullptr;
        std::uint32_t timeout_ms = kLoadTimeoutMs;
        if (mode == kModeRaw) {
            command = "loadr";
            timeout_ms = kLoadRawTimeoutMs;
        } else if (mode == kModeFirmware) {
            // A carriage return first, so that the console shows a fresh prompt line.
            const std::uint8_t cr = 13;
            Send_Raw(port, &cr, 1);
            std::uint16_t scratch = 0;
            Read_Reply(port, reply, kReplyCapacity, kLineReadTimeoutMs + line_delay_ms(), 0, &scratch);
            command = "loadfirmware";
        } else {
            command = parse::is_disk_b(disk) ? "loadb" : "load";
        }

        const std::uint64_t asked_at = tick_ms();
        const std::uint16_t r = exchange(port, command, reply, timeout_ms, kFileReadyChar);
        note_answer_delay(static_cast<std::uint32_t>(tick_ms() - asked_at));
        set_last_load_mode(mode);
        if (r != TOV_OK) return r;
        if (!parse::ready_for_file(reply)) {
            format_error_text(reply, nullptr, TOV_ERR_BAD_REPLY);
            return TOV_ERR_BAD_REPLY;
        }
        clear_text(reply);

        TransferReport report;
        if (SendFile(port, source, path, target_name, report) != TOV_OK) {
            take_answer(port, reply, kFailureTextQuietMs);
            const Recovery back = back_to_prompt(port, reply, ui, report.window, file_name);
            report.window.reset();
            if (report.header_unanswered && back.at_prompt && header_restarts-- > 0) continue;
            if (parse::reports_no_space(reply) &&
                ui.ask_yes_no("Delete all files!!", "Delete File")) {
                if (const std::uint16_t d = TOV_Del_All_Files(port, disk, reply); d != TOV_OK) {
                    return d;
                }
                pause_ms(1);
                continue;  // the same file again, from its header
            }
            format_error_text(reply, nullptr, TOV_ERR_LOAD_FAILED);
            return TOV_ERR_LOAD_FAILED;
        }

        // The controller stores the file now; larger files take longer.
        std::uint16_t scratch = 0;
        Read_Until(port, reply, kReplyCapacity, final_wait_ms(last_block_count()) + line_delay_ms(), 0, &scratch,
                   kPromptChar);
        if (!ends_with_char(reply, kPromptChar)) {
            format_error_text(reply, nullptr, TOV_ERR_BAD_REPLY);
            return TOV_ERR_BAD_REPLY;
        }
        take_answer(port, reply, 0, /*keep_when_empty=*/true);
        pause_ms(3);
        return TOV_OK;
    }
}
