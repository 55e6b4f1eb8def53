// Where records go on Windows: %LOCALAPPDATA%\tq318\repairs (an absolute
// path only; a relative one would follow the current folder).
#include <windows.h>

#include <vector>

#include "tq318/repair/record.h"

namespace tq318::repair {

std::optional<std::filesystem::path> recordFolder() {
    const DWORD needed = ::GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    if (needed == 0 || needed > 32768) return std::nullopt;
    std::vector<wchar_t> value(needed);
    const DWORD n = ::GetEnvironmentVariableW(L"LOCALAPPDATA", value.data(), needed);
    if (n == 0 || n >= needed) return std::nullopt;
    const std::filesystem::path base(std::wstring(value.data(), n));
    if (!base.is_absolute()) return std::nullopt;
    return base / "tq318" / "repairs";
}

std::string recordFolderUnset() { return "LOCALAPPDATA is not set to a full path: no place for records"; }

}  // namespace tq318::repair
