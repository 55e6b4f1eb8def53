// The two repairs and the wait for a power restart, for one port; several
// ports fan out to one child process each (fan_out.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "command.h"

namespace tovctl {

struct RepairArgs {
    bool firmware = true;          // repair-firmware, else repair-os
    std::string file;              // the package or the image (bytes)
    bool wait = false;             // wait for a power restart first
    unsigned wait_timeout = 300;   // seconds
    std::string disk;              // "", "a" or "b"
    std::string on_full_disk;      // "", "yes" or "no"

    std::string command() const { return firmware ? "repair-firmware" : "repair-os"; }
    // The arguments after the subcommand's name that repeat this request.
    std::vector<std::string> child_args() const;
};

// The package or image checked whole without a device: the engine runs up to
// its first console line, which is never sent.
struct PackageCheck {
    bool accepted = false;
    std::vector<std::string> messages;  // what refused it
    std::string refusal;                // why, in words ("not a cabinet archive ...")
    std::uint64_t bytes_to_send = 0;
};
PackageCheck check_package(const RepairArgs& args);

// Prints why a package was refused; returns kExitRefused.
int report_refused(const Options& options, const RepairArgs& args, const PackageCheck& check);

// Several ports at once: one child per port; the exit status.
int repair_many(const Options& options, const RepairArgs& args, std::uint64_t bytes_to_send);

}  // namespace tovctl
