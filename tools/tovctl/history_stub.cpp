// Stand-in for history.cpp until the records' reader joins this branch:
// lists nothing. Delete this file when history.cpp is added (CMakeLists.txt
// takes history.cpp when it exists).
#include "history.h"

namespace tovctl {

int run_history(bool, std::optional<int>) { return 0; }

}  // namespace tovctl
