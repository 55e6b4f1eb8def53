// A bare pseudo-terminal pair for tests that need to play the far end of a
// serial line byte by byte (the simulator plays a whole controller).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

class PtyPeer {
public:
    PtyPeer() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        slave_path_ = ::ptsname(master_);
        termios t{};
        // Raw on the master side too, so that bytes pass unchanged both ways.
        const int probe = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
        if (probe >= 0) {
            ::tcgetattr(probe, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(probe, TCSANOW, &t);
            ::close(probe);
        }
    }
    ~PtyPeer() { close_master(); }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& slave_path() const { return slave_path_; }

    void write(std::string_view bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) throw std::runtime_error("pty write failed");
            done += static_cast<std::size_t>(n);
        }
    }

    // Reads what the kit sent until `until` appears or the time limit passes.
    std::string read_until(std::string_view until, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (received_.find(until) == std::string::npos &&
               std::chrono::steady_clock::now() < end) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 5) > 0 && (p.revents & POLLIN)) {
                char buf[512];
                const ssize_t n = ::read(master_, buf, sizeof buf);
                if (n > 0) received_.append(buf, static_cast<std::size_t>(n));
            }
        }
        return received_;
    }
    std::string received() const { return received_; }
    void clear_received() { received_.clear(); }

    void close_master() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    std::string slave_path_;
    std::string received_;
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
