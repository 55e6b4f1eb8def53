// What the operating system tells about a serial adapter: its driver and the
// latency timer by which a USB adapter holds back a partial packet.
#pragma once

#include <optional>
#include <string>

namespace tovctl {

struct AdapterFacts {
    std::string driver;                    // "ftdi_sio", "" when unknown
    std::optional<int> latency_timer_ms;   // where the driver exposes one
    std::string hint;                      // how to lower a timer above 1 ms, else ""
};

// Facts about the port at `device` (a /dev path, symbolic links resolved).
// The device tree is read under `root` (normally "/sys"; TQ318_SYSFS_ROOT
// names another, for a test's fake tree).
AdapterFacts adapter_facts(const std::string& device, const std::string& root);

// "/sys", or TQ318_SYSFS_ROOT when set.
std::string device_tree_root();

}  // namespace tovctl
