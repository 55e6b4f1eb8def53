// Child processes on Windows: CreateProcess with the null device as standard
// input and two pipes. Anonymous pipes cannot be waited on together, so each
// pipe has a thread that reads it into one shared inbox; read_children waits
// on the inbox with a bound.
#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "child_process.h"

namespace tovctl {

namespace {

struct Item {
    const ChildProcess::State* from;
    bool is_out;
    std::string bytes;  // empty: the pipe ended
};

struct Inbox {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Item> items;
};
Inbox& inbox() {
    static Inbox box;
    return box;
}

struct Handle {
    HANDLE h = nullptr;
    Handle() = default;
    explicit Handle(HANDLE v) : h(v == INVALID_HANDLE_VALUE ? nullptr : v) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    void reset() {
        if (h != nullptr) ::CloseHandle(h);
        h = nullptr;
    }
};

std::string last_error(const char* what) {
    return std::string(what) + " (Windows error " + std::to_string(::GetLastError()) + ")";
}

// One argument as the C runtime's command-line parser reads it back.
std::string quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

// A pipe whose write end the child inherits and whose read end stays ours.
bool make_pipe(Handle& ours, Handle& theirs) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!::CreatePipe(&read, &write, &inherit, 0)) return false;
    ours.h = read;
    theirs.h = write;
    return ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0) != 0;
}

}  // namespace

struct ChildProcess::State {
    PROCESS_INFORMATION process{};
    bool running = false;
    bool out_open = false, err_open = false;
    Handle out, err;
    std::thread out_reader, err_reader;

    void read_into_inbox(HANDLE pipe, bool is_out) {
        char buffer[8192];
        for (;;) {
            DWORD got = 0;
            const bool ok = ::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) != 0;
            std::lock_guard lock(inbox().mutex);
            inbox().items.push_back({this, is_out, ok && got > 0 ? std::string(buffer, got) : std::string()});
            inbox().arrived.notify_all();
            if (!ok || got == 0) return;
        }
    }

    ~State() {
        if (running) ::TerminateProcess(process.hProcess, 137);
        if (out_reader.joinable()) out_reader.join();
        if (err_reader.joinable()) err_reader.join();
        {
            std::lock_guard lock(inbox().mutex);
            auto& items = inbox().items;
            items.erase(std::remove_if(items.begin(), items.end(), [this](const Item& i) { return i.from == this; }),
                        items.end());
        }
        if (process.hProcess != nullptr) ::CloseHandle(process.hProcess);
        if (process.hThread != nullptr) ::CloseHandle(process.hThread);
    }
};

ChildProcess::ChildProcess() : state(std::make_unique<State>()) {}
ChildProcess::~ChildProcess() = default;
ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&&) noexcept = default;

std::string ChildProcess::start(const std::vector<std::string>& argv) {
    if (argv.empty()) return "could not start: no program";
    Handle out_child, err_child;
    if (!make_pipe(state->out, out_child) || !make_pipe(state->err, err_child))
        return last_error("could not start: no pipe");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Handle null_input(::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                    0, nullptr));
    if (null_input.h == nullptr) return last_error("could not start: no NUL device");

    std::string command;
    for (const auto& a : argv) command += (command.empty() ? "" : " ") + quoted(a);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null_input.h;
    startup.hStdOutput = out_child.h;
    startup.hStdError = err_child.h;
    // Its own process group: Ctrl-Break can then be sent to it alone.
    if (!::CreateProcessA(argv.front().c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                          nullptr, nullptr, &startup, &state->process)) {
        state->out.reset();
        state->err.reset();
        return last_error("could not start");
    }
    state->running = true;
    state->out_open = state->err_open = true;
    // Our copies of the child's ends are closed (the Handles above), so the
    // readers see the end of the file when the child exits.
    State* s = state.get();
    s->out_reader = std::thread([s] { s->read_into_inbox(s->out.h, true); });
    s->err_reader = std::thread([s] { s->read_into_inbox(s->err.h, false); });
    return {};
}

bool ChildProcess::started() const { return state->process.hProcess != nullptr; }

bool ChildProcess::has_output() const { return state->out_open || state->err_open; }

std::optional<int> ChildProcess::exited() {
    if (!state->running || ::WaitForSingleObject(state->process.hProcess, 0) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (!::GetExitCodeProcess(state->process.hProcess, &code)) code = 1;
    state->running = false;
    return static_cast<int>(code & 0xff);
}

void ChildProcess::ask_to_stop() {
    if (state->running) ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, state->process.dwProcessId);
}

void ChildProcess::kill() {
    if (state->running) ::TerminateProcess(state->process.hProcess, 137);  // as 128 + SIGKILL
}

std::vector<ChildOutput> read_children(std::vector<ChildProcess*> children, std::chrono::milliseconds limit) {
    std::vector<ChildOutput> got;
    const auto index_of = [&](const ChildProcess::State* s) -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < children.size(); ++i)
            if (children[i]->state.get() == s) return i;
        return std::nullopt;
    };
    std::unique_lock lock(inbox().mutex);
    const auto ours = [&] {
        return std::any_of(inbox().items.begin(), inbox().items.end(),
                           [&](const Item& i) { return index_of(i.from).has_value(); });
    };
    inbox().arrived.wait_for(lock, limit, ours);
    auto& items = inbox().items;
    for (auto it = items.begin(); it != items.end();) {
        const auto index = index_of(it->from);
        if (!index) {
            ++it;
            continue;
        }
        ChildProcess::State& s = *children[*index]->state;
        if (it->bytes.empty()) (it->is_out ? s.out_open : s.err_open) = false;
        got.push_back({*index, it->is_out, std::move(it->bytes)});
        it = items.erase(it);
    }
    return got;
}

std::string own_executable() {
    std::vector<char> path(MAX_PATH);
    for (int attempt = 0; attempt < 6; ++attempt) {
        const DWORD n = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) return std::string(path.data(), n);
        path.resize(path.size() * 2);
    }
    return {};
}

}  // namespace tovctl
