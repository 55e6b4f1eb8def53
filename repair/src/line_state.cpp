#include "line_state.h"

#include <array>

namespace tq318::repair {

bool adapterGone(Console& console, uint8_t port) {
    std::array<char, kTextCapacity> unused{};
    uint16_t scratch = 0;
    return console.Receive_Cmd(port, unused.data(), 0, kLineStateFlag, &scratch) == kLineHungUp;
}

}  // namespace tq318::repair
