// Simulator: the public facade. Owns the console (under one mutex) and the
// pty driver thread that moves bytes between the pty master and the console.
#include "tq318/simulator.h"

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "console.h"
#include "pty_driver.h"

namespace tq318 {

using sim::Console;
using sim::Millis;

struct Simulator::Impl {
  explicit Impl(SimulatorOptions opts) : shared(std::move(opts)) {}
  sim::DriverShared shared;
  std::unique_ptr<sim::PtyDriver> driver;
  std::string path;
};

Simulator::Simulator(SimulatorOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {
  impl_->driver = std::make_unique<sim::PtyDriver>(impl_->shared);
  impl_->path = impl_->driver->slave_path();
}

Simulator::~Simulator() { stop(); }

void Simulator::start() {
  if (!impl_->driver) {
    impl_->driver = std::make_unique<sim::PtyDriver>(impl_->shared);
    impl_->path = impl_->driver->slave_path();
  }
  impl_->driver->start();
}

void Simulator::stop() { impl_->driver.reset(); }

const std::string& Simulator::device_path() const { return impl_->path; }

void Simulator::restart() {
  {
    std::lock_guard lock(impl_->shared.mutex);
    impl_->shared.console.power_restart(sim::now_ms());
  }
  if (impl_->driver) impl_->driver->wake();
}

void Simulator::hang_up() {
  if (impl_->driver) impl_->driver->hang_up();
}

void Simulator::set_faults(const Faults& faults) {
  std::lock_guard lock(impl_->shared.mutex);
  impl_->shared.console.set_faults(faults);
}

Faults Simulator::faults() const {
  std::lock_guard lock(impl_->shared.mutex);
  return impl_->shared.console.faults();
}

void Simulator::set_model(const std::string& model) {
  std::lock_guard lock(impl_->shared.mutex);
  impl_->shared.console.set_model(model);
}

void Simulator::set_mode_code(const std::string& mode_code) {
  std::lock_guard lock(impl_->shared.mutex);
  impl_->shared.console.set_mode_code(mode_code);
}

void Simulator::set_password(const std::optional<std::string>& password) {
  std::lock_guard lock(impl_->shared.mutex);
  impl_->shared.console.set_password(password);
}

void Simulator::set_probe_data(const std::string& data) {
  std::lock_guard lock(impl_->shared.mutex);
  impl_->shared.console.set_probe_data(data);
}

SimulatorOptions Simulator::options() const {
  std::lock_guard lock(impl_->shared.mutex);
  return impl_->shared.console.options();
}

std::vector<std::string> Simulator::received_lines() const {
  std::lock_guard lock(impl_->shared.mutex);
  std::vector<std::string> out;
  for (const auto& [when, line] : impl_->shared.console.lines()) out.push_back(line);
  return out;
}

std::vector<std::pair<std::uint64_t, std::string>> Simulator::received_lines_timed() const {
  std::lock_guard lock(impl_->shared.mutex);
  const auto& lines = impl_->shared.console.lines();
  return {lines.begin(), lines.end()};
}

void Simulator::clear_received_lines() {
  std::lock_guard lock(impl_->shared.mutex);
  impl_->shared.console.clear_lines();
}

bool Simulator::wait_for_line(std::string_view line, std::chrono::milliseconds limit) const {
  std::unique_lock lock(impl_->shared.mutex);
  return impl_->shared.changed.wait_for(lock, limit, [&] {
    for (const auto& entry : impl_->shared.console.lines())
      if (entry.second == line) return true;
    return false;
  });
}

bool Simulator::wait_for_blocks(std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(impl_->shared.mutex);
  return impl_->shared.changed.wait_for(
      lock, limit, [&] { return impl_->shared.console.received_blocks().size() >= count; });
}

bool Simulator::wait_until_ready(std::chrono::milliseconds limit) const {
  std::unique_lock lock(impl_->shared.mutex);
  return impl_->shared.changed.wait_for(lock, limit, [&] { return impl_->shared.console.ready(); });
}

bool Simulator::wait_for_slave(bool open, std::chrono::milliseconds limit) const {
  std::unique_lock lock(impl_->shared.mutex);
  return impl_->shared.changed.wait_for(lock, limit, [&] { return impl_->shared.slave_open == open; });
}

bool Simulator::slave_open() const {
  std::lock_guard lock(impl_->shared.mutex);
  return impl_->shared.slave_open;
}

std::uint64_t Simulator::boot_count() const {
  std::lock_guard lock(impl_->shared.mutex);
  return impl_->shared.console.boot_count();
}

std::vector<StoredFile> Simulator::files(char disk) const {
  std::lock_guard lock(impl_->shared.mutex);
  return impl_->shared.console.disk(disk).files();
}

void Simulator::put_file(char disk, const StoredFile& file) {
  std::lock_guard lock(impl_->shared.mutex);
  impl_->shared.console.disk(disk).store(file);
}

std::uint64_t Simulator::free_bytes(char disk) const {
  std::lock_guard lock(impl_->shared.mutex);
  return impl_->shared.console.disk(disk).free();
}

std::uint32_t Simulator::disk_kib(char disk) const {
  std::lock_guard lock(impl_->shared.mutex);
  return static_cast<std::uint32_t>(impl_->shared.console.disk(disk).capacity() / 1024);
}

std::optional<std::vector<std::uint8_t>> Simulator::uploaded_image() const {
  std::lock_guard lock(impl_->shared.mutex);
  return impl_->shared.console.last_image();
}

bool Simulator::image_installed() const {
  std::lock_guard lock(impl_->shared.mutex);
  return impl_->shared.console.image_installed();
}

std::vector<std::vector<std::uint8_t>> Simulator::received_blocks() const {
  std::lock_guard lock(impl_->shared.mutex);
  std::vector<std::vector<std::uint8_t>> out;
  for (const auto& block : impl_->shared.console.received_blocks()) out.emplace_back(block.begin(), block.end());
  return out;
}

std::string Simulator::ip() const {
  std::lock_guard lock(impl_->shared.mutex);
  return impl_->shared.console.settings().ip;
}

std::string Simulator::mask() const {
  std::lock_guard lock(impl_->shared.mutex);
  return impl_->shared.console.settings().mask;
}

std::string Simulator::gateway() const {
  std::lock_guard lock(impl_->shared.mutex);
  return impl_->shared.console.settings().gateway;
}

ComSetting Simulator::com(int port) const {
  if (port < 1 || port > sim::kComPorts) throw std::out_of_range("COM port out of range");
  std::lock_guard lock(impl_->shared.mutex);
  return impl_->shared.console.settings().com[static_cast<std::size_t>(port - 1)];
}

}  // namespace tq318
