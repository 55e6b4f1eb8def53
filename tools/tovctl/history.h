// tovctl history: the repair records, newest first.
#pragma once

#include <optional>

namespace tovctl {

// Prints the records (one line each, or one JSON object per line with
// `json`), at most `last` of them. Returns the exit status.
int run_history(bool json, std::optional<int> last);

}  // namespace tovctl
