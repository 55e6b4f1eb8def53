// `TOV_Dir_Tovrane`, `TOV_Get_FreeSize`, `TOV_Get_Tovrane_Version`: what the
// controller reports about its disks and itself. The exports run the console
// exchanges; reply_parse reads the replies.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "exchange.h"
#include "guard.h"
#include "reply_parse.h"
#include "tovrane.h"

namespace {

constexpr std::uint32_t kDirTimeout = 1000;
constexpr std::uint32_t kDirPauseMs = 2;
constexpr std::uint32_t kFreeDirTimeout = 3000;
constexpr std::uint32_t kVerTimeout = 1500;
constexpr std::uint32_t kProbePauseMs = 50;
constexpr std::uint32_t kProbeTimeout = 1200;

std::string_view reply_text(const char* reply, std::size_t capacity = tovrane::kReplyCapacity) {
    return tovrane::parse::buffer_text(reply, capacity);
}

std::uint16_t fail(char* reply, std::uint16_t code) {
    tovrane::format_error_text(reply, nullptr, code);
    return code;
}

// Writes `word` into the caller's buffer of `size` bytes unless the pointer is null.
void put(char* buffer, std::size_t size, std::string_view word) {
    if (buffer != nullptr) tovrane::parse::copy_word(word, std::span<char>(buffer, size));
}

}  // namespace

extern "C" TOV_API uint16_t TOV_CALL TOV_Dir_Tovrane(uint8_t port, char disk, int32_t* count, char** first_words,
                                            char** second_words, char** third_words, char** sizes,
                                            char* reply) {
    return tovrane::guarded<uint16_t>(reply, [&]() -> uint16_t {
        if (reply == nullptr) return TOV_ERR_ARGUMENT;
        if (count == nullptr || first_words == nullptr || second_words == nullptr || third_words == nullptr ||
            sizes == nullptr) {
            return fail(reply, TOV_ERR_ARGUMENT);
        }

        tovrane::pause_ms(kDirPauseMs);
        if (tovrane::exchange(port, "dir", reply, kDirTimeout, tovrane::kPromptChar,
                                  tovrane::kDirReplyCapacity) != 0) {
            tovrane::pause_ms(kDirPauseMs);
            if (const std::uint16_t r = tovrane::exchange(port, "dir", reply, kDirTimeout, tovrane::kPromptChar,
                                  tovrane::kDirReplyCapacity);
                r != 0) {
                return r;
            }
        }

        const tovrane::parse::DirListing listing =
            tovrane::parse::parse_dir(reply_text(reply, tovrane::kDirReplyCapacity), tovrane::parse::is_disk_b(disk));
        if (listing.code != 0) return fail(reply, listing.code);

        // The reply buffer keeps the listing, and the entries are views into it:
        // copy them out before anything else touches the buffer.
        for (std::size_t i = 0; i < listing.entries.size(); ++i) {
            const auto& entry = listing.entries[i];
            if (!entry) continue;  // label absent: the entry's buffers stay untouched
            put(first_words[i], TOV_DIR_WORD_SIZE, entry->first);
            put(second_words[i], TOV_DIR_WORD_SIZE, entry->second);
            put(third_words[i], TOV_DIR_WORD_SIZE, entry->third);
            if (sizes[i] != nullptr) {
                // No hex digit in the size field: the size text is empty.
                char text[TOV_DIR_SIZE_TEXT_SIZE] = "";
                if (entry->size) std::snprintf(text, sizeof text, "%d", static_cast<int>(*entry->size));
                put(sizes[i], TOV_DIR_SIZE_TEXT_SIZE, text);
            }
        }
        *count = std::min<std::int32_t>(listing.reported_count, TOV_DIR_MAX_ENTRIES);
        return TOV_OK;
    });
}

extern "C" TOV_API uint16_t TOV_CALL TOV_Get_FreeSize(uint8_t port, char disk, char* free_text, char* reply) {
    return tovrane::guarded<uint16_t>(reply, [&]() -> uint16_t {
        if (reply == nullptr) return TOV_ERR_ARGUMENT;
        if (free_text == nullptr) return fail(reply, TOV_ERR_ARGUMENT);
        if (const std::uint16_t r = tovrane::exchange(port, "dir", reply, kFreeDirTimeout, tovrane::kPromptChar,
                                  tovrane::kDirReplyCapacity);
            r != 0) {
            return r;
        }
        const tovrane::parse::FreeSpace free =
            tovrane::parse::parse_free_space(reply_text(reply, tovrane::kDirReplyCapacity), tovrane::parse::is_disk_b(disk));
        if (free.code == TOV_ERR_BAD_REPLY) return free.code;  // the reply stays as received
        if (free.code != 0) return fail(reply, free.code);
        put(free_text, TOV_FREE_TEXT_SIZE, free.text);
        return TOV_OK;
    });
}

extern "C" TOV_API int32_t TOV_CALL TOV_Get_Tovrane_Version(uint8_t port, char* model, char* build_date, char* flash,
                                                   int32_t* port_probe_flag, char* reply) {
    return tovrane::guarded<int32_t>(reply, [&]() -> int32_t {
        if (reply == nullptr) return TOV_ERR_ARGUMENT;
        if (model == nullptr || build_date == nullptr || flash == nullptr || port_probe_flag == nullptr) {
            return fail(reply, TOV_ERR_ARGUMENT);
        }
        if (const std::uint16_t r = tovrane::exchange(port, "ver", reply, kVerTimeout, tovrane::kPromptChar);
            r != 0) {
            return r;
        }
        const tovrane::parse::VersionInfo info = tovrane::parse::parse_version(reply_text(reply));
        // The model and flash texts are written even when the version fields are missing.
        if (info.model) put(model, TOV_MODEL_SIZE, *info.model);
        if (info.flash) put(flash, TOV_FLASH_SIZE, *info.flash);
        if (info.code != 0) return fail(reply, info.code);
        put(build_date, TOV_BUILD_DATE_SIZE, info.build_date);

        // The port probe never changes the result; a failed exchange leaves its error text.
        tovrane::pause_ms(kProbePauseMs);
        if (tovrane::exchange(port, "inp 30a", reply, kProbeTimeout, tovrane::kPromptChar) == 0) {
            const std::string_view model_text = tovrane::parse::buffer_text(model, TOV_MODEL_SIZE);
            if (const auto flag = tovrane::parse::parse_probe(reply_text(reply), model_text)) {
                *port_probe_flag = *flag;
            }
        }
        return info.version;
    });
}
