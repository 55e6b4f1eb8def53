// The names a package's members are unpacked under, checked before anything
// is unpacked: each must become a file of its own in the work folder, under
// the very name the list gives, on Linux and on Windows alike (a package is
// one package whichever platform repairs with it). Names are bytes; they are
// decoded only to be shown.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace tq318::repair {

// The longest file name and the longest path the platform opens a file by:
// bytes on Linux, characters on Windows (a name's byte count bounds its
// characters there).
struct PathLimits {
    std::size_t name = 255;
    std::size_t path = 4095;
};

// The first of `names` that cannot be unpacked as a file of its own under a
// folder whose path is `folderLength` long, as "the member name "<name>" is
// refused (<why>)"; empty when every name can. Refused: control characters;
// a folder, a drive or the characters Windows forbids in the name; a
// trailing dot or blank (Windows drops them); a device name of Windows (CON,
// PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, with any extension, in any case); a
// name or a path over `limits`; two names Windows takes for one (they differ
// only in case). Empty names name no member and are skipped; a name given
// twice exactly is one member.
std::string memberNamesProblem(std::span<const std::string> names, std::size_t folderLength,
                               const PathLimits& limits);

// A name as a message shows it: control bytes as \xNN, every other byte as it is.
std::string shownName(std::string_view name);

}  // namespace tq318::repair
