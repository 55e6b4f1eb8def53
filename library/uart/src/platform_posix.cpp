// The serial layer's POSIX calls besides the serial device itself: where the
// mapping file lives and its bounded read, the default device of a COM
// number, local time for the transcript.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform.h"
#include "ports_file.h"

namespace uart {

bool local_time(std::time_t t, std::tm& out) {
    return localtime_r(&t, &out) != nullptr;
}

std::string default_device_name(std::uint8_t port) { return "/dev/ttyS" + std::to_string(port - 1); }

namespace ports_file {

std::optional<std::string> path() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
        return std::string(config) + "/tq318/ports";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::string(home) + "/.config/tq318/ports";
    }
    return std::nullopt;
}

std::optional<std::string> file_text(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? std::optional<std::string>("") : std::nullopt;
    std::optional<std::string> text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        std::string bytes(kMaxBytes + 1, '\0');
        std::size_t used = 0;
        bool failed = false;
        while (used < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
            if (n <= 0) {
                failed = n < 0;
                break;
            }
            used += static_cast<std::size_t>(n);
        }
        // At most one byte past kMaxBytes: enough to tell that the file is larger.
        bytes.resize(used);
        if (!failed) text = std::move(bytes);
    }
    ::close(fd);
    return text;
}

}  // namespace ports_file

}  // namespace uart
