#include "pty_driver.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace tq318::sim {

PtyDriver::PtyDriver(DriverShared& shared)
    : shared_(shared),
      rx_(shared.baud, PacedQueue::Edge::end),
      tx_(shared.baud, PacedQueue::Edge::start),
      adapter_(shared.adapter_latency_ms, shared.adapter_packet) {
  Pty pty = open_pty();
  master_ = std::move(pty.master);
  slave_path_ = std::move(pty.slave);
  wake_fd_ = Fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!wake_fd_.valid()) throw std::system_error(errno, std::generic_category(), "eventfd");
  std::lock_guard lock(shared_.mutex);
  shared_.hung_up = false;
  shared_.slave_open = false;
}

PtyDriver::~PtyDriver() {
  stop_ = true;
  wake();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(shared_.mutex);
  shared_.slave_open = false;
  shared_.changed.notify_all();
}

void PtyDriver::start() {
  if (thread_.joinable()) return;
  if (shared_.boot_on_start) {
    std::lock_guard lock(shared_.mutex);
    shared_.console.power_restart(now_ms());
  }
  thread_ = std::thread([this] { run(); });
}

void PtyDriver::wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto n = ::write(wake_fd_.get(), &one, sizeof one);
}

void PtyDriver::hang_up() {
  if (!thread_.joinable()) {
    close_master();
    return;
  }
  hang_up_request_ = true;
  wake();
  std::unique_lock lock(shared_.mutex);
  shared_.changed.wait_for(lock, std::chrono::seconds(2), [&] { return shared_.hung_up; });
}

void PtyDriver::close_master() {
  master_.reset();
  std::lock_guard lock(shared_.mutex);
  shared_.hung_up = true;
  shared_.slave_open = false;
  shared_.changed.notify_all();
}

bool PtyDriver::update_slave_state(std::int64_t now) {
  const SlaveState state = slave_state(master_.get());
  if (state == SlaveState::gone) return false;
  const bool open = state == SlaveState::open;
  if (open != open_) {
    open_ = open;
    write_blocked_ = false;
    restart_at_.reset();
    if (open && shared_.restart_after_open_ms >= 0)
      restart_at_ = now + std::int64_t{shared_.restart_after_open_ms} * 1'000'000;
    if (!open) {
      // What the peer wrote just before it closed still reaches the console,
      // as a real port drains its output on close; replies go nowhere.
      char buf[kRxLimit];
      while (rx_.size() < kRxLimit) {
        const ssize_t n = ::read(master_.get(), buf, kRxLimit - rx_.size());
        if (n <= 0) break;
        rx_.push(std::string_view(buf, static_cast<std::size_t>(n)), now);
      }
      tx_.clear();  // nothing is listening: what the line carries is lost
      adapter_.clear();
    }
    std::lock_guard lock(shared_.mutex);
    shared_.slave_open = open;
    shared_.changed.notify_all();
  }
  return true;
}

void PtyDriver::read_input(std::int64_t now) {
  if (!open_ || rx_.size() >= kRxLimit) return;
  char buf[kRxLimit];
  const ssize_t n = ::read(master_.get(), buf, kRxLimit - rx_.size());
  if (n > 0) rx_.push(std::string_view(buf, static_cast<std::size_t>(n)), now);
  // EIO means the slave was closed: the next state check notices it.
}

void PtyDriver::write_output(std::int64_t now) {
  write_blocked_ = false;
  if (!open_) return;
  const std::size_t n = tx_.due_count(now);
  if (adapter_.enabled()) {
    // The line's bytes go into the adapter; the pty gets what it has released.
    if (n > 0) {
      adapter_.push(tx_.front(n), now);
      tx_.consume(n);
    }
    const std::string_view bytes = adapter_.ready(now);
    if (bytes.empty()) return;
    const ssize_t w = ::write(master_.get(), bytes.data(), bytes.size());
    if (w > 0) adapter_.consume(static_cast<std::size_t>(w));
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) write_blocked_ = true;
    return;
  }
  if (n == 0) return;
  const std::string_view bytes = tx_.front(n);
  const ssize_t w = ::write(master_.get(), bytes.data(), bytes.size());
  if (w > 0) tx_.consume(static_cast<std::size_t>(w));
  if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) write_blocked_ = true;
}

void PtyDriver::wait(std::int64_t deadline) {
  std::int64_t timeout = deadline - now_ns();
  if (!open_) timeout = std::min(timeout, kSlavePollNs);  // POLLHUP would not wake us: look again soon
  timeout = std::max<std::int64_t>(timeout, 0);
  pollfd fds[2] = {{wake_fd_.get(), POLLIN, 0}, {-1, 0, 0}};
  if (open_) {
    fds[1].fd = master_.get();
    if (rx_.size() < kRxLimit) fds[1].events |= POLLIN;
    if (write_blocked_) fds[1].events |= POLLOUT;
  }
  const timespec ts{static_cast<time_t>(timeout / 1'000'000'000), static_cast<long>(timeout % 1'000'000'000)};
  ::ppoll(fds, 2, &ts, nullptr);
  std::uint64_t drained = 0;
  [[maybe_unused]] const auto n = ::read(wake_fd_.get(), &drained, sizeof drained);
}

void PtyDriver::run() {
  const std::size_t chunk = std::max<std::size_t>(1, shared_.baud / 10 / 500);  // about 2 ms of line time
  while (!stop_) {
    std::int64_t now = now_ns();
    if (hang_up_request_ || !update_slave_state(now)) break;
    read_input(now);

    if (hang_up_at_) {
      // The console has hung up: take no more input, close once the peer sends
      // again or the linger has passed.
      if (!rx_.empty() || now >= *hang_up_at_) break;
      wait(*hang_up_at_);
      continue;
    }

    std::string out;
    bool console_hang_up = false;
    std::optional<Millis> console_due;
    {
      std::lock_guard lock(shared_.mutex);
      const Millis ms = static_cast<Millis>(now / 1'000'000);
      if (restart_at_ && now >= *restart_at_) {
        restart_at_.reset();
        shared_.console.power_restart(ms);
      }
      if (const std::size_t n = rx_.due_count(now); n > 0) {
        const std::string_view in = rx_.front(n);
        shared_.console.feed(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(in.data()), n), ms);
        rx_.consume(n);
      }
      out = shared_.console.take_output(ms);
      console_hang_up = shared_.console.hang_up_requested();
      console_due = shared_.console.next_due();
      shared_.changed.notify_all();
    }
    if (open_ && tx_.size() + out.size() <= kTxLimit) tx_.push(out, now);
    write_output(now);
    if (console_hang_up && tx_.empty() && adapter_.empty()) {
      hang_up_at_ = now + kHangUpLingerNs;
      continue;
    }

    std::int64_t deadline = now + 3'600'000'000'000;  // an hour: woken long before by anything that matters
    if (console_due) deadline = std::min<std::int64_t>(deadline, static_cast<std::int64_t>(*console_due) * 1'000'000);
    if (restart_at_) deadline = std::min(deadline, *restart_at_);
    if (!write_blocked_) {
      if (auto t = tx_.due_time(chunk)) deadline = std::min(deadline, *t);
      if (auto t = adapter_.next_release()) deadline = std::min(deadline, *t);
    }
    if (auto t = rx_.due_time(chunk)) deadline = std::min(deadline, *t);
    wait(deadline);
  }
  if (!stop_) close_master();
}

}  // namespace tq318::sim
