#include "stop_signals.h"

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "uart.h"

namespace tovctl {
namespace {

constexpr std::size_t kChildSlots = 256;

// What the user reads at once, and on a later signal, in the system's own
// style of status texts ("Reseting...").
constexpr char kStopping[] =
    "Stopping...  (the controller is brought back to its prompt first, within 20 s)\n";
constexpr char kStillStopping[] =
    "Still stopping: a controller left waiting for the rest of a file would take the next line as its data, "
    "so the way back to its prompt is not cut short.\n";

volatile std::sig_atomic_t g_signal = 0;
volatile std::sig_atomic_t g_again_said = 0;
volatile std::sig_atomic_t g_announce = 1;
std::atomic<pid_t> g_children[kChildSlots];

template <std::size_t N>
void say(const char (&text)[N]) {
    if (g_announce == 0) return;
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text, N - 1);
}

extern "C" void on_stop_signal(int signal) {
    if (g_signal == 0) {
        g_signal = signal;
        Uart_Stop_Next_Send(1);  // a transfer under way stops before its next block
        say(kStopping);
        return;
    }
    if (g_again_said == 0) {
        g_again_said = 1;
        say(kStillStopping);
    }
}

std::string temp_root() {
    for (const char* variable : {"TEMP", "TMPDIR"}) {
        if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') return value;
    }
    return "/tmp";
}

}  // namespace

void stop_on_signals(bool announce) {
    g_announce = announce ? 1 : 0;
    struct sigaction action{};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, s);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool stop_requested() { return g_signal != 0; }
int stop_signal() { return g_signal; }
int stop_exit_status() { return g_signal != 0 ? 128 + g_signal : 0; }

std::string stop_signal_name() {
    switch (g_signal) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return g_signal != 0 ? "signal " + std::to_string(g_signal) : "";
    }
}

void pause_unless_stopped(std::chrono::milliseconds duration) {
    timespec end{};
    ::clock_gettime(CLOCK_MONOTONIC, &end);
    const auto ms = duration.count();
    end.tv_sec += static_cast<time_t>(ms / 1000);
    end.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (end.tv_nsec >= 1000000000L) {
        end.tv_sec += 1;
        end.tv_nsec -= 1000000000L;
    }
    // A signal ends the sleep early (EINTR); the flag is looked at before and after.
    while (!stop_requested()) {
        const int r = ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &end, nullptr);
        if (r != EINTR) break;
    }
}

void remember_child(pid_t pid) {
    for (auto& child : g_children) {
        pid_t empty = 0;
        if (child.compare_exchange_strong(empty, pid)) return;
    }
}

void forget_child(pid_t pid) {
    for (auto& child : g_children) {
        pid_t expected = pid;
        if (child.compare_exchange_strong(expected, 0)) return;
    }
}

PrivateTemp::PrivateTemp() {
    const std::string pattern = temp_root() + "/tovctl.XXXXXX";
    std::string buffer = pattern;
    if (::mkdtemp(buffer.data()) == nullptr) return;  // mode 0700
    path_ = buffer;
    for (auto [name, had, old] : {std::tuple{"TEMP", &had_temp_, &old_temp_}, std::tuple{"TMPDIR", &had_tmpdir_, &old_tmpdir_}}) {
        if (const char* value = std::getenv(name)) {
            *had = true;
            *old = value;
        }
        ::setenv(name, path_.c_str(), 1);
    }
}

PrivateTemp::~PrivateTemp() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    for (auto [name, had, old] : {std::tuple{"TEMP", had_temp_, &old_temp_}, std::tuple{"TMPDIR", had_tmpdir_, &old_tmpdir_}}) {
        if (had) {
            ::setenv(name, old->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
}

}  // namespace tovctl
