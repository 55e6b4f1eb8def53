#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "console.h"

namespace tovctl {
namespace {

// A console's handle, not a file, pipe or the NUL device (which the C
// library's isatty() also calls a terminal).
bool is_console(DWORD which) {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

// Whether the console acts on escape sequences. Accepting the mode is not
// proof (Wine's console takes it and then prints the sequence's text), so a
// harmless one (reset the colours) is written and the cursor watched: it must
// not move. Where it moved, what it printed is blanked and the cursor put back.
bool takes_escape_sequences(HANDLE out) {
    constexpr char kProbe[] = "\x1b[0m";
    constexpr DWORD kProbeSize = sizeof kProbe - 1;
    std::fflush(stdout);  // what the C library holds goes out before the probe
    CONSOLE_SCREEN_BUFFER_INFO before{}, after{};
    DWORD wrote = 0;
    if (!::GetConsoleScreenBufferInfo(out, &before) || !::WriteConsoleA(out, kProbe, kProbeSize, &wrote, nullptr) ||
        !::GetConsoleScreenBufferInfo(out, &after))
        return false;
    if (after.dwCursorPosition.X == before.dwCursorPosition.X && after.dwCursorPosition.Y == before.dwCursorPosition.Y)
        return true;
    ::FillConsoleOutputCharacterA(out, ' ', kProbeSize, before.dwCursorPosition, &wrote);
    ::SetConsoleCursorPosition(out, before.dwCursorPosition);
    return false;
}

}  // namespace

// The live progress lines move the cursor with escape sequences: a console
// that cannot take them (before Windows 10, or Wine's) gets plain lines.
bool stdout_is_terminal() {
    static const bool usable = [] {
        const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD mode = 0;
        if (!::GetConsoleMode(out, &mode)) return false;
        if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0 &&
            !::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING))
            return false;
        if (takes_escape_sequences(out)) return true;
        ::SetConsoleMode(out, mode);
        return false;
    }();
    return usable;
}
bool stdin_is_terminal() { return is_console(STD_INPUT_HANDLE); }

// The C runtime's copy (what getenv reads, in this program and in uart.dll)
// and the process's (what children inherit) both change.
void set_variable(const std::string& name, const std::string& value) { ::_putenv_s(name.c_str(), value.c_str()); }

}  // namespace tovctl
