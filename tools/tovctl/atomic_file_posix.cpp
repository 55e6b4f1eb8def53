#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "atomic_file.h"

namespace tovctl {

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


}  // namespace tovctl
