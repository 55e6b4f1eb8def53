// The device a COM number stands for, for a repair record.
#pragma once

#include <string>

namespace tq318::repair {

struct PortDevice {
    std::string device;  // as the serial layer resolves it; "" when it names none
    std::string byId;    // its /dev/serial/by-id name, "" when there is none
};

// As the serial layer resolves it (UART_COM<N>, else the user's mapping
// file, else /dev/ttyS<N-1>).
PortDevice describePort(int port);

}  // namespace tq318::repair
