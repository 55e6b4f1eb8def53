// A scripted stand-in for the uart layer's command exchange. While a script is
// armed, Exchange_Cmd (as the library calls it) records each command with its
// time-out and end character and answers with the next scripted reply; an
// exhausted script answers UART_ERR_TIMEOUT with an empty reply. Disarmed, the
// call goes on to the real uart layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace scripted {

struct Sent {
    std::string command;
    std::uint32_t timeout_ms;
    char end_char;
};

struct Answer {
    std::uint16_t code;
    std::string reply;
};

void arm(std::vector<Answer> answers);
void disarm();
std::vector<Sent> sent();
std::vector<std::string> sent_commands();

}  // namespace scripted
