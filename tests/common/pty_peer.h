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
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// One end of the line: bounded writes and reads on a non-blocking descriptor.
class PtyEnd {
public:
    using Clock = std::chrono::steady_clock;

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
    // Reads until what this call read ends with `text` (or, with `anywhere`,
    // holds it), or `limit` passes; every byte is also kept in received().
    std::string read_until(std::string_view text, std::chrono::milliseconds limit = std::chrono::seconds(3),
                           bool anywhere = false) {
        std::string got;
        const auto deadline = Clock::now() + limit;
        auto done = [&] { return anywhere ? got.find(text) != std::string::npos : got.ends_with(text); };
        while (!done() && Clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            char buf[4096];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n == 0 || (n < 0 && errno != EAGAIN)) break;
            if (n < 0) continue;
            if (got.empty()) first_byte_at = Clock::now();
            last_byte_at = Clock::now();
            got.append(buf, static_cast<std::size_t>(n));
        }
        received_ += got;
        return got;
    }
    std::string received() const { return received_; }
    void clear_received() { received_.clear(); }
    // Arrival times of the first and the last byte of the last read.
    Clock::time_point first_byte_at, last_byte_at;
    // Waits until the line reports a hang-up: POLLHUP, end of file or EIO.
    bool wait_hang_up(std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            if (p.revents & (POLLHUP | POLLERR)) return true;
            char buf[256];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n == 0 || (n < 0 && errno == EIO)) return true;
        }
        return false;
    }

protected:
    PtyEnd() = default;
    int fd_ = -1;

private:
    std::string received_;
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
        if (probe >= 0) {
            termios t{};
            ::tcgetattr(probe, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(probe, TCSANOW, &t);
            ::close(probe);
        }
    }
    const std::string& slave_path() const { return slave_path_; }
    // Reads what the kit sent until `until` appears or the time limit passes;
    // returns everything received so far.
    std::string read_until(std::string_view until, std::chrono::milliseconds limit) {
        PtyEnd::read_until(until, limit, /*anywhere=*/true);
        return received();
    }
    // The far end goes away: the kit's side sees a hang-up.
    void close_master() { close(); }

private:
    std::string slave_path_;
};

// The kit's end of a line someone else owns (the simulator), opened raw.
class SlavePort : public PtyEnd {
public:
    explicit SlavePort(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
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
