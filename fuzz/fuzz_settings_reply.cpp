// The replies of the network settings, "setcom" and "disksize" commands.
#include <array>
#include <cstring>

#include "fuzz_common.h"
#include "reply_parse.h"

namespace p = tovrane::parse;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply = fuzz_reply(data, size);

    for (std::string_view key : {"IP=", "MASK=", "Gateway="}) {
        if (const auto word = p::value_after_key(reply, key)) {
            FUZZ_CHECK(inside(*word, reply));
            FUZZ_CHECK(p::ends_with(reply, '>'));
            std::array<char, 16> value;
            value.fill('\x7f');
            p::copy_word(*word, value);
            FUZZ_CHECK(std::memchr(value.data(), '\0', value.size()) != nullptr);
        }
    }

    if (const auto com = p::parse_com_reply(reply)) {
        FUZZ_CHECK(p::ends_with(reply, '>'));
        FUZZ_CHECK(reply.find(p::kComCurrentKey) != std::string_view::npos);
        (void)com;
    }
    (void)p::parse_com_word(reply);  // the settings word alone, any bytes

    if (const auto sizes = p::parse_disk_sizes(reply)) {
        FUZZ_CHECK(reply.find("SizeA=") != std::string_view::npos);
        if (sizes->size_b) FUZZ_CHECK(reply.find("SizeB=") != std::string_view::npos);
    }

    const std::string_view text = p::buffer_text(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(text.size() <= size);
    return 0;
}
