#include <windows.h>

#include "atomic_file.h"

namespace tovctl {

namespace {

std::string why_not(const std::string& file) {
    return file + ": Windows error " + std::to_string(::GetLastError());
}

}  // namespace

std::string write_atomically(const std::string& file, const std::string& text) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = file + "." + std::to_string(::GetCurrentProcessId()) + "." + std::to_string(attempt);
        const HANDLE h = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS) continue;
            return why_not(file);
        }
        DWORD wrote = 0;
        const bool written = text.size() < (1u << 30) &&
                             ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) &&
                             wrote == text.size() && ::FlushFileBuffers(h);
        std::string why = written ? std::string() : why_not(file);
        ::CloseHandle(h);
        if (why.empty() && !::MoveFileExA(temp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            why = why_not(file);
        if (!why.empty()) ::DeleteFileA(temp.c_str());
        return why;
    }
    return file + ": no free temporary name beside it";
}

}  // namespace tovctl
