// The record of one repair: a JSON file per repair under
// $XDG_STATE_HOME/tq318/repairs/ (default ~/.local/state/tq318/repairs/;
// on Windows %LOCALAPPDATA%\tq318\repairs), written by the wizard and by
// tovctl alike.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tq318/repair/outcome.h"

namespace tq318::repair {

// What the front end knows about the run besides the engine's Outcome.
struct RecordContext {
    std::string frontEnd;   // "Pelorim" or "tovctl"
    std::string kind;       // "firmware" or "os"
    int port = 0;           // the COM number
    std::string device;     // its device path, "" when unknown
    std::string byId;       // its /dev/serial/by-id name, "" when there is none
    std::string banner;     // bytes, "" when no restart was seen
    std::string modeCode;   // bytes, "" when unknown
    std::chrono::system_clock::time_point started;
    std::chrono::system_clock::time_point ended;
};

// The folder records go to; nullopt when the environment names no place
// (recordFolderUnset() says which variables it lacks).
std::optional<std::filesystem::path> recordFolder();
std::string recordFolderUnset();

// The record as JSON text (strings converted from Latin-1 to UTF-8).
std::string recordJson(const RecordContext& context, const Outcome& outcome);

// Writes the record atomically (temporary file and rename, mode 0600) into
// recordFolder() and removes the oldest beyond kRecordsKept. Returns an error
// text for one line on standard error when it could not be written; a record
// that cannot be written never fails the repair.
inline constexpr std::size_t kRecordsKept = 500;
std::optional<std::string> writeRecord(const RecordContext& context, const Outcome& outcome);

}  // namespace tq318::repair
