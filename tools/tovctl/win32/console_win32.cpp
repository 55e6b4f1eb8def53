#include <windows.h>

#include <cstdlib>

#include <atomic>

#include "console.h"
#include "reporter.h"

namespace tovctl {
namespace {

std::atomic<bool> g_stop{false};

// Ctrl-C, Ctrl-Break (how a parent tovctl asks its children) and closing
// the console: the run stops at its next safe point.
BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            g_stop = true;
            return TRUE;
        default: return FALSE;
    }
}

// A console's handle, not a file, pipe or the NUL device (which the C
// library's isatty() also calls a terminal).
bool is_console(DWORD which) {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

}  // namespace

// The live progress lines move the cursor with escape sequences: a console
// that cannot take them (before Windows 10) gets plain lines instead.
bool stdout_is_terminal() {
    static const bool usable = [] {
        const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD mode = 0;
        if (!::GetConsoleMode(out, &mode)) return false;
        return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
               ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    }();
    return usable;
}
bool stdin_is_terminal() { return is_console(STD_INPUT_HANDLE); }

// The C runtime's copy (what getenv reads, in this program and in uart.dll)
// and the process's (what children inherit) both change.
void set_variable(const std::string& name, const std::string& value) { ::_putenv_s(name.c_str(), value.c_str()); }

void stop_on_signals() { ::SetConsoleCtrlHandler(on_console_event, TRUE); }

bool stop_requested() { return g_stop; }

}  // namespace tovctl
