#include "tq318/repair/prompt_check.h"

#include <algorithm>
#include <array>
#include <thread>

namespace tq318::repair {

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint16_t kReadSliceMs = 50;
constexpr char kPromptChar = '>';
constexpr std::string_view kPasswordPrompt = "password:";

bool endsAtPrompt(std::string_view text) { return !text.empty() && text.back() == kPromptChar; }

// Reads until `done(text)` or the deadline; the text kept is bounded.
template <typename Done>
std::string readUntil(uint8_t port, Console& console, std::string text, Clock::time_point deadline, Done done) {
    std::array<char, kTextCapacity> buffer{};
    while (!done(text) && Clock::now() < deadline) {
        buffer[0] = '\0';
        buffer.back() = '\0';
        uint16_t scratch = 0;
        const auto sliceEnd = Clock::now() + std::chrono::milliseconds(kReadSliceMs);
        console.Receive_Cmd(port, buffer.data(), kReadSliceMs, 0, &scratch);
        const auto end = std::find(buffer.begin(), buffer.end(), '\0');
        // A port that fails at once (hung up, closed) must not spin here.
        if (end == buffer.begin()) std::this_thread::sleep_until(std::min(sliceEnd, deadline));
        text.append(buffer.begin(), end);
        if (text.size() > kTextCapacity) text.erase(0, text.size() - kTextCapacity);
    }
    return text;
}

}  // namespace

bool awaitPrompt(uint8_t port, Console& console, std::string_view alreadySeen, std::chrono::milliseconds limit) {
    const std::string text =
        readUntil(port, console, std::string(alreadySeen), Clock::now() + limit, endsAtPrompt);
    return endsAtPrompt(text);
}

PromptProbe probePrompt(uint8_t port, Console& console, std::chrono::milliseconds limit) {
    PromptProbe probe;
    console.Send_Cmd(port, "", 0);
    probe.seen = readUntil(port, console, {}, Clock::now() + limit, [](std::string_view text) {
        return endsAtPrompt(text) || text.ends_with(kPasswordPrompt);
    });
    const std::string_view seen = probe.seen;
    if (endsAtPrompt(seen)) {
        probe.state = PromptProbe::State::Prompt;
    } else if (seen.find(kPasswordPrompt) != seen.npos || seen.find("Login incorrect") != seen.npos) {
        probe.state = PromptProbe::State::Password;
    } else {
        probe.state = seen.empty() ? PromptProbe::State::Silent : PromptProbe::State::Other;
    }
    return probe;
}

}  // namespace tq318::repair
