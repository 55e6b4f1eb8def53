// The "dir" reply as read for a directory listing and for the free space, with
// the copies into fixed-size caller buffers that the exports make.
#include <array>
#include <cstdio>
#include <cstring>

#include "fuzz_common.h"
#include "reply_parse.h"

namespace p = tovrane::parse;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply = fuzz_reply(data, size);

    for (bool disk_b : {false, true}) {
        const p::DirListing listing = p::parse_dir(reply, disk_b);
        if (listing.code != 0) {
            FUZZ_CHECK(listing.code == 62 || listing.code == 51 || listing.code == 52);
            for (const auto& e : listing.entries) FUZZ_CHECK(!e);
        } else {
            FUZZ_CHECK(listing.reported_count >= 0);
            for (std::size_t i = 0; i < listing.entries.size(); ++i) {
                const auto& e = listing.entries[i];
                if (!e) continue;
                FUZZ_CHECK(static_cast<std::int64_t>(i) < listing.reported_count);
                FUZZ_CHECK(inside(e->first, reply) && inside(e->second, reply) && inside(e->third, reply));
                std::array<char, 32> word;
                p::copy_word(e->first, word);
                p::copy_word(e->third, word);
                if (e->size) {
                    FUZZ_CHECK(*e->size <= 0xFFFFFu);
                    char text[12];
                    FUZZ_CHECK(std::snprintf(text, sizeof text, "%d", static_cast<int>(*e->size)) < 12);
                }
            }
        }

        const p::FreeSpace free = p::parse_free_space(reply, disk_b);
        FUZZ_CHECK(free.code == 0 || free.code == 46 || free.code == 51);
        FUZZ_CHECK(inside(free.text, reply));
    }
    return 0;
}
