// The read-back after a firmware download: the controller's "dir" listing
// (both disks) parsed, and compared with what was sent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tq318::repair {

struct ListedFile {
    char disk = 'A';                   // 'A' or 'B'
    std::string name;                  // as listed, bytes
    std::optional<uint64_t> size;      // null when the entry shows no hex digit
};

struct Listing {
    uint16_t code = 0;                 // 0, or why it cannot be read (62 no prompt, 51 no disk B, 52 no total)
    std::vector<ListedFile> files;
};

// Parses a whole "dir" reply: "Files in Disk A:" up to "Files in Disk B:",
// then disk B; each section's entries "<i>) <name> ..." with the size read
// from the whole run of hex digits 41 characters after the ")" (blanks
// skipped), and its "Total File number is <n>", which must match the entries
// found.
Listing parseListing(std::string_view reply);

// The name the controller stores for a file sent as `name`: the part after
// the last "/", "\" or ":", its last 12 characters, ASCII lower case.
std::string storedName(std::string_view name);

struct SentFile {
    std::string name;  // as listed in the package
    uint64_t size = 0;
};

// The difference lines ("<name>: missing", "<name>: size <listed>, expected
// <size>", "<name>: left over"), names as bytes; empty when the listing holds
// exactly what was sent. `disk` 'a'/'b' is where the files had to land; null
// when the controller chose the disk ("loadfirmware").
std::vector<std::string> compareListing(const Listing& listing, const std::vector<SentFile>& sent,
                                        std::optional<char> disk);

// compareListing against the disk that was asked for (`asked` 'a'/'b'). When
// the controller chose the disk itself (`controllerChose`, "loadfirmware")
// and holds exactly what was sent on the other disk, the one line says so:
// "members stored on disk B by the controller, not on disk A as asked".
std::vector<std::string> compareListingAsAsked(const Listing& listing, const std::vector<SentFile>& sent, char asked,
                                               bool controllerChose);

// "Firmware verify failure." and the lines, CR LF between, at most 20 lines
// and then "... and <n> more".
std::string verifyFailureText(const std::vector<std::string>& lines);

}  // namespace tq318::repair
