// What a front end shows and is asked while the engine runs a repair or a
// detection. Every text is 8-bit (Latin-1) bytes, exactly as the wizard shows
// it. Every member has a default that does nothing (or sleeps, for pause), so
// a printing front end overrides only what it draws.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

namespace tq318::repair {

// One member download, for a progress line.
struct MemberEvent {
    std::string name;     // the name as listed (bytes)
    int index = 0;        // 1-based among the members that are sent
    int count = 0;        // how many members are sent in this run
    uint64_t size = 0;    // bytes
    uint64_t bytesLeft = 0;  // this member's and every later one's bytes
};

class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // The activity line (the wizard's status panel 2).
    virtual void status(std::string_view /*text*/) {}
    // A message the user acknowledges; returns when it was acknowledged.
    virtual void message(std::string_view /*text*/) {}
    // The progress bar appears with range 0..maximum at `value`.
    virtual void progressShown(int /*value*/, int /*maximum*/) {}
    virtual void progress(int /*value*/, int /*maximum*/) {}
    // Long work begins (the wizard shows the wait pointer).
    virtual void busy() {}
    // Hand pending user events to their handlers (the wizard's event loop).
    virtual void yield() {}
    // A fixed pause between console lines.
    virtual void pause(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }
    // The program is ending: the engine stops at once, without more console lines.
    virtual bool ended() const { return false; }
    virtual void memberStarted(const MemberEvent& /*member*/) {}
    virtual void memberFinished(const MemberEvent& /*member*/, uint16_t /*code*/) {}
    // Detection: false stops the wait (the port was closed, the program ends).
    virtual bool keepWaiting() { return !ended(); }
    // Detection: the banner arrived, before its status text is shown.
    virtual void detected(std::string_view /*banner*/, std::string_view /*modeCode*/) {}
};

}  // namespace tq318::repair
