// Command-line options of tq318-sim: they mirror SimulatorOptions and Faults.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tq318/simulator.h"

namespace tq318::sim {

struct CliConfig {
  SimulatorOptions options;
  Faults faults;
  std::string link;  // create a symlink to the slave here
  std::string received;  // write the lines the console received here at the end
  bool help = false;
  bool version = false;
};

struct CliError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name. "--name value" and
// "--name=value" are both accepted. Throws CliError on a bad option or value.
CliConfig parse_cli(const std::vector<std::string_view>& args);

std::string cli_help();

}  // namespace tq318::sim
