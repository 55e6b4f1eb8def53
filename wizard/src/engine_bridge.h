// The wizard's side of the repair engine: its by-name library bindings as the
// engine's console, and its window as the engine's front end.
#pragma once

#include <QString>

#include <chrono>
#include <optional>

#include "binding.h"
#include "tq318/repair/console.h"
#include "tq318/repair/front_end.h"

class QFontMetrics;

namespace pelorim {

class Form1;

// The progress frame's member line, "member 3 of 20: web.bin, about 40 s
// left", the name shortened in its middle to fit `width` pixels at `metrics`.
QString memberText(const tq318::repair::MemberEvent& member, double secondsLeft, const QFontMetrics& metrics,
                   int width);

class BoundConsole final : public tq318::repair::Console {
public:
    BoundConsole(UartLibrary& uart, TovraneLibrary& tovrane) : uart_(uart), tovrane_(tovrane) {}

    uint16_t Send_Cmd(uint8_t port, const char* text, int16_t flag) override;
    uint16_t Receive_Cmd(uint8_t port, char* buffer, uint16_t timeout_ms, int16_t flag, uint16_t* scratch) override;
    uint16_t TOV_GetPrompt(uint8_t port, uint16_t timeout_ms, uint8_t prompt) override;
    uint16_t TOV_Get_FreeSize(uint8_t port, char disk, char* free_text, char* reply) override;
    uint16_t TOV_Load_File(uint8_t port, const char* path, char disk, const char* target_name, int32_t mode,
                           char* reply) override;
    uint16_t TOV_Update_Tovrane(uint8_t port, const char* image_path, char* reply) override;
    int32_t TOV_Get_Tovrane_Version(uint8_t port, char* model, char* build_date, char* flash, int32_t* flag,
                                    char* reply) override;
    uint16_t listDirectory(uint8_t port, char* reply, std::size_t capacity) override;

private:
    UartLibrary& uart_;
    TovraneLibrary& tovrane_;
};

// Texts are shown as Latin-1; the progress bar is UploadBar in Frame1, the
// member under way and the time left MemberLabel below it.
class WindowFrontEnd : public tq318::repair::FrontEnd {
public:
    using Clock = std::chrono::system_clock;
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

    // When the run ended: the moment its last message box opened when the
    // engine did nothing more after it ("Upgrade Successed." waits for OK),
    // else now.
    Clock::time_point finishedAt() const { return lastBox_.value_or(Clock::now()); }

protected:
    void working() { lastBox_.reset(); }
    Form1& form_;

private:
    std::optional<Clock::time_point> lastBox_;
    std::optional<std::chrono::steady_clock::time_point> firstMember_;
    uint64_t bytesDone_ = 0;
};

}  // namespace pelorim
