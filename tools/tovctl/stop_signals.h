// Stopping a repair on SIGINT, SIGTERM or SIGHUP. The first one asks the run
// to stop before its next console line or block (the serial layer refuses the
// next block at once; the engine looks at stop_requested() between steps), so
// that the controller is brought back to its prompt and the record is still
// written; the program then exits with 128 + the signal's number. The first
// one is answered at once on standard error with "Stopping..." (unless
// `announce` is false: a several-port repair's child, whose parent says it).
// A later one does not cut the way back short, since a controller left
// waiting for the rest of a file takes whatever is typed next as its data and
// a run without its record is one the technician cannot trust: it is answered
// once with what is still being done. SIGPIPE is ignored.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace tovctl {

void stop_on_signals(bool announce = true);
bool stop_requested();
// The first signal seen (0 when none) and the exit status it calls for.
int stop_signal();
int stop_exit_status();
// "SIGINT", "SIGTERM", "SIGHUP".
std::string stop_signal_name();

// Sleeps `duration`, or less when a stop is requested meanwhile.
void pause_unless_stopped(std::chrono::milliseconds duration);

// Child processes of a several-port repair (at most 256 are kept).
void remember_child(pid_t pid);
void forget_child(pid_t pid);

// A private folder made under the temporary folder (TEMP, else TMPDIR, else
// /tmp) for the life of this object; TEMP and TMPDIR name it meanwhile, so
// that every work folder of this process and its children lands inside it.
// Removed with all it holds when the object ends.
class PrivateTemp {
public:
    PrivateTemp();
    ~PrivateTemp();
    PrivateTemp(const PrivateTemp&) = delete;
    PrivateTemp& operator=(const PrivateTemp&) = delete;

private:
    std::string path_;   // empty when none could be made: the folder is left as it was
    std::string old_temp_, old_tmpdir_;
    bool had_temp_ = false, had_tmpdir_ = false;
};

}  // namespace tovctl
