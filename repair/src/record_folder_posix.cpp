// Where records go on Linux: $XDG_STATE_HOME/tq318/repairs, else
// ~/.local/state/tq318/repairs.
#include <cstdlib>

#include "tq318/repair/record.h"

namespace tq318::repair {

std::optional<std::filesystem::path> recordFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
        return std::filesystem::path(state) / "tq318" / "repairs";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::filesystem::path(home) / ".local" / "state" / "tq318" / "repairs";
    }
    return std::nullopt;
}

std::string recordFolderUnset() { return "neither XDG_STATE_HOME nor HOME is set: no place for records"; }

}  // namespace tq318::repair
