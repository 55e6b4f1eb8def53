#include "member_name.h"

#include <array>
#include <cstdio>
#include <vector>

namespace tq318::repair {

namespace {

constexpr std::string_view kOutside = ", so it would be unpacked outside the work folder)";

bool isControl(unsigned char c) { return c < 0x20 || c == 0x7F; }
bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Upper case as Windows compares names: ASCII and the Latin-1 letters.
char upper(char c) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7)) return static_cast<char>(u - 0x20);
    return c;
}

std::string upperCase(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) c = upper(c);
    return folded;
}

// The device a name opens on Windows whatever follows its first dot; empty
// when it is no device's. Blanks before the dot do not count there.
std::string_view deviceOf(std::string_view name) {
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    static constexpr std::array<std::string_view, 6> kPlain{"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    const std::string upperBase = upperCase(base);
    for (const std::string_view device : kPlain) {
        if (upperBase == device) return device;
    }
    // COM1-COM9 and LPT1-LPT9, the superscript digits of Latin-1 included.
    if (upperBase.size() == 4 && (upperBase.starts_with("COM") || upperBase.starts_with("LPT"))) {
        const auto digit = static_cast<unsigned char>(upperBase[3]);
        if ((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3)
            return upperBase.starts_with("COM") ? "COM" : "LPT";
    }
    return {};
}

// Why one name cannot be a file of its own in the work folder; empty when it can.
std::string nameProblem(std::string_view name, std::size_t folderLength, const PathLimits& limits) {
    for (const char c : name) {
        if (isControl(static_cast<unsigned char>(c))) return "(a control character)";
    }
    if (name.find_first_of("/\\") != std::string_view::npos) return "(it names a folder" + std::string(kOutside);
    if (name.size() >= 2 && isAsciiLetter(name[0]) && name[1] == ':')
        return "(it names the drive " + std::string(name.substr(0, 2)) + std::string(kOutside);
    if (const auto at = name.find_first_of("<>:\"|?*"); at != std::string_view::npos)
        return "(Windows forbids the character " + std::string(1, name[at]) + " in a file name)";
    if (name.find_first_not_of('.') == std::string_view::npos) return "(it names a folder" + std::string(kOutside);
    if (name.back() == '.' || name.back() == ' ')
        return "(Windows drops a trailing dot or blank: it would be unpacked under another name)";
    if (const std::string_view device = deviceOf(name); !device.empty())
        return "(" + std::string(device) + " is a device on Windows, not a file)";
    if (name.size() > limits.name)
        return "(" + std::to_string(name.size()) + " bytes long, more than the " + std::to_string(limits.name) +
               " a file name may be)";
    if (const std::size_t length = folderLength + 1 + name.size(); length > limits.path)
        return "(its path in the work folder would be " + std::to_string(length) + " characters long, more than the " +
               std::to_string(limits.path) + " this system opens)";
    return {};
}

}  // namespace

std::string shownName(std::string_view name) {
    std::string shown;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (!isControl(u)) {
            shown += c;
            continue;
        }
        std::array<char, 5> escaped{};
        std::snprintf(escaped.data(), escaped.size(), "\\x%02X", u);
        shown += escaped.data();
    }
    return shown;
}

std::string memberNamesProblem(std::span<const std::string> names, std::size_t folderLength,
                               const PathLimits& limits) {
    std::vector<std::pair<std::string, const std::string*>> folded;  // upper case, the name
    for (const std::string& name : names) {
        if (name.empty()) continue;
        const std::string refused = "the member name \"" + shownName(name) + "\" is refused ";
        if (std::string why = nameProblem(name, folderLength, limits); !why.empty()) return refused + why;
        const std::string key = upperCase(name);
        for (const auto& [otherKey, other] : folded) {
            if (otherKey == key && *other != name)
                return refused + "(Windows takes it for \"" + shownName(*other) + "\", another member)";
        }
        folded.emplace_back(key, &name);
    }
    return {};
}

}  // namespace tq318::repair
