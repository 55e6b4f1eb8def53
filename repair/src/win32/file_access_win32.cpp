#include "file_access.h"

#include <windows.h>

#include <utility>

namespace tq318::repair {

namespace {

HANDLE handle_of(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

std::string last_error_text(const std::filesystem::path& path) {
    const DWORD code = ::GetLastError();
    char text[256] = "";
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                     text, sizeof text, nullptr);
    std::string message(text, n);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    if (message.empty()) message = "error " + std::to_string(code);
    return path.string() + ": " + message;
}

}  // namespace

std::optional<FileReader> FileReader::open(const std::filesystem::path& path, bool no_follow) {
    // Opening the link itself (not its target) shows whether it is one.
    const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, no_follow ? FILE_FLAG_OPEN_REPARSE_POINT : 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    FileReader reader(reinterpret_cast<std::intptr_t>(h));
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return std::nullopt;
    }
    return reader;
}

FileReader::FileReader(FileReader&& other) noexcept
    : handle_(std::exchange(other.handle_, reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE))) {}

FileReader& FileReader::operator=(FileReader&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
}

FileReader::~FileReader() {
    if (handle_of(handle_) != INVALID_HANDLE_VALUE) ::CloseHandle(handle_of(handle_));
}

std::optional<std::uint64_t> FileReader::size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle_of(handle_), &size) || size.QuadPart < 0) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

long FileReader::read(std::span<std::uint8_t> into) {
    DWORD got = 0;
    const DWORD want = into.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(into.size());
    if (!::ReadFile(handle_of(handle_), into.data(), want, &got, nullptr)) return -1;
    return static_cast<long>(got);
}

PathKind pathKind(const std::filesystem::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Folder;
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return PathKind::Other;
    const auto reader = FileReader::open(path);
    return reader ? PathKind::Regular : PathKind::Other;
}

std::string writeNewFile(const std::filesystem::path& path, std::string_view bytes) {
    // CREATE_NEW never opens an existing file or link; the folder is the owner's.
    const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return last_error_text(path);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t left = bytes.size() - done;
        DWORD wrote = 0;
        if (!::WriteFile(h, bytes.data() + done, left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left), &wrote,
                         nullptr) ||
            wrote == 0) {
            break;
        }
        done += wrote;
    }
    const bool written = done == bytes.size() && ::FlushFileBuffers(h);
    const std::string failure = written ? std::string() : last_error_text(path);
    ::CloseHandle(h);
    return failure;
}

std::string replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return last_error_text(to);
    return {};
}

unsigned long processNumber() { return ::GetCurrentProcessId(); }

std::tm utcCalendar(std::time_t seconds) {
    std::tm tm{};
    gmtime_s(&tm, &seconds);
    return tm;
}

// The records folder lies under the user's own profile; a reparse point in
// its place is not followed.
std::string writeIntoOwnFolder(const std::filesystem::path& folder, const std::string& name, std::string_view bytes) {
    std::error_code ec;
    for (const std::filesystem::path& p : {folder.parent_path(), folder}) {
        if (std::filesystem::is_symlink(std::filesystem::symlink_status(p, ec)))
            return p.string() + ": is a symbolic link, not our own folder; no record written";
    }
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec)) {
        return folder.string() + ": " + (ec ? ec.message() : std::string("not a folder"));
    }
    const std::filesystem::path temp = folder / ("." + name + ".tmp");
    std::string why = writeNewFile(temp, bytes);
    if (why.empty()) why = replaceFile(temp, folder / name);
    if (!why.empty()) std::filesystem::remove(temp, ec);
    return why;
}

}  // namespace tq318::repair
