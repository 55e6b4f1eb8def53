// The two repairs and the wait for a power restart, for one port; several
// ports fan out to one child process each (fan_out.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "tq318/repair/engine.h"

namespace tovctl {

struct RepairArgs {
    bool firmware = true;          // repair-firmware, else repair-os
    std::string file;              // the package or the image (bytes)
    bool wait = false;             // wait for a power restart first
    unsigned wait_timeout = 300;   // seconds
    std::string disk;              // "", "a" or "b"
    std::string on_full_disk;      // "", "yes" or "no"
    // A several-port repair's child: the parent's check of the package
    // (check_manifest), which the child verifies by hash instead of unpacking.
    std::string checked;
    // A several-port repair's child: the parent tells the user about a stop.
    bool child = false;

    std::string command() const { return firmware ? "repair-firmware" : "repair-os"; }
    // The arguments after the subcommand's name that repeat this request.
    std::vector<std::string> child_args() const;
};

// The package or image checked whole without a device (the engine's
// checkPackage), or, in a child, the parent's check verified by hash.
tq318::repair::CheckedPackage check_package(const RepairArgs& args);

// Writes what a child needs to verify `checked` without unpacking, next to
// its work folder; returns the file's path ("" when it could not be written).
std::string write_check_manifest(const tq318::repair::CheckedPackage& checked);

// Prints why a package was refused; returns kExitRefused.
int report_refused(const Options& options, const RepairArgs& args, const tq318::repair::CheckedPackage& check);

// Several ports at once: one child per port, each handed the check; the exit status.
int repair_many(const Options& options, const RepairArgs& args, const tq318::repair::CheckedPackage& checked);

}  // namespace tovctl
