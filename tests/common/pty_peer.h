// The test's end of a pseudo-terminal line: PtyPeer owns the master and plays
// the far end of a serial line byte by byte; SlavePort opens a slave raw, as
// the kit opens its serial port, to talk to the simulator's line.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>

namespace testing_support {

// One end of the line: bounded writes and reads on a non-blocking descriptor.
class PtyEnd {
public:
    ~PtyEnd() { close(); }
    PtyEnd(const PtyEnd&) = delete;
    PtyEnd& operator=(const PtyEnd&) = delete;

    bool ok() const { return fd_ >= 0; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // Writes every byte (false if the line takes none for 100 tries of 50 ms).
    bool write(std::string_view bytes) {
        for (int tries = 0; !bytes.empty() && tries < 100; ++tries) {
            const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
            if (n < 0 && errno != EAGAIN) return false;
            if (n > 0) bytes.remove_prefix(static_cast<std::size_t>(n));
            pollfd p{fd_, POLLOUT, 0};
            if (!bytes.empty()) ::poll(&p, 1, 50);
        }
        return bytes.empty();
    }
    // Reads until what this call read holds `text`, or `limit` passes, and returns it.
    std::string read_until(std::string_view text, std::chrono::milliseconds limit = std::chrono::seconds(3)) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (got.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            char buf[4096];
            const ssize_t n = ::poll(&p, 1, 10) > 0 ? ::read(fd_, buf, sizeof buf) : -2;
            if (n == 0 || (n == -1 && errno != EAGAIN)) break;
            if (n > 0) got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }

protected:
    PtyEnd() = default;
    int fd_ = -1;
};

// The far end: a new pseudo-terminal whose slave the kit opens.
class PtyPeer : public PtyEnd {
public:
    PtyPeer() {
        fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) throw std::runtime_error("no pseudo-terminal");
        slave_path_ = ::ptsname(fd_);
        // Raw on the slave side, so that bytes pass unchanged both ways.
        const int probe = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
        make_raw(probe);
        ::close(probe);
    }
    const std::string& slave_path() const { return slave_path_; }
    // The far end goes away: the kit's side sees a hang-up.
    void close_master() { close(); }

    static void make_raw(int fd) {
        termios t{};
        if (fd < 0 || ::tcgetattr(fd, &t) != 0) return;
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }

private:
    std::string slave_path_;
};

// The kit's end of a line someone else owns (the simulator), opened raw.
class SlavePort : public PtyEnd {
public:
    explicit SlavePort(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        PtyPeer::make_raw(fd_);
    }
};

// Sets UART_COM<port> for the life of the object.
class ComMapping {
public:
    ComMapping(int port, const std::string& device) : name_("UART_COM" + std::to_string(port)) {
        ::setenv(name_.c_str(), device.c_str(), 1);
    }
    ~ComMapping() { ::unsetenv(name_.c_str()); }
    ComMapping(const ComMapping&) = delete;
    ComMapping& operator=(const ComMapping&) = delete;

private:
    std::string name_;
};

}  // namespace testing_support
