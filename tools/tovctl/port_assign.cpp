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

bool has_control_bytes(const std::string& device) {
    for (const char c : device) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f) return true;
    }
    return false;
}

std::string device_problem(const std::string& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return std::string("it cannot be found: ") + std::strerror(errno);
    if (S_ISREG(st.st_mode)) return "it is a regular file, not a serial device";
    if (S_ISDIR(st.st_mode)) return "it is a folder, not a serial device";
    if (!S_ISCHR(st.st_mode)) return "it is not a character device";
    // Without blocking on carrier and without becoming our terminal.
    const int fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        // Busy or not ours to open: it exists as a character device, which is
        // as much as can be checked without the user's rights to it.
        return errno == ENXIO || errno == ENODEV ? std::string("it is not present: ") + std::strerror(errno)
                                                 : std::string();
    }
    const bool terminal = ::isatty(fd) == 1;
    ::close(fd);
    return terminal ? std::string() : "it is not a terminal (not a serial device)";
}

std::string assign_port(int port, const std::string& device) {
    if (port < 1 || port > 255) return "COM number " + std::to_string(port) + " is not 1..255";
    if (device.empty() || device.front() != '/') return "the device must be an absolute path, such as /dev/ttyUSB0";
    if (has_control_bytes(device)) return "the device path holds a control character";
    const auto file = uart::ports_file::path();
    if (!file) return "neither XDG_CONFIG_HOME nor HOME is set: no place for the mapping file";
    std::error_code ec;
    fs::create_directories(fs::path(*file).parent_path(), ec);
    if (ec) return fs::path(*file).parent_path().string() + ": " + ec.message();
    const auto text = uart::ports_file::file_text(*file);
    if (!text) return *file + ": not a mapping file (not a regular file, unreadable or over 64 KiB)";
    return write_atomically(*file, uart::ports_file::with_assignment(*text, port, device));
}

}  // namespace tovctl
