#include "read_back.h"

#include <algorithm>
#include <cctype>

namespace tq318::repair {

namespace {

constexpr std::string_view kDiskAKey = "Files in Disk A:";
constexpr std::string_view kDiskBKey = "Files in Disk B:";
constexpr std::string_view kTotalKey = "Total File number is";
constexpr std::size_t kSizeFieldOffset = 41;  // from the ")" of an entry
constexpr std::size_t kMaxEntries = 1000;     // per disk: more than any 2048-byte listing holds
constexpr std::size_t kMaxShownLines = 20;
constexpr uint16_t kNoPrompt = 62;
constexpr uint16_t kNoDiskB = 51;
constexpr uint16_t kNoTotal = 52;

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), asciiLower);
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// One disk's section: its entry lines and its total. False when the total is missing or disagrees.
bool parseSection(std::string_view section, char disk, std::vector<ListedFile>& files) {
    std::size_t entries = 0;
    std::optional<uint64_t> total;
    for (const std::string_view line : linesOf(section)) {
        if (line.starts_with(kTotalKey)) {
            std::string_view rest = line.substr(kTotalKey.size());
            while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
            uint64_t n = 0;
            std::size_t digits = 0;
            for (; digits < rest.size() && digits < 9 && std::isdigit(static_cast<unsigned char>(rest[digits])); ++digits)
                n = n * 10 + static_cast<uint64_t>(rest[digits] - '0');
            if (digits == 0) return false;
            total = n;
            continue;
        }
        std::size_t digits = 0;
        while (digits < line.size() && digits < 4 && std::isdigit(static_cast<unsigned char>(line[digits]))) ++digits;
        if (digits == 0 || digits >= line.size() || line[digits] != ')') continue;
        if (++entries > kMaxEntries) return false;
        const std::size_t paren = digits;
        std::string_view rest = line.substr(paren + 1);
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        ListedFile file;
        file.disk = disk;
        file.name = std::string(rest.substr(0, rest.find(' ')));
        if (paren + kSizeFieldOffset < line.size()) {
            std::string_view field = line.substr(paren + kSizeFieldOffset);
            while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
            uint64_t size = 0;
            std::size_t hex = 0;
            for (; hex < field.size() && hex < 15 && hexValue(field[hex]) >= 0; ++hex)
                size = size * 16 + static_cast<uint64_t>(hexValue(field[hex]));
            if (hex > 0) file.size = size;
        }
        files.push_back(std::move(file));
    }
    return total && *total == entries;
}

}  // namespace

Listing parseListing(std::string_view reply) {
    Listing listing;
    while (!reply.empty() && (reply.back() == '\0')) reply.remove_suffix(1);
    if (reply.empty() || reply.back() != '>') {
        listing.code = kNoPrompt;
        return listing;
    }
    const std::size_t b = reply.find(kDiskBKey);
    if (b == std::string_view::npos) {
        listing.code = kNoDiskB;
        return listing;
    }
    const std::size_t a = reply.find(kDiskAKey);
    const std::string_view sectionA =
        a == std::string_view::npos || a > b ? reply.substr(0, b) : reply.substr(a + kDiskAKey.size(), b - a - kDiskAKey.size());
    const std::string_view sectionB = reply.substr(b + kDiskBKey.size());
    if (!parseSection(sectionA, 'A', listing.files) || !parseSection(sectionB, 'B', listing.files)) {
        listing.code = kNoTotal;
        listing.files.clear();
    }
    return listing;
}

std::string storedName(std::string_view name) {
    const std::size_t cut = name.find_last_of("/\\:");
    std::string_view last = cut == std::string_view::npos ? name : name.substr(cut + 1);
    if (last.size() > 12) last = last.substr(last.size() - 12);
    return lowered(last);
}

std::vector<std::string> compareListing(const Listing& listing, const std::vector<SentFile>& sent,
                                        std::optional<char> disk) {
    std::vector<std::string> lines;
    std::vector<bool> matched(listing.files.size(), false);
    const std::optional<char> wanted = disk ? std::optional<char>(*disk == 'a' || *disk == 'A' ? 'A' : 'B') : std::nullopt;
    for (const SentFile& file : sent) {
        const std::string stored = storedName(file.name);
        std::size_t found = listing.files.size();
        for (std::size_t i = 0; i < listing.files.size(); ++i) {
            const ListedFile& listed = listing.files[i];
            if (matched[i] || (wanted && listed.disk != *wanted) || lowered(listed.name) != stored) continue;
            found = i;
            break;
        }
        if (found == listing.files.size()) {
            lines.push_back(file.name + ": missing");
            continue;
        }
        matched[found] = true;
        const auto& listedSize = listing.files[found].size;
        if (!listedSize || *listedSize != file.size)
            lines.push_back(file.name + ": size " + (listedSize ? std::to_string(*listedSize) : std::string("?")) +
                            ", expected " + std::to_string(file.size));
    }
    for (std::size_t i = 0; i < listing.files.size(); ++i) {
        if (!matched[i]) lines.push_back(listing.files[i].name + ": left over");
    }
    return lines;
}

std::vector<std::string> compareListingAsAsked(const Listing& listing, const std::vector<SentFile>& sent, char asked,
                                               bool controllerChose) {
    const bool askedA = asked == 'a' || asked == 'A';
    std::vector<std::string> lines = compareListing(listing, sent, askedA ? 'a' : 'b');
    if (lines.empty() || !controllerChose || sent.empty()) return lines;
    if (compareListing(listing, sent, askedA ? 'b' : 'a').empty()) {
        return {std::string("members stored on disk ") + (askedA ? "B" : "A") + " by the controller, not on disk " +
                (askedA ? "A" : "B") + " as asked"};
    }
    return lines;
}

std::string verifyFailureText(const std::vector<std::string>& lines) {
    std::string text = "Firmware verify failure.";
    for (std::size_t i = 0; i < lines.size() && i < kMaxShownLines; ++i) text += "\r\n" + lines[i];
    if (lines.size() > kMaxShownLines) text += "\r\n... and " + std::to_string(lines.size() - kMaxShownLines) + " more";
    return text;
}

}  // namespace tq318::repair
