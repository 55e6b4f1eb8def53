// The console the program runs in: whether a standard stream is a terminal,
// and its environment. One file per platform (console_posix.cpp,
// win32/console_win32.cpp); stopping on a signal is stop_signals.h.
#pragma once

#include <string>

namespace tovctl {

bool stdout_is_terminal();
bool stdin_is_terminal();

// Sets the environment variable `name` to `value` for this process (and the
// children it starts from now on).
void set_variable(const std::string& name, const std::string& value);

}  // namespace tovctl
