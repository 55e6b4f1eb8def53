// The checks on the replies around a file download and an OS image upload.
#include "fuzz_common.h"
#include "reply_parse.h"

namespace p = tovrane::parse;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply = fuzz_reply(data, size);
    const bool ready = p::ready_for_file(reply);
    FUZZ_CHECK(ready == (size > 0 && data[size - 1] == '!'));
    const bool no_space = p::reports_no_space(reply);
    if (no_space) FUZZ_CHECK(size >= 16);
    const bool ok = p::upload_report_ok(reply);
    if (p::ends_with(reply, '>')) FUZZ_CHECK(ok);
    if (p::is_no_image_answer(reply)) FUZZ_CHECK(size == 50 && data[49] == '>');
    return 0;
}
