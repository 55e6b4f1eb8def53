#include "stop_signals.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "uart.h"

namespace tovctl {
namespace {

constexpr std::size_t kChildSlots = 256;
constexpr std::size_t kPathCapacity = 4096;
constexpr int kTreeDepth = 6;      // run folder / child's folder / work folder / member
constexpr int kRemovePasses = 8;   // a folder read while it is emptied is read again

volatile std::sig_atomic_t g_signal = 0;
std::atomic<pid_t> g_children[kChildSlots];
// The private temporary folder, for the handler ("" when none).
char g_temp_path[kPathCapacity] = "";
std::atomic<bool> g_temp_set{false};

struct Dirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

// Removes `name` under `parent` with its contents, using only
// async-signal-safe calls; links are removed, never followed.
void remove_tree_at(int parent, const char* name, int depth) {
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        ::unlinkat(parent, name, 0);
        return;
    }
    alignas(8) char buffer[4096];
    for (int pass = 0; pass < kRemovePasses && depth < kTreeDepth; ++pass) {
        ::lseek(fd, 0, SEEK_SET);
        bool removed = false;
        for (;;) {
            const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
            if (n <= 0) break;
            for (long at = 0; at < n;) {
                const auto* entry = reinterpret_cast<const Dirent64*>(buffer + at);
                at += entry->d_reclen;
                const char* entry_name = entry->d_name;
                if (std::strcmp(entry_name, ".") == 0 || std::strcmp(entry_name, "..") == 0) continue;
                if (entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN) {
                    remove_tree_at(fd, entry_name, depth + 1);
                } else {
                    ::unlinkat(fd, entry_name, 0);
                }
                removed = true;
            }
        }
        if (!removed) break;
    }
    ::close(fd);
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

extern "C" void on_stop_signal(int signal) {
    if (g_signal == 0) {
        g_signal = signal;
        Uart_Stop_Next_Send(1);  // a transfer under way stops before its next block
        return;
    }
    // The second: at once, leaving nothing behind that can still be removed.
    for (auto& child : g_children) {
        const pid_t pid = child.load();
        if (pid > 0) ::kill(pid, signal);
    }
    if (g_temp_set.load()) remove_tree_at(AT_FDCWD, g_temp_path, 0);
    ::_exit(128 + g_signal);
}

std::string temp_root() {
    for (const char* variable : {"TEMP", "TMPDIR"}) {
        if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') return value;
    }
    return "/tmp";
}

}  // namespace

void stop_on_signals() {
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
    if (pattern.size() >= kPathCapacity) return;
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
    std::memcpy(g_temp_path, path_.c_str(), path_.size() + 1);
    g_temp_set = true;
}

PrivateTemp::~PrivateTemp() {
    if (path_.empty()) return;
    g_temp_set = false;
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
