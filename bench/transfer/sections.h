#pragma once
// A benchmark's sections are named on its command line; none named runs them all.
#include <cstring>

inline bool section_wanted(int argc, char** argv, const char* name) {
    if (argc < 2) return true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) return true;
    }
    return false;
}
