// `TOV_Set_COM`, `TOV_Get_COM`, `TOV_Set_DiskSize`, `TOV_Get_DiskSize`: the
// controller's own COM port settings ("setcom") and its flash disk sizes
// ("disksize"). The standard exchange without the model pre-check.
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "exchange.h"
#include "guard.h"
#include "reply_parse.h"
#include "tovrane.h"

namespace {

constexpr std::uint32_t kSetComTimeout = 1500;
constexpr std::uint32_t kGetComTimeout = 1500;
constexpr std::uint32_t kSetDiskSizeTimeout = 1000;
constexpr std::uint32_t kGetDiskSizeTimeout = 600;
constexpr std::size_t kCommandSize = 52;  // the console's command line buffer

std::string_view reply_text(const char* reply) {
    return tovrane::parse::buffer_text(reply, tovrane::kReplyCapacity);
}

std::uint16_t fail(char* reply, std::uint16_t code) {
    tovrane::format_error_text(reply, nullptr, code);
    return code;
}

}  // namespace

extern "C" TOV_API uint16_t TOV_CALL TOV_Set_COM(uint8_t port, int32_t com, int32_t baud, int32_t data_bits,
                                        int32_t parity, int32_t stop_bits, char* reply) {
    return tovrane::guarded<uint16_t>(reply, [&]() -> uint16_t {
        if (reply == nullptr) return TOV_ERR_ARGUMENT;
        const char letter = tovrane::parse::parity_letter(parity);
        // A control character (NUL, CR, ...) as the parity letter would cut or split the console line.
        if (static_cast<unsigned char>(letter) < 0x20 || letter == 0x7F) return fail(reply, TOV_ERR_ARGUMENT);

        char command[kCommandSize];
        const int length =
            std::snprintf(command, sizeof command, "setcom %d %ld %d %c %d", static_cast<int>(com),
                          static_cast<long>(baud), static_cast<int>(data_bits), letter, static_cast<int>(stop_bits));
        // Numbers so long that the line would not fit the command buffer: refuse rather than send it cut.
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof command) return fail(reply, TOV_ERR_ARGUMENT);
        if (const std::uint16_t r = tovrane::exchange(port, command, reply, kSetComTimeout, tovrane::kPromptChar);
            r != 0) {
            return r;
        }
        const std::string_view text = reply_text(reply);
        if (!tovrane::parse::ends_with(text, tovrane::kPromptChar) ||
            text.find(tovrane::parse::kComSetKey) == std::string_view::npos) {
            return fail(reply, TOV_ERR_SET_COM);
        }
        return TOV_OK;
    });
}

extern "C" TOV_API uint16_t TOV_CALL TOV_Get_COM(uint8_t port, int32_t com, int32_t* baud, int32_t* data_bits,
                                        int32_t* parity, int32_t* stop_bits, char* reply) {
    return tovrane::guarded<uint16_t>(reply, [&]() -> uint16_t {
        if (reply == nullptr) return TOV_ERR_ARGUMENT;
        if (baud == nullptr || data_bits == nullptr || parity == nullptr || stop_bits == nullptr) {
            return fail(reply, TOV_ERR_ARGUMENT);
        }
        char command[kCommandSize];
        std::snprintf(command, sizeof command, "setcom %d", static_cast<int>(com));
        if (const std::uint16_t r = tovrane::exchange(port, command, reply, kGetComTimeout, tovrane::kPromptChar);
            r != 0) {
            return r;
        }
        const auto settings = tovrane::parse::parse_com_reply(reply_text(reply));
        if (!settings) return fail(reply, TOV_ERR_GET_COM);
        // A field that is not a number leaves its output as it was.
        if (settings->baud) *baud = *settings->baud;
        if (settings->data_bits) *data_bits = *settings->data_bits;
        if (settings->parity) *parity = *settings->parity;
        if (settings->stop_bits) *stop_bits = *settings->stop_bits;
        return TOV_OK;
    });
}

extern "C" TOV_API uint16_t TOV_CALL TOV_Set_DiskSize(uint8_t port, int32_t size_a, int32_t size_b, char* reply) {
    return tovrane::guarded<uint16_t>(reply, [&]() -> uint16_t {
        if (reply == nullptr) return TOV_ERR_ARGUMENT;
        char command[kCommandSize];
        std::snprintf(command, sizeof command, "disksize %d %d", static_cast<int>(size_a),
                      static_cast<int>(size_b));
        if (const std::uint16_t r =
                tovrane::exchange(port, command, reply, kSetDiskSizeTimeout, tovrane::kPromptChar);
            r != 0) {
            return r;
        }
        if (!tovrane::parse::parse_disk_sizes(reply_text(reply))) return fail(reply, TOV_ERR_DISK_SIZE);
        return TOV_OK;
    });
}

extern "C" TOV_API uint16_t TOV_CALL TOV_Get_DiskSize(uint8_t port, int32_t* size_a, int32_t* size_b, char* reply) {
    return tovrane::guarded<uint16_t>(reply, [&]() -> uint16_t {
        if (reply == nullptr) return TOV_ERR_ARGUMENT;
        if (size_a == nullptr || size_b == nullptr) return fail(reply, TOV_ERR_ARGUMENT);
        if (const std::uint16_t r =
                tovrane::exchange(port, "disksize", reply, kGetDiskSizeTimeout, tovrane::kPromptChar);
            r != 0) {
            return r;
        }
        const auto sizes = tovrane::parse::parse_disk_sizes(reply_text(reply));
        if (!sizes) return fail(reply, TOV_ERR_DISK_SIZE);
        if (sizes->size_a) *size_a = *sizes->size_a;
        if (sizes->size_b) *size_b = *sizes->size_b;
        return TOV_OK;
    });
}
