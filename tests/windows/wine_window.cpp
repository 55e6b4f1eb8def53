// What the Pelorim test driver asks of the windows under Wine: where a
// control of a window is on the screen and whether it is enabled, the text
// of a message box titled "Pelorim" with its buttons, and the text of a
// status bar panel. Each command waits (bounded) for what it asks for.
//   wine_window.exe control TITLE ID [enabled|visible] MS
//       waits until the control (its window found by its exact title) is in
//       the state asked for; prints "X Y W H" (screen pixels, its centre
//       and size). Exit 1 when it did not happen within MS.
//   wine_window.exe message MS
//       waits for a visible message box titled "Pelorim"; prints its text
//       (line ends as \r and \n) and one "ID X Y" line per button.
//   wine_window.exe panel TITLE ID N
//       prints the text of panel N (0-based) of the status bar ID.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace {

std::string escaped(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) out += *p == '\r' ? "\\r" : *p == '\n' ? "\\n" : std::string(1, *p);
    return out;
}

bool inState(HWND control, const std::string& state) {
    return ::IsWindowVisible(control) && (state == "visible" || ::IsWindowEnabled(control));
}

template <typename Probe>
bool waitFor(DWORD limitMs, Probe probe) {
    for (const ULONGLONG end = ::GetTickCount64() + limitMs; !probe(); ::Sleep(50))
        if (::GetTickCount64() >= end) return false;
    return true;
}

int control(const char* title, int id, const std::string& state, DWORD limitMs) {
    HWND found = nullptr;
    const bool ok = waitFor(limitMs, [&] {
        HWND window = ::FindWindowA(nullptr, title);
        if (window == nullptr) return false;
        // The control may sit inside a frame: search the whole tree.
        found = nullptr;
        std::pair<int, HWND*> args(id, &found);
        ::EnumChildWindows(
            window,
            [](HWND child, LPARAM param) -> BOOL {
                auto* args = reinterpret_cast<std::pair<int, HWND*>*>(param);
                if (::GetDlgCtrlID(child) != args->first) return TRUE;
                *args->second = child;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&args));
        return found != nullptr && inState(found, state);
    });
    if (!ok) return 1;
    RECT r;
    ::GetWindowRect(found, &r);
    std::printf("%ld %ld %ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2, r.right - r.left, r.bottom - r.top);
    return 0;
}

int message(DWORD limitMs) {
    HWND box = nullptr;
    const bool ok = waitFor(limitMs, [&] {
        box = ::FindWindowA("#32770", "Pelorim");
        return box != nullptr && ::IsWindowVisible(box);
    });
    if (!ok) return 1;
    char text[4096] = {};
    ::GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    std::printf("%s\n", escaped(text).c_str());
    for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        char cls[32] = {};
        ::GetClassNameA(child, cls, sizeof cls);
        if (lstrcmpiA(cls, "Button") != 0 || !::IsWindowVisible(child)) continue;
        RECT r;
        ::GetWindowRect(child, &r);
        std::printf("%d %ld %ld\n", ::GetDlgCtrlID(child), (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    return 0;
}

// The panel's text is read into memory of the window's own process.
int panel(const char* title, int id, int part) {
    HWND window = ::FindWindowA(nullptr, title);
    HWND bar = window != nullptr ? ::GetDlgItem(window, id) : nullptr;
    if (bar == nullptr) return 1;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(bar, &pid);
    HANDLE process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process == nullptr) return 1;
    constexpr SIZE_T kSize = 1024;
    void* remote = ::VirtualAllocEx(process, nullptr, kSize, MEM_COMMIT, PAGE_READWRITE);
    char text[kSize] = {};
    const auto length = LOWORD(::SendMessageA(bar, SB_GETTEXTLENGTHA, part, 0));
    if (remote != nullptr && length < kSize) {
        ::SendMessageA(bar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(remote));
        SIZE_T got = 0;
        ::ReadProcessMemory(process, remote, text, length, &got);
    }
    if (remote != nullptr) ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    ::CloseHandle(process);
    std::printf("%s\n", text);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "control" && argc == 6) return control(argv[2], std::atoi(argv[3]), argv[4], std::strtoul(argv[5], nullptr, 10));
    if (command == "message" && argc == 3) return message(std::strtoul(argv[2], nullptr, 10));
    if (command == "panel" && argc == 5) return panel(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    std::fprintf(stderr, "usage: see wine_window.cpp\n");
    return 2;
}
