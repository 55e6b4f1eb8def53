// Reading the repair records back (tovctl history).
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace tq318::repair {

// A larger file is not one of our records.
inline constexpr std::size_t kRecordMaxBytes = 1024 * 1024;

// The record in `text` when it is one (a JSON object with the fields every
// record has: started, ended, frontEnd, kind, port, path, outcome, members).
std::optional<nlohmann::ordered_json> parseRecord(std::string_view text);

struct RecordListing {
    std::vector<nlohmann::ordered_json> records;  // newest first
    std::size_t skipped = 0;                       // record files that could not be read or parsed
};

// The records in `folder`, newest first, at most `limit` of them.
RecordListing listRecords(const std::filesystem::path& folder, std::size_t limit);

// True for the outcome names a record is written with ("verified", "unproven", "failed", "abandoned").
bool isOutcomeName(std::string_view name);

// True for the names writeRecord gives (so pruning and listing touch nothing else).
bool isRecordFileName(std::string_view name);

}  // namespace tq318::repair
