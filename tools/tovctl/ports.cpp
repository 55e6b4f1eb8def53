#include "ports.h"

#include "port_map.h"
#include "ports_file.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace tovctl {

namespace {

namespace fs = std::filesystem;

std::string canonical_or_same(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::canonical(path, ec);
    return ec ? path : p.string();
}

}  // namespace

std::optional<int> com_number_for(const std::string& path) {
    const std::string device = canonical_or_same(path);
    const auto mapping = uart::ports_file::read();
    for (int n = 1; n <= 255; ++n) {
        const auto mapped = uart::device_path_for(static_cast<std::uint8_t>(n), mapping);
        if (mapped && !mapped->empty() && canonical_or_same(*mapped) == device) return n;
    }
    return std::nullopt;
}

std::vector<PortInfo> list_ports() {
    std::vector<PortInfo> out = system_ports();
    for (PortInfo& info : out) info.com = com_number_for(info.path);
    // Devices that only a UART_COM<N> variable names (a pseudo-terminal, say)
    // are ports of this program too.
    for (int n = 1; n <= 255; ++n) {
        const std::string var = "UART_COM" + std::to_string(n);
        const char* value = std::getenv(var.c_str());
        if (value == nullptr || *value == '\0') continue;
        const std::string device = canonical_or_same(value);
        bool listed = false;
        for (const PortInfo& known : out) listed = listed || canonical_or_same(known.path) == device;
        if (listed) continue;
        PortInfo info;
        info.path = value;
        info.description = "named by " + var;
        info.transport = "other";
        info.com = n;
        out.push_back(std::move(info));
    }
    return out;
}

}  // namespace tovctl
