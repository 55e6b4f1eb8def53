// The "ver" reply and the "inp 30a" probe reply.
#include <array>

#include "fuzz_common.h"
#include "reply_parse.h"

namespace p = tovrane::parse;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply = fuzz_reply(data, size);

    const p::VersionInfo info = p::parse_version(reply);
    FUZZ_CHECK(info.code == 0 || info.code == 46);
    FUZZ_CHECK(info.version >= 0 && info.version <= 999999);
    FUZZ_CHECK(info.build_date.size() < p::kBuildDateSize);
    if (info.model) FUZZ_CHECK(inside(*info.model, reply));
    if (info.flash) FUZZ_CHECK(inside(*info.flash, reply));

    // The probe, with the model this very reply named (or none).
    const std::string_view model = info.model.value_or(std::string_view{});
    if (const auto flag = p::parse_probe(reply, model)) FUZZ_CHECK(*flag == 0 || *flag == 1);
    return 0;
}
