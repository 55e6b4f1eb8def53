// Replacing a small text file so that a reader never sees half of it: a
// temporary file beside the target, flushed, then renamed over it. One file
// per platform (atomic_file_posix.cpp, win32/atomic_file_win32.cpp).
#pragma once

#include <string>

namespace tovctl {

// Empty on success, else why not (naming the file).
std::string write_atomically(const std::string& file, const std::string& text);

}  // namespace tovctl
