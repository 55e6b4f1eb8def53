// The wizard's side of the repair engine: its by-name library bindings as the
// engine's console, and its window as the engine's front end.
#pragma once

#include <QString>

#include <chrono>
#include <optional>

#include "bound_console.h"
#include "tq318/repair/console.h"
#include "tq318/repair/front_end.h"

class QFontMetrics;

namespace pelorim {

class Form1;

// The progress frame's member line, "member 3 of 20: web.bin, about 40 s
// left", the name shortened in its middle to fit `width` pixels at `metrics`.
QString memberText(const tq318::repair::MemberEvent& member, double secondsLeft, const QFontMetrics& metrics,
                   int width);

// Texts are shown as Latin-1; the progress bar is UploadBar in Frame1, the
// member under way and the time left MemberLabel below it.
class WindowFrontEnd : public tq318::repair::FrontEnd {
public:
    explicit WindowFrontEnd(Form1& form) : form_(form) {}

    void status(std::string_view text) override;
    void message(std::string_view text) override;
    void progressShown(int value, int maximum) override;
    void progress(int value, int maximum) override;
    void busy() override;
    void yield() override;
    // The window stays drawn and answers during the pause: events are handled.
    void pause(std::chrono::milliseconds duration) override;
    bool ended() const override;
    void memberStarted(const tq318::repair::MemberEvent& member) override;
    void memberFinished(const tq318::repair::MemberEvent& member, uint16_t code) override;

protected:
    Form1& form_;

private:
    std::optional<std::chrono::steady_clock::time_point> firstMember_;
    uint64_t bytesDone_ = 0;
};

}  // namespace pelorim
