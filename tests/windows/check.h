// Checks for the Windows test programs: each failed check prints its place
// and is counted; the program's exit code is the number of failures, so the
// CTest driver on the Linux side sees them.
#pragma once

#include <cstdio>
#include <string>

namespace wincheck {

inline int g_failures = 0;

inline void check(bool ok, const char* what, int line, const std::string& detail = {}) {
    std::printf("%s: %s%s%s (line %d)\n", ok ? "ok" : "FAIL", what, detail.empty() ? "" : ": ",
                detail.c_str(), line);
    if (!ok) ++g_failures;
    std::fflush(stdout);
}

}  // namespace wincheck

#define CHECK(cond) ::wincheck::check((cond), #cond, __LINE__)
#define CHECK_EQ(a, b)                                                                             \
    do {                                                                                           \
        const auto check_a_ = (a);                                                                 \
        const auto check_b_ = (b);                                                                 \
        ::wincheck::check(check_a_ == check_b_, #a " == " #b, __LINE__,                            \
                          std::to_string(check_a_) + " vs " + std::to_string(check_b_));           \
    } while (false)
