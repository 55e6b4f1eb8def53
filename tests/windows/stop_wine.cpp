// Starts a program on this console, waits (bounded) until a file holds a
// text, then sends Ctrl-C (to the console) or Ctrl-Break (to the program's
// own process group) and waits (bounded) for the program to end. Prints "exit N"; exit 0 when the
// program ended, 77 (with the reason) when the event did not reach it.
// usage: stop_wine.exe c|break WATCHED_FILE TEXT OUT_FILE ERR_FILE TEMP_FOLDER -- PROGRAM ARGS...
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr auto kWatchLimit = std::chrono::seconds(60);
constexpr DWORD kEndLimitMs = 60000;
constexpr int kSkipped = 77;

// Our arguments hold no quotes and end in no backslash: quoting a blank is enough.
std::string quoted(const std::string& arg) {
    return arg.find_first_of(" \t") == std::string::npos ? arg : '"' + arg + '"';
}

bool file_holds(const char* file, const std::string& text) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str().find(text) != std::string::npos;
}

HANDLE inheritable_file(const char* name) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return ::CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 9 || std::string(argv[7]) != "--") {
        std::fprintf(stderr, "usage: stop_wine.exe c|break WATCHED_FILE TEXT OUT ERR TEMP -- PROGRAM ARGS\n");
        return 2;
    }
    const std::string which = argv[1];
    const DWORD event = which == "c" ? CTRL_C_EVENT : CTRL_BREAK_EVENT;
    ::SetEnvironmentVariableA("TEMP", argv[6]);
    const int at = 8;
    // The event goes to the processes of a console: started without one (no
    // terminal behind Wine), this program makes one for the child to share.
    if (::GetConsoleWindow() == nullptr) {
        ::FreeConsole();
        ::AllocConsole();
    }
    std::string command;
    for (int i = at; i < argc; ++i) command += (command.empty() ? "" : " ") + quoted(argv[i]);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    startup.hStdInput = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                      OPEN_EXISTING, 0, nullptr);
    startup.hStdOutput = inheritable_file(argv[4]);
    startup.hStdError = inheritable_file(argv[5]);
    PROCESS_INFORMATION process{};
    // Ctrl-C as a technician types it: to every process of the console (a
    // new process group would have it disabled), this one ignoring it.
    // Ctrl-Break as a parent tovctl sends it: to the child's own group.
    const bool ctrl_c = event == CTRL_C_EVENT;
    if (!::CreateProcessA(argv[at], command.data(), nullptr, nullptr, TRUE, ctrl_c ? 0 : CREATE_NEW_PROCESS_GROUP,
                          nullptr, nullptr, &startup, &process)) {
        std::printf("FAIL: cannot start %s (Windows error %lu)\n", argv[at], ::GetLastError());
        return 1;
    }
    const auto end = std::chrono::steady_clock::now() + kWatchLimit;
    bool seen = false;
    while (!(seen = file_holds(argv[2], argv[3])) && std::chrono::steady_clock::now() < end &&
           ::WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT) {
    }
    if (!seen) {
        DWORD code = 0;
        ::GetExitCodeProcess(process.hProcess, &code);
        ::TerminateProcess(process.hProcess, 1);
        std::printf("FAIL: \"%s\" never appeared in %s (program exit %lu)\n", argv[3], argv[2], code);
        return 1;
    }
    ::SetConsoleCtrlHandler(nullptr, TRUE);
    if (!::GenerateConsoleCtrlEvent(event, ctrl_c ? 0 : process.dwProcessId)) {
        ::TerminateProcess(process.hProcess, 1);
        std::printf("skip: this Wine cannot send %s (GenerateConsoleCtrlEvent failed, Windows "
                    "error %lu)\n", which == "c" ? "Ctrl-C" : "Ctrl-Break", ::GetLastError());
        return kSkipped;
    }
    if (::WaitForSingleObject(process.hProcess, kEndLimitMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.hProcess, 1);
        ::WaitForSingleObject(process.hProcess, 5000);
        // A stop that arrived leaves its note in the line's transcript: then
        // the program hung after it, which is a fault, not Wine's.
        if (file_holds(argv[2], "stopped on request")) {
            std::printf("FAIL: the program took the stop but did not end within %lu s\n", kEndLimitMs / 1000);
            return 1;
        }
        std::printf("skip: %s was sent but the program did not end within %lu s: this Wine does not deliver it\n",
                    which == "c" ? "Ctrl-C" : "Ctrl-Break", kEndLimitMs / 1000);
        return kSkipped;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    std::printf("exit %lu\n", code);
    return 0;
}
