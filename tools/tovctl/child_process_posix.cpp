#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "child_process.h"

extern char** environ;

namespace tovctl {

namespace {

// A pipe's read end, closed when done.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(Fd&& o) noexcept : fd(std::exchange(o.fd, -1)) {}
    Fd& operator=(Fd&& o) noexcept {
        std::swap(fd, o.fd);
        return *this;
    }
    ~Fd() { reset(); }
    void reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

}  // namespace

struct ChildProcess::State {
    pid_t pid = -1;
    Fd out, err;
    bool running = false;
};

ChildProcess::ChildProcess() : state(std::make_unique<State>()) {}
ChildProcess::~ChildProcess() = default;
ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&&) noexcept = default;

std::string ChildProcess::start(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return std::string("could not start: ") + std::strerror(errno);
    if (::pipe2(err, O_CLOEXEC) != 0) {
        const int saved = errno;
        ::close(out[0]);
        ::close(out[1]);
        return std::string("could not start: ") + std::strerror(saved);
    }
    std::vector<std::string> argv = args;
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    const int failed = posix_spawn(&state->pid, argv.front().c_str(), &actions, nullptr, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    state->out = Fd(out[0]);
    state->err = Fd(err[0]);
    if (failed != 0) {
        state->pid = -1;
        state->out.reset();
        state->err.reset();
        return std::string("could not start: ") + std::strerror(failed);
    }
    state->running = true;
    return {};
}

bool ChildProcess::started() const { return state->pid > 0; }

bool ChildProcess::has_output() const { return state->out.fd >= 0 || state->err.fd >= 0; }

std::optional<int> ChildProcess::exited() {
    if (!state->running) return std::nullopt;
    int ws = 0;
    if (::waitpid(state->pid, &ws, WNOHANG) != state->pid) return std::nullopt;
    state->running = false;
    return WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
}

void ChildProcess::ask_to_stop() {
    if (state->running) ::kill(state->pid, SIGTERM);
}

void ChildProcess::kill() {
    if (state->running) ::kill(state->pid, SIGKILL);
}

std::vector<ChildOutput> read_children(std::vector<ChildProcess*> children, std::chrono::milliseconds limit) {
    std::vector<pollfd> fds;
    std::vector<std::pair<std::size_t, bool>> owners;
    for (std::size_t i = 0; i < children.size(); ++i) {
        ChildProcess::State& s = *children[i]->state;
        if (s.out.fd >= 0) {
            fds.push_back({s.out.fd, POLLIN, 0});
            owners.emplace_back(i, true);
        }
        if (s.err.fd >= 0) {
            fds.push_back({s.err.fd, POLLIN, 0});
            owners.emplace_back(i, false);
        }
    }
    std::vector<ChildOutput> got;
    ::poll(fds.data(), fds.size(), static_cast<int>(limit.count()));
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        const auto [index, is_out] = owners[i];
        ChildProcess::State& s = *children[index]->state;
        Fd& fd = is_out ? s.out : s.err;
        char buffer[8192];
        const ssize_t n = ::read(fd.fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            fd.reset();
            got.push_back({index, is_out, {}});
            continue;
        }
        got.push_back({index, is_out, std::string(buffer, static_cast<std::size_t>(n))});
    }
    return got;
}

std::string own_executable() {
    char path[PATH_MAX] = "";
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace tovctl
