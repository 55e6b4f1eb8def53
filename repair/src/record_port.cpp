#include "tq318/repair/record_port.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "ports_file.h"

namespace tq318::repair {

PortDevice describePort(int port) {
    namespace fs = std::filesystem;
    PortDevice out;
    if (port < 1 || port > 255) return out;
    if (const char* value = std::getenv(("UART_COM" + std::to_string(port)).c_str()); value != nullptr) {
        out.device = value;
    } else if (const auto mapping = uart::ports_file::read(); mapping.contains(port)) {
        out.device = mapping.at(port);
    } else {
        out.device = "/dev/ttyS" + std::to_string(port - 1);
    }
    if (out.device.empty()) return out;
    std::error_code ec;
    const fs::path real = fs::canonical(out.device, ec);
    if (ec) return out;
    // Bounded: a by-id folder holds one link per attached adapter.
    int seen = 0;
    for (const auto& entry : fs::directory_iterator("/dev/serial/by-id", ec)) {
        if (++seen > 1024) break;
        std::error_code link_ec;
        if (fs::canonical(entry.path(), link_ec) == real && !link_ec) {
            out.byId = entry.path().string();
            break;
        }
    }
    return out;
}

}  // namespace tq318::repair
