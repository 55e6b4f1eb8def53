// The window as the repair engine's front end. The engine runs on the
// worker thread; every call that touches the window is handed to the
// window's thread and waited for there, and the engine's pauses wait on the
// worker, so the window goes on repainting and answering meanwhile.
#pragma once

#include "form1.h"
#include "tq318/repair/front_end.h"

namespace pelorim {

class WindowFrontEnd final : public tq318::repair::FrontEnd {
public:
    explicit WindowFrontEnd(Form1& form) : form_(form) {}

    void status(std::string_view text) override;
    void message(std::string_view text) override;
    void progressShown(int value, int maximum) override;
    void progress(int value, int maximum) override;
    void busy() override;
    // The window is handled on its own thread all along: a yield only gives
    // the processor away for a moment.
    void yield() override;
    void pause(std::chrono::milliseconds duration) override;
    bool ended() const override;
    // The detection ends when the port is being closed or the program ends.
    bool keepWaiting() override;

private:
    Form1& form_;
};

}  // namespace pelorim
