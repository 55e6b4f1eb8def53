// Ctrl-C, Ctrl-Break (how a parent tovctl asks its children) and closing the
// console stop a run at its next safe point, as SIGINT, SIGTERM and SIGHUP do
// on Linux, with the same exit statuses (130, 143, 129). The first one is
// answered at once with "Stopping..."; a later one does not cut the way back
// to the prompt short (see stop_signals.h).
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <thread>
#include <tuple>

#include "private_folder.h"
#include "stop_signals.h"
#include "uart.h"

namespace tovctl {
namespace {

constexpr int kInterrupt = 2;   // as SIGINT
constexpr int kHangUp = 1;      // as SIGHUP
constexpr int kTerminate = 15;  // as SIGTERM
constexpr auto kPauseSlice = std::chrono::milliseconds(20);

std::atomic<int> g_signal{0};
std::atomic<bool> g_again_said{false};
std::atomic<bool> g_announce{true};

void say(std::string_view text) {
    if (!g_announce.load()) return;
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

BOOL WINAPI on_console_event(DWORD event) {
    int signal = 0;
    switch (event) {
        case CTRL_C_EVENT: signal = kInterrupt; break;
        case CTRL_BREAK_EVENT: signal = kTerminate; break;
        case CTRL_CLOSE_EVENT: signal = kHangUp; break;
        default: return FALSE;
    }
    int none = 0;
    if (g_signal.compare_exchange_strong(none, signal)) {
        Uart_Stop_Next_Send(1);  // a transfer under way stops before its next block
        say("Stopping...  (the controller is brought back to its prompt first, within 20 s)\r\n");
        return TRUE;
    }
    if (!g_again_said.exchange(true))
        say("Still stopping: a controller left waiting for the rest of a file would take the next line as its "
            "data, so the way back to its prompt is not cut short.\r\n");
    return TRUE;
}

std::filesystem::path temp_root() {
    for (const char* variable : {"TEMP", "TMP"}) {
        if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') return value;
    }
    return std::filesystem::temp_directory_path();
}

}  // namespace

void stop_on_signals(bool announce) {
    g_announce = announce;
    ::SetConsoleCtrlHandler(on_console_event, TRUE);
}
bool stop_requested() { return g_signal.load() != 0; }
int stop_signal() { return g_signal.load(); }
int stop_exit_status() { return g_signal.load() != 0 ? 128 + g_signal.load() : 0; }

std::string stop_signal_name() {
    switch (g_signal.load()) {
        case kInterrupt: return "Ctrl-C";
        case kTerminate: return "Ctrl-Break";
        case kHangUp: return "closing the console";
        default: return "";
    }
}

void pause_unless_stopped(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (!stop_requested()) {
        const auto left = end - std::chrono::steady_clock::now();
        if (left <= left.zero()) break;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, kPauseSlice));
    }
}

// A Ctrl-C reaches every process of the console, children included; nothing
// has to be passed on.
void remember_child(pid_t) {}
void forget_child(pid_t) {}

PrivateTemp::PrivateTemp() {
    const auto made = tq318::repair::makePrivateFolder(temp_root(), "tovctl");
    if (!made) return;
    path_ = made->string();
    for (auto [name, had, old] : {std::tuple{"TEMP", &had_temp_, &old_temp_}, std::tuple{"TMPDIR", &had_tmpdir_, &old_tmpdir_}}) {
        if (const char* value = std::getenv(name)) {
            *had = true;
            *old = value;
        }
        ::_putenv_s(name, path_.c_str());
    }
}

PrivateTemp::~PrivateTemp() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    for (auto [name, had, old] : {std::tuple{"TEMP", had_temp_, &old_temp_}, std::tuple{"TMPDIR", had_tmpdir_, &old_tmpdir_}}) {
        ::_putenv_s(name, had ? old->c_str() : "");
    }
}

}  // namespace tovctl
