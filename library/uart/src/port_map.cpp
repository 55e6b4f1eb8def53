#include "port_map.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform.h"
#include "ports_file.h"

namespace uart {

std::optional<std::string> device_path_for(std::uint8_t port, const std::map<int, std::string>& mapping) {
    if (port == 0) return std::nullopt;
    const std::string variable = "UART_COM" + std::to_string(port);
    // Set but empty maps to no device at all: falling back to a real port
    // would talk to whatever happens to be plugged in there.
    if (const char* mapped = std::getenv(variable.c_str()); mapped != nullptr) {
        return std::string(mapped);
    }
    // Where no variable can be set (a start from the application menu), the
    // user's mapping file names the device.
    if (const auto it = mapping.find(port); it != mapping.end()) return it->second;
    return default_device_name(port);
}

std::optional<std::string> device_path_for(std::uint8_t port) {
    if (port == 0) return std::nullopt;
    const std::string variable = "UART_COM" + std::to_string(port);
    if (std::getenv(variable.c_str()) != nullptr) return device_path_for(port, {});
    const auto file = ports_file::path();
    if (!file) return device_path_for(port, {});
    // A mapping file that is there but cannot be read (a FIFO, a folder, no
    // permission) names no device: guessing /dev/ttyS<N-1> instead would talk
    // to whatever is wired there.
    const auto text = ports_file::file_text(*file);
    if (!text) return std::string();
    return device_path_for(port, ports_file::parse(*text));
}

std::string serial_by_id_name(const std::string& device) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path real = fs::canonical(device, ec);
    if (ec) return {};
    // Bounded: the folder holds one link per attached adapter.
    int seen = 0;
    for (const auto& entry : fs::directory_iterator("/dev/serial/by-id", ec)) {
        if (++seen > 1024) break;
        std::error_code link_ec;
        const fs::path target = fs::canonical(entry.path(), link_ec);
        if (!link_ec && target == real) return entry.path().string();
    }
    return {};
}

}  // namespace uart
