// The command line: parses the arguments, checks them and runs the subcommand.
#pragma once

namespace tovctl {

// The exit status (command.h names them).
int run(int argc, char** argv);

}  // namespace tovctl
