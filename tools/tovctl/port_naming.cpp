#include "port_naming.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "port_map.h"
#include "ports_file.h"

namespace tovctl {

namespace {

constexpr int kLastCom = 255;

std::optional<std::uint8_t> com_number(std::string_view text) {
    if (text.size() > 3 && (text.substr(0, 3) == "COM" || text.substr(0, 3) == "com")) text.remove_prefix(3);
    if (text.empty() || text.size() > 3) return std::nullopt;
    int n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n < 1 || n > kLastCom) return std::nullopt;
    return static_cast<std::uint8_t>(n);
}

std::string canonical_or_same(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::canonical(path, ec);
    return ec ? path : p.string();
}

std::string variable(int n) { return "UART_COM" + std::to_string(n); }

}  // namespace

std::optional<NamedPort> name_port(const std::string& port_text, std::string& error) {
    if (const auto n = com_number(port_text)) {
        return NamedPort{n, uart::device_path_for(*n).value_or("")};
    }
    if (port_text.empty() || port_text.find('/') == std::string::npos) {
        error = "not a COM number (1..255) or a device path: " + port_text;
        return std::nullopt;
    }
    return NamedPort{std::nullopt, port_text};
}

bool check_ports(const std::vector<std::string>& ports, std::string& error) {
    std::vector<std::string> devices;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const auto named = name_port(ports[i], error);
        if (!named) return false;
        devices.push_back(named->device.empty() ? std::string() : canonical_or_same(named->device));
        for (std::size_t k = 0; k < i; ++k) {
            if (ports[k] == ports[i]) {
                error = "--port " + ports[i] + " twice";
                return false;
            }
            if (!devices[i].empty() && devices[k] == devices[i]) {
                error = "--port " + ports[k] + " and --port " + ports[i] + " name the same device " + devices[i];
                return false;
            }
        }
    }
    return true;
}

std::optional<PathNumber> number_for_path(const std::string& path) {
    const std::string device = canonical_or_same(path);
    for (int n = 1; n <= kLastCom; ++n) {
        const char* mapped = std::getenv(variable(n).c_str());
        if (mapped != nullptr && *mapped != '\0' && canonical_or_same(mapped) == device) {
            return PathNumber{static_cast<std::uint8_t>(n), true};
        }
    }
    const auto mapping = uart::ports_file::read();
    for (int n = 1; n <= kLastCom; ++n) {
        if (std::getenv(variable(n).c_str()) == nullptr && !mapping.contains(n)) {
            return PathNumber{static_cast<std::uint8_t>(n), false};
        }
    }
    return std::nullopt;
}

}  // namespace tovctl
