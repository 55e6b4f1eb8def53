// The console the program runs in: whether a standard stream is a terminal,
// its environment, and Ctrl-C (SIGINT/SIGTERM on Linux) taken as a request
// to stop. One file
// per platform (console_posix.cpp, win32/console_win32.cpp).
#pragma once

#include <string>

namespace tovctl {

bool stdout_is_terminal();
bool stdin_is_terminal();

// Sets the environment variable `name` to `value` for this process (and the
// children it starts from now on).
void set_variable(const std::string& name, const std::string& value);

// stop_on_signals() and stop_requested() (reporter.h) are defined beside
// these, in the platform's file.

}  // namespace tovctl
