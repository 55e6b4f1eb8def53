#include "regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tq318::repair {

namespace {

class Fd {
public:
    explicit Fd(const std::filesystem::path& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    // The descriptor when it names a regular file, else -1.
    int regular() const {
        struct stat info {};
        return fd_ >= 0 && ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode) ? fd_ : -1;
    }

private:
    int fd_;
};

}  // namespace

bool isReadableRegularFile(const std::filesystem::path& path) { return Fd(path).regular() >= 0; }

std::optional<std::vector<uint8_t>> readRegularFile(const std::filesystem::path& path) {
    const Fd file(path);
    const int fd = file.regular();
    if (fd < 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    uint8_t block[65536];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        bytes.insert(bytes.end(), block, block + n);
    }
    return bytes;
}

}  // namespace tq318::repair
