// Adapter facts from the setup API: the port's driver service and, for FTDI's
// driver, the latency timer in the device's parameters ("LatencyTimer").
#include <cstdio>

#include "adapter_facts.h"
#include "hardware_id.h"
#include "win32/port_devices_win32.h"

namespace tovctl {

AdapterFacts adapter_facts(const std::string& device, const std::string&) {
    AdapterFacts facts;
    std::string name = device;
    if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
    const std::string com = com_name(name);
    if (com.empty()) return facts;
    for (const PortDevice& d : port_devices()) {
        if (d.com != com) continue;
        facts.driver = d.service;
        const bool ftdi = parse_hardware_id(d.instance_id).ftdi || parse_hardware_id(d.hardware_id).ftdi;
        if (ftdi) facts.latency_timer_ms = d.latency_timer_ms;
        if (facts.latency_timer_ms && *facts.latency_timer_ms > 1) {
            facts.hint = "each block waits up to " + std::to_string(*facts.latency_timer_ms) +
                         " ms for the adapter; set it to 1 ms in Device Manager: Ports (COM & LPT), " + com +
                         ", Properties, Port Settings, Advanced, Latency Timer (msec); then replug the adapter";
        }
        break;
    }
    return facts;
}

// Windows has no device tree folder; the setup API is asked instead.
std::string device_tree_root() { return {}; }

}  // namespace tovctl
