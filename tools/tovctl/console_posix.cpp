#include <unistd.h>

#include "console.h"

namespace tovctl {

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) != 0; }
bool stdin_is_terminal() { return ::isatty(STDIN_FILENO) != 0; }

void set_variable(const std::string& name, const std::string& value) { ::setenv(name.c_str(), value.c_str(), 1); }

}  // namespace tovctl
