// What a front end shows and is asked while the engine runs a repair or a
// detection. Every text is 8-bit (Latin-1) bytes, exactly as the wizard shows
// it. Every member has a default that does nothing (or sleeps, for pause), so
// a front end overrides only what it draws: event() for all events by name,
// or the member of each kind.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "tq318/repair/events.h"

namespace tq318::repair {

class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // Every event the engine emits comes here first; by default each kind
    // goes to its member below (the step of a status is dropped there).
    virtual void event(const Event& e);

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
