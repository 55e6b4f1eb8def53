#include "tq318/repair/record_reader.h"

#include <algorithm>
#include <system_error>

#include "file_access.h"

namespace tq318::repair {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

std::optional<std::string> readBounded(const fs::path& file) {
    auto reader = FileReader::open(file, /*no_follow=*/true);
    const auto size = reader ? reader->size() : std::nullopt;
    if (!size || *size > kRecordMaxBytes) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(*size), '\0');
    std::size_t used = 0;
    while (used < bytes.size()) {
        const long n = reader->read(std::span(reinterpret_cast<std::uint8_t*>(bytes.data()) + used, bytes.size() - used));
        if (n <= 0) break;
        used += static_cast<std::size_t>(n);
    }
    if (used != bytes.size()) return std::nullopt;
    return bytes;
}

// Deeper than any record we write: such a file is not ours, and printing or
// freeing a tree that deep would recurse without bound.
constexpr int kMaxNesting = 16;

// The deepest nesting of arrays and objects in `text`, stopping once beyond kMaxNesting.
int nesting(std::string_view text) {
    int depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
            continue;
        }
        if (c == '"') inString = true;
        else if (c == '[' || c == '{') deepest = std::max(deepest, ++depth);
        else if (c == ']' || c == '}') --depth;
        if (deepest > kMaxNesting) break;
    }
    return deepest;
}

}  // namespace

bool isRecordFileName(std::string_view name) {
    // 20261207T113000.123Z-<pid>-<n>.json
    if (name.size() < 27 || !name.ends_with(".json") || name[8] != 'T' || name[19] != 'Z' || name[20] != '-')
        return false;
    for (const std::size_t i : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 9u, 10u, 11u, 12u, 13u, 14u, 16u, 17u, 18u})
        if (name[i] < '0' || name[i] > '9') return false;
    if (name[15] != '.') return false;
    // <pid>-<n>: digits and dashes only (the name also goes into JSON output).
    for (const char c : name.substr(21, name.size() - 21 - 5))
        if ((c < '0' || c > '9') && c != '-') return false;
    return true;
}

std::optional<Json> parseRecord(std::string_view text) {
    if (text.size() > kRecordMaxBytes || nesting(text) > kMaxNesting) return std::nullopt;
    Json j = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (!j.is_object()) return std::nullopt;
    for (const char* key : {"started", "ended", "frontEnd", "kind", "path", "outcome"}) {
        const auto it = j.find(key);
        if (it == j.end() || !it->is_string()) return std::nullopt;
    }
    const auto port = j.find("port");
    const auto members = j.find("members");
    if (port == j.end() || !port->is_number_integer() || members == j.end() || !members->is_array())
        return std::nullopt;
    // A COM number is 8 bits (0 where a path named the port).
    if (const auto n = port->get<std::int64_t>(); n < 0 || n > 255) return std::nullopt;
    return j;
}

RecordListing listRecords(const fs::path& folder, std::size_t limit) {
    RecordListing listing;
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        std::string name = entry.path().filename().string();
        if (isRecordFileName(name)) names.push_back(std::move(name));
        if (names.size() > 100000) break;  // far beyond what writeRecord keeps
    }
    std::sort(names.begin(), names.end(), std::greater<>());
    for (const std::string& name : names) {
        if (listing.records.size() >= limit) break;
        const auto text = readBounded(folder / name);
        auto record = text ? parseRecord(*text) : std::nullopt;
        if (!record) {
            ++listing.skipped;
            continue;
        }
        (*record)["file"] = name;
        listing.records.push_back(std::move(*record));
    }
    return listing;
}

}  // namespace tq318::repair
