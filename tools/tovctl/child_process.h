// A child tovctl: started with its standard input the null device and its
// standard output and error read through pipes, asked to stop, killed, and
// its exit status collected without waiting. One file per platform
// (child_process_posix.cpp, win32/child_process_win32.cpp).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tovctl {

class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();
    ChildProcess(ChildProcess&&) noexcept;
    ChildProcess& operator=(ChildProcess&&) noexcept;

    // Starts `argv` (argv[0] the program); empty on success, else why not.
    std::string start(const std::vector<std::string>& argv);
    bool started() const;
    // True while its standard output or error may still say something.
    bool has_output() const;
    // The exit status (128 + signal when a signal ended it) once it ended; never waits.
    std::optional<int> exited();
    void ask_to_stop();  // SIGTERM, or Ctrl-Break on Windows
    void kill();

    struct State;
    std::unique_ptr<State> state;
};

// What one read of a child's pipe gave.
struct ChildOutput {
    std::size_t child = 0;  // index into the span given to read_children
    bool is_out = true;     // standard output, else standard error
    std::string bytes;      // empty: that pipe ended
};

// Waits at most `limit` until any child's pipe has something, and returns
// what was read.
std::vector<ChildOutput> read_children(std::vector<ChildProcess*> children, std::chrono::milliseconds limit);

// The path of the running program, to start copies of it.
std::string own_executable();

}  // namespace tovctl
