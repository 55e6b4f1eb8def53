// Stand-in for record.cpp until the records' writer joins this branch:
// writes nothing and reports nothing. Delete this file when record.cpp is
// added (CMakeLists.txt takes record.cpp when it exists).
#include "tq318/repair/record.h"

namespace tq318::repair {

std::optional<std::filesystem::path> recordFolder() { return std::nullopt; }

std::string recordJson(const RecordContext&, const Outcome&) { return {}; }

std::optional<std::string> writeRecord(const RecordContext&, const Outcome&) { return std::nullopt; }

}  // namespace tq318::repair
