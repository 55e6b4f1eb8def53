#include "port_assign.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "ports_file.h"

namespace tovctl {

namespace {

namespace fs = std::filesystem;

// The file's current text, "" when it is missing; nullopt when it is there but
// cannot be taken as a mapping (not a regular file, too large, unreadable).
std::optional<std::string> current_text(const std::string& file, std::string& why) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::string();
        why = file + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              static_cast<std::size_t>(st.st_size) <= uart::ports_file::kMaxBytes;
    if (ok) {
        text.resize(static_cast<std::size_t>(st.st_size));
        std::size_t used = 0;
        while (used < text.size()) {
            const ssize_t n = ::read(fd, text.data() + used, text.size() - used);
            if (n <= 0) break;
            used += static_cast<std::size_t>(n);
        }
        ok = used == text.size();
    }
    ::close(fd);
    if (!ok) why = file + ": not a mapping file (not a regular file, unreadable or over 64 KiB)";
    return ok ? std::optional(text) : std::nullopt;
}

// Temporary file beside the target, then rename: a reader never sees half a file.
std::string write_atomically(const std::string& file, const std::string& text) {
    std::string temp = file + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return file + ": " + std::strerror(errno);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool written = done == text.size() && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    if (!written || ::rename(temp.c_str(), file.c_str()) != 0) {
        const std::string why = file + ": " + std::strerror(written ? errno : saved);
        ::unlink(temp.c_str());
        return why;
    }
    return {};
}

}  // namespace

std::string assign_port(int port, const std::string& device) {
    if (port < 1 || port > 255) return "COM number " + std::to_string(port) + " is not 1..255";
    if (device.empty() || device.front() != '/') return "the device must be an absolute path, such as /dev/ttyUSB0";
    if (device.find_first_of("\r\n") != std::string::npos) return "the device path holds a line break";
    const auto file = uart::ports_file::path();
    if (!file) return "neither XDG_CONFIG_HOME nor HOME is set: no place for the mapping file";
    std::error_code ec;
    fs::create_directories(fs::path(*file).parent_path(), ec);
    if (ec) return fs::path(*file).parent_path().string() + ": " + ec.message();
    std::string why;
    const auto text = current_text(*file, why);
    if (!text) return why;
    return write_atomically(*file, uart::ports_file::with_assignment(*text, port, device));
}

}  // namespace tovctl
