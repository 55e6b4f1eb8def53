#include "tq318/repair/record_port.h"

#include "port_map.h"

namespace tq318::repair {

PortDevice describePort(int port) {
    PortDevice out;
    if (port < 1 || port > 255) return out;
    out.device = uart::device_path_for(static_cast<std::uint8_t>(port)).value_or("");
    if (!out.device.empty()) out.byId = uart::serial_by_id_name(out.device);
    return out;
}

}  // namespace tq318::repair
