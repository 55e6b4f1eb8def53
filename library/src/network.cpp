// `TOV_Get_IP`, `TOV_Set_IP`, `TOV_Get_Mask`, `TOV_Set_Mask`, `TOV_Get_Gateway`,
// `TOV_Set_Gateway`: one family that shares a console word, a reply key and a
// reply format per pair. Each runs the model pre-check, the command, and reads
// the word after the key into the caller's value buffer.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "exchange.h"
#include "guard.h"
#include "reply_parse.h"
#include "tovrane.h"

namespace {

struct ValueCommand {
    std::string_view word;           // "ip", "mask", "gateway"
    std::string_view key;            // "IP=", "MASK=", "Gateway="
    std::uint32_t precheck_timeout;  // the blank command's time-out
    std::uint32_t timeout;           // the command's time-out
    std::uint16_t own_code;          // the code for a reply without the key or the prompt
};

constexpr ValueCommand kGetIp{"ip", "IP=", 1000, 1000, TOV_ERR_GET_IP};
constexpr ValueCommand kSetIp{"ip", "IP=", 1000, 2000, TOV_ERR_SET_IP};
constexpr ValueCommand kGetMask{"mask", "MASK=", 1000, 1000, TOV_ERR_GET_MASK};
constexpr ValueCommand kSetMask{"mask", "MASK=", 1000, 1000, TOV_ERR_SET_MASK};
constexpr ValueCommand kGetGateway{"gateway", "Gateway=", 1000, 1000, TOV_ERR_GET_GATEWAY};
constexpr ValueCommand kSetGateway{"gateway", "Gateway=", 800, 1000, TOV_ERR_SET_GATEWAY};

std::uint16_t argument_error(char* reply) {
    tovrane::format_error_text(reply, nullptr, TOV_ERR_ARGUMENT);
    return TOV_ERR_ARGUMENT;
}

// A value text to send: at most TOV_VALUE_MAX_IN characters and no control
// characters, so that it stays one console line that fits the command buffer.
bool acceptable_value_text(const char* value) {
    const std::string_view text = tovrane::parse::buffer_text(value, TOV_VALUE_MAX_IN + 1);
    if (text.size() > TOV_VALUE_MAX_IN) return false;
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    }
    return true;
}

// `send_value`: the set form, which sends the caller's value after the word.
std::uint16_t run_value_command(std::uint8_t port, char* value, char* reply, const ValueCommand& cmd,
                                bool send_value) {
    if (reply == nullptr) return TOV_ERR_ARGUMENT;
    if (value == nullptr) return argument_error(reply);
    if (send_value && !acceptable_value_text(value)) return argument_error(reply);

    if (const std::uint16_t r = tovrane::model_precheck(port, reply, cmd.precheck_timeout); r != 0) {
        return r;
    }

    std::string command(cmd.word);
    if (send_value) command.append(" ").append(value);
    if (const std::uint16_t r = tovrane::exchange(port, command, reply, cmd.timeout, tovrane::kPromptChar);
        r != 0) {
        return r;
    }

    const auto word =
        tovrane::parse::value_after_key(tovrane::parse::buffer_text(reply, tovrane::kReplyCapacity), cmd.key);
    if (!word) {
        tovrane::format_error_text(reply, nullptr, cmd.own_code);
        return cmd.own_code;
    }
    tovrane::parse::copy_word(*word, std::span<char>(value, TOV_VALUE_SIZE));
    return TOV_OK;
}

}  // namespace

extern "C" TOV_API uint16_t TOV_CALL TOV_Get_IP(uint8_t port, char* value, char* reply) {
    return tovrane::guarded<uint16_t>(reply, [&]() -> uint16_t {
        return run_value_command(port, value, reply, kGetIp, false);
    });
}

extern "C" TOV_API uint16_t TOV_CALL TOV_Set_IP(uint8_t port, char* value, char* reply) {
    return tovrane::guarded<uint16_t>(reply, [&]() -> uint16_t {
        return run_value_command(port, value, reply, kSetIp, true);
    });
}

extern "C" TOV_API uint16_t TOV_CALL TOV_Get_Mask(uint8_t port, char* value, char* reply) {
    return tovrane::guarded<uint16_t>(reply, [&]() -> uint16_t {
        return run_value_command(port, value, reply, kGetMask, false);
    });
}

extern "C" TOV_API uint16_t TOV_CALL TOV_Set_Mask(uint8_t port, char* value, char* reply) {
    return tovrane::guarded<uint16_t>(reply, [&]() -> uint16_t {
        return run_value_command(port, value, reply, kSetMask, true);
    });
}

extern "C" TOV_API uint16_t TOV_CALL TOV_Get_Gateway(uint8_t port, char* value, char* reply) {
    return tovrane::guarded<uint16_t>(reply, [&]() -> uint16_t {
        return run_value_command(port, value, reply, kGetGateway, false);
    });
}

extern "C" TOV_API uint16_t TOV_CALL TOV_Set_Gateway(uint8_t port, char* value, char* reply) {
    return tovrane::guarded<uint16_t>(reply, [&]() -> uint16_t {
        return run_value_command(port, value, reply, kSetGateway, true);
    });
}
