// The console between the banner and a repair's first command: the prompt
// that follows the banner, and one probe that shows whether the controller
// is at its prompt before anything else is sent.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "tq318/repair/console.h"

namespace tq318::repair {

// Waits until the input, after `alreadySeen` (the banner's text as received),
// ends with the prompt character '>', at most `limit`. True when it did: a
// command sent now is heard.
bool awaitPrompt(uint8_t port, Console& console, std::string_view alreadySeen, std::chrono::milliseconds limit);

struct PromptProbe {
    enum class State {
        Prompt,    // the reply ended with the prompt
        Password,  // the controller asked for its password ("password:", "Login incorrect")
        Silent,    // nothing came
        Other      // something else came (boot noise, a transfer waiting for blocks)
    };
    State state = State::Silent;
    std::string seen;  // what came, bytes (at most kTextCapacity)
};

// Sends one blank line and reads the answer for at most `limit`.
PromptProbe probePrompt(uint8_t port, Console& console, std::chrono::milliseconds limit);

}  // namespace tq318::repair
