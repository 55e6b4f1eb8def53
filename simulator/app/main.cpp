// tq318-sim: a simulated TQ-318 controller console on a pseudo-terminal.
// Runs until SIGINT or SIGTERM (exit 0); SIGUSR1 plays a power restart.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>

#include "cli_options.h"
#include "tq318/simulator.h"

namespace {

// A symlink to the slave that is removed again when the program ends.
class LinkGuard {
 public:
  LinkGuard(const std::string& link, const std::string& target) : link_(link) {
    if (link_.empty()) return;
    std::error_code ec;
    if (std::filesystem::is_symlink(link_, ec)) std::filesystem::remove(link_, ec);
    std::filesystem::create_symlink(target, link_);  // throws on failure
  }
  ~LinkGuard() {
    std::error_code ec;
    if (!link_.empty()) std::filesystem::remove(link_, ec);
  }
  LinkGuard(const LinkGuard&) = delete;
  LinkGuard& operator=(const LinkGuard&) = delete;

 private:
  std::filesystem::path link_;
};

}  // namespace

int main(int argc, char** argv) {
  tq318::sim::CliConfig config;
  try {
    config = tq318::sim::parse_cli(std::vector<std::string_view>(argv + 1, argv + argc));
  } catch (const tq318::sim::CliError& e) {
    std::cerr << "tq318-sim: " << e.what() << "\n(try --help)\n";
    return 2;
  }
  if (config.help) {
    std::cout << tq318::sim::cli_help();
    return 0;
  }
  if (config.version) {
    std::cout << "tq318-sim " TQ318_KIT_VERSION "\n";
    return 0;
  }

  // The signals are taken synchronously below; block them before any thread starts.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  try {
    tq318::Simulator sim(config.options);
    sim.set_faults(config.faults);
    LinkGuard link(config.link, sim.device_path());
    sim.start();
    std::cout << "device: " << sim.device_path() << "\n"
              << "UART_COM1=" << sim.device_path() << std::endl;
    for (;;) {
      int sig = 0;
      if (sigwait(&signals, &sig) != 0) continue;
      if (sig == SIGUSR1) {
        sim.restart();
        continue;
      }
      break;  // SIGINT or SIGTERM
    }
    sim.stop();
    if (!config.received.empty()) {
      std::ofstream out(config.received, std::ios::binary | std::ios::trunc);
      for (const std::string& line : sim.received_lines()) out << line << '\n';
      if (!out.flush()) throw std::runtime_error(config.received + ": could not be written");
    }
  } catch (const std::exception& e) {
    std::cerr << "tq318-sim: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
