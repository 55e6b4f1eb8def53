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

template <typename A, typename B>
void check_eq(const A& a, const B& b, const char* what, int line) {
    check(a == b, what, line, std::to_string(a) + " vs " + std::to_string(b));
}

}  // namespace wincheck

#define CHECK(cond) ::wincheck::check((cond), #cond, __LINE__)
#define CHECK_EQ(a, b) ::wincheck::check_eq((a), (b), #a " == " #b, __LINE__)
