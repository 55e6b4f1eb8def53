// Windows resolves a name by its own rules (drives, trailing dots and
// blanks, device names, short names): the path it makes of a member's name
// is asked of GetFullPathNameW, and the file it opened of
// GetFinalPathNameByHandleW.
#include "member_path.h"

#include <windows.h>

#include <vector>

namespace tq318::repair {

namespace {

std::wstring fullPathOf(const std::wstring& path) {
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::vector<wchar_t> buffer(needed + 1);
    const DWORD got = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    return got == 0 || got >= buffer.size() ? std::wstring() : std::wstring(buffer.data(), got);
}

// The path of an open file or folder as the system resolved it; empty when it cannot tell.
std::wstring finalPathOf(HANDLE h) {
    const DWORD needed = ::GetFinalPathNameByHandleW(h, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (needed == 0) return {};
    std::vector<wchar_t> buffer(needed + 1);
    const DWORD got = ::GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return got == 0 || got >= buffer.size() ? std::wstring() : std::wstring(buffer.data(), got);
}

// Opens the file or folder itself, never what a reparse point leads to.
struct Opened {
    explicit Opened(const std::filesystem::path& path)
        : handle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                               nullptr)) {}
    ~Opened() {
        if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;
    HANDLE handle;
};

bool sameIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::string shown(const std::wstring& path) { return std::filesystem::path(path).string(); }

}  // namespace

PathLimits platformPathLimits() { return {255, MAX_PATH - 1}; }

std::string placedPathProblem(const std::filesystem::path& folder, std::string_view name) {
    const std::filesystem::path path = folder / std::string(name);
    const std::wstring expected = fullPathOf(folder.native()) + L"\\" + std::filesystem::path(std::string(name)).native();
    const std::wstring full = fullPathOf(path.native());
    // Exactly: Windows changes neither the folder nor the name on the way.
    if (full.empty() || full != expected) return "Windows resolves its path to " + shown(full.empty() ? path.native() : full);
    return {};
}

std::string unpackedPathProblem(const std::filesystem::path& folder, std::string_view name) {
    const std::filesystem::path path = folder / std::string(name);
    const Opened file(path);
    const Opened dir(folder);
    BY_HANDLE_FILE_INFORMATION info{};
    if (file.handle == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(file.handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return "it was not unpacked as a regular file";
    }
    const std::wstring finalFile = finalPathOf(file.handle);
    const std::wstring finalFolder = dir.handle == INVALID_HANDLE_VALUE ? std::wstring() : finalPathOf(dir.handle);
    const std::wstring expected = finalFolder + L"\\" + std::filesystem::path(std::string(name)).native();
    if (finalFolder.empty() || !sameIgnoringCase(finalFile, expected))
        return "it was unpacked to " + shown(finalFile.empty() ? path.native() : finalFile) + ", outside the work folder";
    return {};
}

}  // namespace tq318::repair
