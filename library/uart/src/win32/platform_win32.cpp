// The serial layer's Windows calls besides the serial device itself: where
// the mapping file lives (%APPDATA%\tq318\ports) and its bounded read, the
// default device of a COM number, local time for the transcript.
#include <windows.h>

#include <cstdlib>
#include <ctime>
#include <memory>

#include "platform.h"
#include "ports_file.h"

namespace uart {

namespace {
struct HandleCloser {
    void operator()(void* h) const { ::CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;
}  // namespace

bool local_time(std::time_t t, std::tm& out) {
    return localtime_s(&out, &t) == 0;
}

std::string default_device_name(std::uint8_t port) { return "\\\\.\\COM" + std::to_string(port); }

namespace ports_file {

std::optional<std::string> path() {
    if (const char* appdata = std::getenv("APPDATA"); appdata != nullptr && *appdata != '\0') {
        return std::string(appdata) + "\\tq318\\ports";
    }
    return std::nullopt;
}

std::optional<std::string> file_text(const std::string& file) {
    HANDLE raw = ::CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        return (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) ? std::optional<std::string>("")
                                                                            : std::nullopt;
    }
    const Handle owned(raw);
    HANDLE h = owned.get();
    std::optional<std::string> text;
    if (::GetFileType(h) == FILE_TYPE_DISK) {
        std::string bytes(kMaxBytes + 1, '\0');
        std::size_t used = 0;
        bool failed = false;
        while (used < bytes.size()) {
            DWORD n = 0;
            failed = !::ReadFile(h, bytes.data() + used, static_cast<DWORD>(bytes.size() - used), &n, nullptr);
            if (failed || n == 0) break;
            used += n;
        }
        // At most one byte past kMaxBytes: enough to tell that the file is larger.
        bytes.resize(used);
        if (!failed) text = std::move(bytes);
    }
    return text;
}

}  // namespace ports_file

}  // namespace uart
