// The subcommand families the command line is made of; each adds its
// subcommands to the parser and its handlers to `commands`.
#pragma once

#include "command.h"

namespace tovctl {

void add_queries(CLI::App& app, Commands& commands);
void add_transfers(CLI::App& app, Commands& commands);
void add_port_list(CLI::App& app, Commands& commands);
void add_repairs(CLI::App& app, Commands& commands, Options& options);
void add_history(CLI::App& app, Commands& commands, Options& options);

}  // namespace tovctl
