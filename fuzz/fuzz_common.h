// Shared by the fuzz targets: the input as an exact-size reply (no terminator,
// so ASan reports any read past its end) and a check that cannot be compiled out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#define FUZZ_CHECK(cond)          \
    do {                          \
        if (!(cond)) std::abort(); \
    } while (0)

inline std::string_view fuzz_reply(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// True when `part` lies inside `whole` (a parser's result must view the reply itself).
inline bool inside(std::string_view part, std::string_view whole) {
    if (part.empty()) return true;
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}
