// What a repair shows while it runs: on a terminal status lines above one
// live progress line, in a log one line per step, with --json one object per
// event (JSON Lines) and a final result object. It hears both the engine
// (FrontEnd) and the library's own UI (the transfer window, its message
// boxes and the "Delete all files!!" question).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "output.h"
#include "stop_signals.h"
#include "tq318/repair/front_end.h"
#include "ui/ui.h"

namespace tovctl {

enum class Style { Terminal, Lines, Json };

class Reporter {
public:
    explicit Reporter(Style style) : style_(style) {}
    Style style() const { return style_; }
    // The bytes every member to be sent holds together (for rate and time left).
    void set_total_bytes(std::uint64_t total) { total_bytes_ = total; }

    void status(std::string_view text);
    void message(std::string_view text);
    void library_message(std::string_view text, std::string_view caption);
    void question(std::string_view text, bool answer);
    void detected(std::string_view banner, std::string_view mode_code);
    void member_started(const tq318::repair::MemberEvent& member);
    void blocks(std::uint32_t block, std::uint32_t total);
    void member_finished(const tq318::repair::MemberEvent& member, std::uint16_t code);
    // The final object: printed as is with --json, as a closing line otherwise.
    void result(const Json& result, const std::string& human);

private:
    using Clock = std::chrono::steady_clock;
    void event(Json object);
    void line(const std::string& text);  // a whole line, above the live line
    void draw_live(bool force);
    void clear_live();
    std::uint64_t bytes_done() const;

    Style style_;
    std::uint64_t total_bytes_ = 0;
    std::uint64_t finished_bytes_ = 0;     // members done
    std::optional<tq318::repair::MemberEvent> member_;   // the download under way
    tq318::repair::MemberEvent shown_;                   // the one the live line names
    std::uint32_t block_ = 0, blocks_ = 0;
    std::optional<Clock::time_point> first_start_;
    Clock::time_point last_drawn_{};
    bool live_shown_ = false;
};

// The engine's front end over a Reporter; a signal stops the run (stop_signals.h).
class EngineFrontEnd final : public tq318::repair::FrontEnd {
public:
    explicit EngineFrontEnd(Reporter& reporter) : reporter_(reporter) {}
    void status(std::string_view text) override { reporter_.status(text); }
    void message(std::string_view text) override { reporter_.message(text); }
    bool ended() const override { return stop_requested(); }
    // The pauses between console lines end early on a stop.
    void pause(std::chrono::milliseconds duration) override { pause_unless_stopped(duration); }
    void memberStarted(const tq318::repair::MemberEvent& m) override { reporter_.member_started(m); }
    void memberFinished(const tq318::repair::MemberEvent& m, uint16_t code) override {
        reporter_.member_finished(m, code);
    }
    void detected(std::string_view banner, std::string_view mode) override { reporter_.detected(banner, mode); }

private:
    Reporter& reporter_;
};

// The library's UI in tovctl. The yes/no question is asked on a terminal
// unless `answer` is set; without a terminal it takes `answer`, else No.
class LibraryUi final : public tovrane::ui::Ui {
public:
    LibraryUi(Reporter& reporter, std::optional<bool> answer, bool may_ask)
        : reporter_(reporter), answer_(answer), may_ask_(may_ask) {}
    void remember_owner() override {}
    std::unique_ptr<tovrane::ui::ProgressWindow> open_progress(std::string_view file_name) override;
    void message(std::string_view text, std::string_view caption) override {
        reporter_.library_message(text, caption);
    }
    bool ask_yes_no(std::string_view text, std::string_view caption) override;
    void set_wait_cursor(bool) override {}

private:
    Reporter& reporter_;
    std::optional<bool> answer_;
    bool may_ask_;
};

}  // namespace tovctl
