#include <signal.h>
#include <unistd.h>

#include <csignal>

#include "console.h"
#include "reporter.h"

namespace tovctl {
namespace {

volatile std::sig_atomic_t g_stop = 0;
extern "C" void on_stop_signal(int) { g_stop = 1; }

}  // namespace

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) != 0; }
bool stdin_is_terminal() { return ::isatty(STDIN_FILENO) != 0; }

void set_variable(const std::string& name, const std::string& value) { ::setenv(name.c_str(), value.c_str(), 1); }

void stop_on_signals() {
    struct sigaction action{};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool stop_requested() { return g_stop != 0; }

}  // namespace tovctl
