// Opening the file a transfer sends, on Windows: attributes, size and the
// last-write time in local time come from the file's handle.
#include <windows.h>

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <io.h>

#include "transfer.h"

namespace tovrane {

namespace {

std::optional<std::tm> local_write_time(HANDLE h) {
    FILETIME written{};
    FILETIME local{};
    SYSTEMTIME st{};
    if (!::GetFileTime(h, nullptr, nullptr, &written) || !::FileTimeToLocalFileTime(&written, &local) ||
        !::FileTimeToSystemTime(&local, &st)) {
        return std::nullopt;
    }
    std::tm tm{};
    tm.tm_year = st.wYear - 1900;
    tm.tm_mon = st.wMonth - 1;
    tm.tm_mday = st.wDay;
    tm.tm_hour = st.wHour;
    tm.tm_min = st.wMinute;
    tm.tm_sec = st.wSecond;
    return tm;
}

}  // namespace

SourceFile open_source(const char* path) {
    SourceFile source;
    if (path == nullptr || *path == '\0') return source;
    HANDLE h = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        source.state = (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
                           ? SourceFile::State::kMissing
                           : SourceFile::State::kUnusable;
        return source;
    }
    source.state = SourceFile::State::kUnusable;
    LARGE_INTEGER size{};
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileSizeEx(h, &size) ||
        static_cast<std::uint64_t>(size.QuadPart) > kLargestFile) {
        ::CloseHandle(h);
        return source;
    }
    source.size = static_cast<std::uint64_t>(size.QuadPart);
    source.written = local_write_time(h);
    // The stream takes the handle over: closing the stream closes it.
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(h);
        return source;
    }
    source.file.reset(::_fdopen(fd, "rb"));
    if (!source.file) {
        ::_close(fd);
        return source;
    }
    source.state = SourceFile::State::kReady;
    return source;
}

}  // namespace tovrane
