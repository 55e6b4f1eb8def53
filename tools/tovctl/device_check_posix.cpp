// Whether a path names a terminal a controller could be reached through.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "port_assign.h"

namespace tovctl {

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

}  // namespace tovctl

namespace tovctl {

const DeviceNaming& device_naming() {
    static const DeviceNaming naming{
        "/dev/ttyUSB0", "/dev/ttyS<N-1>", "$XDG_CONFIG_HOME/tq318/ports, default ~/.config/tq318/ports",
        "neither XDG_CONFIG_HOME nor HOME is set",
        "  Your user may not use serial ports. Join the dialout group:\n"
        "    sudo usermod -aG dialout $USER\n"
        "  then log out and in again.\n"};
    return naming;
}

std::optional<std::string> assignable_device(const std::string& device, std::string& why) {
    if (!device.empty() && device.front() == '/') return device;
    why = "the device must be an absolute path, such as /dev/ttyUSB0";
    return std::nullopt;
}

}  // namespace tovctl
