// Step 2: the controller's power restart. The console is polled; at
// "password:" the console password is sent, and the banner "HALVERN Tovrane"
// ends the wait with its mode code (characters 21 and 22).
#include <algorithm>
#include <array>
#include <chrono>
#include <string_view>

#include "line_state.h"
#include "tq318/repair/engine.h"

namespace tq318::repair {

namespace {

constexpr std::chrono::milliseconds kLoginPause{1000};
constexpr uint16_t kPollTimeoutMs = 1;

std::string_view textOf(const std::array<char, kTextCapacity>& buffer) {
    const auto end = std::find(buffer.begin(), buffer.end(), '\0');
    return {buffer.data(), static_cast<std::size_t>(end - buffer.begin())};
}

}  // namespace

Detection detect(const DetectionRequest& request, FrontEnd& frontEnd, Console& console) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = request.timeout ? std::optional(Clock::now() + *request.timeout) : std::nullopt;
    std::array<char, kTextCapacity> buffer;
    buffer.fill(' ');
    Detection detection;
    while (frontEnd.keepWaiting() && (!deadline || Clock::now() < *deadline)) {
        uint16_t scratch = 1;
        // A poll that stores nothing (a failed read) must not leave the last
        // poll's text looking like new input, e.g. a second "password:".
        buffer[0] = '\0';
        buffer.back() = '\0';
        const uint16_t polled = console.Receive_Cmd(request.port, buffer.data(), kPollTimeoutMs, 0, &scratch);
        if (polled == kLineHungUp) {
            // The adapter was unplugged: nothing will ever arrive on this port.
            detection.disconnected = true;
            frontEnd.event(statusEvent(Step::Disconnected, kAdapterDisconnectedText));
            return detection;
        }
        const std::string_view text = textOf(buffer);
        // A poll that received nothing leaves the status alone.
        if (!text.empty()) frontEnd.event(statusEvent(Step::Heard, text));
        if (text.starts_with("password:")) {
            frontEnd.event(statusEvent(Step::LoggingIn, "login ..."));
            console.Send_Cmd(request.port, request.password.c_str(), 0);
            frontEnd.pause(kLoginPause);
            frontEnd.yield();
            frontEnd.yield();
            continue;
        }
        if (text.starts_with("HALVERN Tovrane")) {
            detection.found = true;
            detection.received = std::string(text);
            // The banner line alone: the prompt that follows may come in the same poll.
            detection.banner = std::string(text.substr(0, text.find_first_of("\r\n")));
            detection.modeCode = std::string(text.substr(std::min<std::size_t>(20, text.size()), 2));
            frontEnd.event(
                {.kind = EventKind::Detected, .banner = detection.banner, .modeCode = detection.modeCode});
            frontEnd.event(statusEvent(Step::ModeFound, detection.modeCode + " Master Mode..."));
            return detection;
        }
        frontEnd.yield();
    }
    return detection;
}

}  // namespace tq318::repair
