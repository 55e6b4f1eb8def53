#include "port_map.h"

#include <cstdlib>

#include "ports_file.h"

namespace uart {

std::optional<std::string> device_path_for(std::uint8_t port) {
    if (port == 0) return std::nullopt;
    const std::string variable = "UART_COM" + std::to_string(port);
    // Set but empty maps to no device at all: falling back to a real port
    // would talk to whatever happens to be plugged in there.
    if (const char* mapped = std::getenv(variable.c_str()); mapped != nullptr) {
        return std::string(mapped);
    }
    // Where no variable can be set (a start from the application menu), the
    // user's mapping file names the device.
    if (const auto mapping = ports_file::read(); mapping.contains(port)) return mapping.at(port);
    return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace uart
