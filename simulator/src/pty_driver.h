// The pty driver: one thread that moves bytes between the pty master and the
// console, paces them like a serial line, notices the slave side being opened
// and closed, and plays the timed parts of the console.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "adapter_model.h"
#include "console.h"
#include "fd.h"
#include "paced_queue.h"
#include "pty.h"
#include "tq318/simulator.h"

namespace tq318::sim {

inline std::int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
inline Millis now_ms() { return static_cast<Millis>(now_ns() / 1'000'000); }

// What the driver thread and the facade share, all under `mutex`.
struct DriverShared {
  explicit DriverShared(SimulatorOptions options)
      : baud(options.baud),
        adapter_latency_ms(options.adapter_latency_ms),
        adapter_packet(options.adapter_packet),
        restart_after_open_ms(options.restart_after_open_ms),
        boot_on_start(options.boot_on_start),
        console(std::move(options), now_ms()) {}

  const std::uint32_t baud;
  const std::uint32_t adapter_latency_ms;
  const std::size_t adapter_packet;
  const int restart_after_open_ms;
  const bool boot_on_start;
  mutable std::mutex mutex;
  mutable std::condition_variable changed;  // notified whenever the driver has done something
  Console console;
  bool slave_open = false;
  bool hung_up = false;
};

class PtyDriver {
 public:
  static constexpr std::size_t kRxLimit = 4096;       // input taken off the pty ahead of the line pace
  static constexpr std::size_t kTxLimit = 8u << 20;   // output beyond this backlog is lost
  static constexpr std::int64_t kSlavePollNs = 20'000'000;
  // A hang-up the console asks for waits this long, or until the peer sends
  // again, so that the peer has read the last answer: closing the master
  // throws away whatever the slave has not read yet.
  static constexpr std::int64_t kHangUpLingerNs = 500'000'000;

  explicit PtyDriver(DriverShared& shared);  // opens the pty; throws std::system_error
  ~PtyDriver();                              // stops the thread, closes the master
  PtyDriver(const PtyDriver&) = delete;
  PtyDriver& operator=(const PtyDriver&) = delete;

  const std::string& slave_path() const { return slave_path_; }
  void start();
  void wake();
  // Closes the master and waits (bounded) until that has happened.
  void hang_up();

 private:
  void run();
  bool update_slave_state(std::int64_t now);
  void read_input(std::int64_t now);
  void write_output(std::int64_t now);
  void wait(std::int64_t deadline);
  void close_master();

  DriverShared& shared_;
  Fd master_;
  Fd wake_fd_;
  std::string slave_path_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> hang_up_request_{false};

  // Owned by the driver thread.
  bool open_ = false;
  bool write_blocked_ = false;
  std::optional<std::int64_t> restart_at_;
  std::optional<std::int64_t> hang_up_at_;
  PacedQueue rx_;
  PacedQueue tx_;
  AdapterModel adapter_;  // between tx_ (the line) and the pty, when enabled
};

}  // namespace tq318::sim
