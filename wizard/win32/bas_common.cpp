#include "bas_common.h"

#include <windows.h>

#include <vector>

#include "runtime_error.h"

namespace pelorim {

std::string unquotedText(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    std::string result = text.substr(first, text.find_last_not_of(' ') - first + 1);
    if (!result.empty() && result.front() == '"' && result.back() == '"')
        result = result.size() >= 2 ? result.substr(1, result.size() - 2) : std::string();
    return result;
}

bool fileCanBeOpened(const std::string& path) {
    std::string bare = unquotedText(path);
    if (!bare.empty() && bare.back() == '\\') bare.pop_back();
    if (bare.empty()) return false;
    const HANDLE file = ::CreateFileA(bare.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;  // a folder cannot be opened without backup semantics
    const bool disk = ::GetFileType(file) == FILE_TYPE_DISK;
    ::CloseHandle(file);
    return disk;
}

std::string shortPathOf(const std::string& path) {
    std::vector<char> buffer(300, '\0');
    const DWORD n = ::GetShortPathNameA(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) return path;
    return textBeforeNul(std::string(buffer.data(), buffer.size()));
}

std::string textBeforeNul(const std::string& text) {
    const auto nul = text.find('\0');
    return nul == std::string::npos ? text : text.substr(0, nul);
}

void killWinTemp(const std::string& name, const std::string& windowsFolder) {
    std::string folder = windowsFolder;
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    if (folder.empty()) return;
    if (name.empty() || name == "." || name == ".." || name.find_first_of("\\/:") != std::string::npos) return;
    const std::string path = folder + "\\" + name;
    if (!fileCanBeOpened(path)) return;
    if (!::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL))
        throw FileError("cannot clear the attributes of " + path + " (error " + std::to_string(::GetLastError()) + ")");
    if (!::DeleteFileA(path.c_str()))
        throw FileError("cannot delete " + path + " (error " + std::to_string(::GetLastError()) + ")");
}

}  // namespace pelorim
