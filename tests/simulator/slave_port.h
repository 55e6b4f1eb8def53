// The test's end of the line: the pty slave opened raw with plain termios.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>

namespace tq318::sim::testing {

class SlavePort {
 public:
  using Clock = std::chrono::steady_clock;

  explicit SlavePort(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    if (fd_ < 0) return;
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd_, TCSANOW, &t);
  }
  ~SlavePort() { close(); }
  SlavePort(const SlavePort&) = delete;
  SlavePort& operator=(const SlavePort&) = delete;

  bool ok() const { return fd_ >= 0; }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  bool write(std::string_view bytes) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!bytes.empty() && Clock::now() < deadline) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
      } else if (n < 0 && errno != EAGAIN) {
        return false;
      } else {
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, 50);
      }
    }
    return bytes.empty();
  }
  bool write(const void* data, std::size_t n) { return write(std::string_view(static_cast<const char*>(data), n)); }

  // Reads until `text` has arrived at the end of what was read, or `limit` passes.
  std::string read_until(std::string_view text, std::chrono::milliseconds limit) {
    std::string got;
    read_while([&] { return !got.ends_with(text); }, got, limit);
    return got;
  }
  // Reads exactly n bytes unless `limit` passes first.
  std::string read_n(std::size_t n, std::chrono::milliseconds limit) {
    std::string got;
    read_while([&] { return got.size() < n; }, got, limit);
    return got;
  }
  // Reads whatever arrives within `limit`.
  std::string read_for(std::chrono::milliseconds limit) {
    std::string got;
    read_while([] { return true; }, got, limit);
    return got;
  }
  // Time of arrival of the first byte and of the end of `text`, for timing checks.
  Clock::time_point first_byte_at() const { return first_; }
  Clock::time_point last_byte_at() const { return last_; }
  // Set when the line hung up (POLLHUP or a read error).
  bool hung_up() const { return hung_up_; }
  // Waits until the line reports a hang-up.
  bool wait_hang_up(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) {
        if (p.revents & (POLLHUP | POLLERR)) return true;
        char buf[256];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno == EIO)) return true;
      }
    }
    return false;
  }

 private:
  template <typename Pred>
  void read_while(Pred more, std::string& got, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    bool first = true;
    while (more()) {
      const auto now = Clock::now();
      if (now >= deadline) break;
      const int wait = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count()) + 1;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, wait) <= 0) continue;
      char buf[4096];
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n > 0) {
        if (first) first_ = Clock::now();
        first = false;
        last_ = Clock::now();
        got.append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || (n < 0 && errno != EAGAIN)) {
        hung_up_ = true;
        break;
      }
    }
  }

  int fd_ = -1;
  Clock::time_point first_{}, last_{};
  bool hung_up_ = false;
};

}  // namespace tq318::sim::testing
