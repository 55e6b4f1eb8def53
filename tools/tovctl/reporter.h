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
#include "tq318/repair/events.h"
#include "tq318/repair/front_end.h"
#include "ui/ui.h"

namespace tovctl {

enum class Style { Terminal, Lines, Json };

using tq318::repair::Event;

// How the events of one run look, the same for a single port and for each
// port of a several-port repair: the lines each prints and the live line of
// the downloads. Texts are UTF-8 here (the engine's are turned at the front
// end, a child's JSON holds them so).
class EventView {
public:
    using Clock = std::chrono::steady_clock;
    explicit EventView(Style style) : style_(style) {}
    // The bytes every member to be sent holds together (for rate and time left).
    void set_total_bytes(std::uint64_t total) { total_bytes_ = total; }
    std::uint64_t total_bytes() const { return total_bytes_; }
    std::uint64_t finished_bytes() const { return finished_bytes_; }
    std::uint64_t bytes_done() const { return done_; }
    // The download under way, null between downloads.
    const tq318::repair::MemberEvent* under_way() const { return member_ ? &*member_ : nullptr; }

    // Takes an event; returns the lines it prints ("" when it prints none:
    // progress, or a download in a terminal's live line).
    std::string take(const Event& e);
    // The downloads' live line is on show (a terminal), and its text.
    bool live() const { return live_; }
    std::string live_line() const;

private:
    Style style_;
    std::uint64_t total_bytes_ = 0;
    std::uint64_t finished_bytes_ = 0;  // members done
    std::uint64_t done_ = 0;            // and of the one under way
    std::optional<tq318::repair::MemberEvent> member_;  // the download under way
    tq318::repair::MemberEvent shown_;                  // the one the live line names
    std::optional<Clock::time_point> first_start_;
    bool live_ = false;
};

// An event's name in the JSON form.
inline std::string event_name(tq318::repair::EventKind kind) { return std::string(tq318::repair::nameOf(kind)); }

// The JSON form of an event (its names from the engine's one mapping), and
// back; nullopt for an object that is no event of a run.
Json json_of(const Event& e, const EventView& view);
std::optional<Event> event_of(const Json& j);

// The closing line for a person, from the final object alone.
std::string result_text(const Json& result);

class Reporter {
public:
    explicit Reporter(Style style) : style_(style), view_(style) {}
    Style style() const { return style_; }
    void set_total_bytes(std::uint64_t total) { view_.set_total_bytes(total); }

    void show(const Event& e);
    // A block of the download under way was acknowledged.
    void blocks(std::uint32_t block, std::uint32_t total);
    // The final object: printed as is with --json, as a closing line otherwise.
    void result(const Json& result);

private:
    using Clock = std::chrono::steady_clock;
    void line(const std::string& text);  // whole lines, above the live line
    void draw_live(bool force);
    void clear_live();

    Style style_;
    EventView view_;
    Clock::time_point last_drawn_{};
    bool live_shown_ = false;
};

// The engine's front end over a Reporter; a signal stops the run (stop_signals.h).
class EngineFrontEnd final : public tq318::repair::FrontEnd {
public:
    explicit EngineFrontEnd(Reporter& reporter) : reporter_(reporter) {}
    // Every event, its texts turned into UTF-8.
    void event(const Event& e) override;
    bool ended() const override { return stop_requested(); }
    // The pauses between console lines end early on a stop.
    void pause(std::chrono::milliseconds duration) override { pause_unless_stopped(duration); }

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
    void message(std::string_view text, std::string_view caption) override;
    bool ask_yes_no(std::string_view text, std::string_view caption) override;
    void set_wait_cursor(bool) override {}

private:
    Reporter& reporter_;
    std::optional<bool> answer_;
    bool may_ask_;
};

}  // namespace tovctl
