#include "port_map.h"

#include <cstdlib>

namespace uart {

std::optional<std::string> device_path_for(std::uint8_t port) {
    if (port == 0) return std::nullopt;
    const std::string variable = "UART_COM" + std::to_string(port);
    if (const char* mapped = std::getenv(variable.c_str()); mapped != nullptr && *mapped != '\0') {
        return std::string(mapped);
    }
    return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace uart
