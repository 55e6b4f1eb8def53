// Adapter facts from Linux's sysfs: /sys/class/tty/<name>/device/driver names
// the driver, /sys/bus/usb-serial/devices/<name>/latency_timer the timer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "adapter_facts.h"

namespace tovctl {

namespace {

namespace fs = std::filesystem;

// A small attribute file, bounded and without blocking.
std::optional<std::string> attribute(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char text[64];
    struct stat st {};
    ssize_t n = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) n = ::read(fd, text, sizeof text);
    ::close(fd);
    if (n <= 0) return std::nullopt;
    return std::string(text, static_cast<std::size_t>(n));
}

std::optional<int> milliseconds(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc{} || stop == text.data() || value < 0 || value > 255) return std::nullopt;
    for (const char* p = stop; p != end; ++p)
        if (*p != '\n' && *p != ' ') return std::nullopt;
    return value;
}

}  // namespace

std::string device_tree_root() {
    const char* root = std::getenv("TQ318_SYSFS_ROOT");
    return root != nullptr && *root == '/' ? root : "/sys";
}

AdapterFacts adapter_facts(const std::string& device, const std::string& root) {
    AdapterFacts facts;
    std::error_code ec;
    const fs::path real = fs::canonical(device, ec);
    // /dev/ttyUSB0 (or a by-id link to it) is ttyUSB0 in the device tree.
    const std::string name = ec ? fs::path(device).filename().string() : real.filename().string();
    if (name.empty() || name == "." || name == "..") return facts;
    const fs::path driver = fs::read_symlink(fs::path(root) / "class/tty" / name / "device/driver", ec);
    if (!ec) facts.driver = driver.filename().string();
    if (const auto text = attribute(fs::path(root) / "bus/usb-serial/devices" / name / "latency_timer")) {
        facts.latency_timer_ms = milliseconds(*text);
    }
    if (facts.latency_timer_ms && *facts.latency_timer_ms > 1) {
        facts.hint = "each block waits up to " + std::to_string(*facts.latency_timer_ms) +
                     " ms for the adapter; lower it with the udev rule "
                     "/usr/lib/udev/rules.d/60-tq318-ftdi-latency.rules (replug the adapter) or as root: echo 1 > "
                     "/sys/bus/usb-serial/devices/" + name + "/latency_timer";
    }
    return facts;
}

}  // namespace tovctl
