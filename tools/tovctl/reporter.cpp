#include "reporter.h"

#include <cstdio>
#include <iostream>

namespace tovctl {
namespace {

constexpr auto kLiveInterval = std::chrono::milliseconds(100);

std::string human_bytes(double bytes) {
    char text[32];
    if (bytes >= 1024.0 * 1024.0) {
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024.0));
    } else if (bytes >= 1024.0) {
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    }
    return text;
}

// A message's line breaks ("\r", "\r\n") as the terminal's.
std::string lines_of(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// What the wizard's own status texts leave unsaid, for a person reading tovctl's lines.
std::string gloss_of(std::string_view status) {
    // The mode code is the banner's two characters in front of the text.
    const bool coded = status.size() > 3 && status[2] == ' ';
    const std::string code(coded ? status.substr(0, 2) : std::string_view());
    const std::string checking = "checking the package: its member list, every member and its authentication record";
    if (status.ends_with("File Checking..."))
        return coded ? "  (" + code + " is the mode code; " + checking + ")" : "  (" + checking + ")";
    if (coded && status.ends_with(" Master Mode..."))
        return "  (" + code + " is the mode code: unless --disk says otherwise, the members go to disk " + (code == "MS" ? "A" : "B") + ")";
    if (status == "Firmware authentication verify ok.")
        return "  (the package's record matches its program; both disks are emptied next)";
    return {};
}

}  // namespace

void Reporter::event(Json object) { print_json(object); }

void Reporter::line(const std::string& text) {
    clear_live();
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
    if (style_ == Style::Terminal && member_) draw_live(true);
}

void Reporter::clear_live() {
    if (!live_shown_) return;
    std::fputs("\r\x1b[K", stdout);
    live_shown_ = false;
}

std::uint64_t Reporter::bytes_done() const {
    std::uint64_t now = finished_bytes_;
    if (member_ && blocks_ > 0) now += member_->size * std::min(block_, blocks_) / blocks_;
    return now;
}

void Reporter::draw_live(bool force) {
    const auto now = Clock::now();
    if (!force && now - last_drawn_ < kLiveInterval) return;
    last_drawn_ = now;
    const double done = static_cast<double>(bytes_done());
    const double seconds = first_start_ ? std::chrono::duration<double>(now - *first_start_).count() : 0.0;
    const double rate = seconds > 0.2 ? done / seconds : 0.0;
    std::string left = "--:--";
    if (rate > 0 && total_bytes_ >= done) {
        const auto s = static_cast<long>((static_cast<double>(total_bytes_) - done) / rate + 0.5);
        char text[48];
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
        left = text;
    }
    char text[256];
    std::snprintf(text, sizeof text, "\r\x1b[K[%d/%d] %.40s  %s of %s  %s/s  %s left", shown_.index, shown_.count,
                  utf8(shown_.name).c_str(),
                  human_bytes(done).c_str(), human_bytes(static_cast<double>(total_bytes_)).c_str(),
                  human_bytes(rate).c_str(), left.c_str());
    std::fputs(text, stdout);
    std::fflush(stdout);
    live_shown_ = true;
}

void Reporter::status(std::string_view text) {
    if (style_ == Style::Json) return event(Json{{"event", "status"}, {"text", utf8(text)}});
    // " File Checking..." when no mode code is known: no blank before it on the screen.
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    line(utf8(text) + gloss_of(text));
}

void Reporter::message(std::string_view text) {
    if (style_ == Style::Json) return event(Json{{"event", "message"}, {"text", utf8(text)}});
    line(utf8(lines_of(text)));
}

void Reporter::library_message(std::string_view text, std::string_view caption) {
    if (style_ == Style::Json)
        return event(Json{{"event", "library_message"}, {"caption", utf8(caption)}, {"text", utf8(text)}});
    line(utf8(caption.empty() ? std::string("Error") : std::string(caption)) + ": " + utf8(lines_of(text)));
}

void Reporter::question(std::string_view text, bool answer) {
    if (style_ == Style::Json)
        return event(Json{{"event", "question"}, {"text", utf8(text)}, {"answer", answer ? "yes" : "no"}});
    line(utf8(lines_of(text)) + (answer ? " -> Yes" : " -> No"));
}

void Reporter::detected(std::string_view banner, std::string_view mode_code) {
    if (style_ == Style::Json)
        return event(Json{{"event", "detected"}, {"banner", utf8(banner)}, {"mode_code", utf8(mode_code)}});
    line("Controller restarted, mode code " + utf8(mode_code) + ": " + utf8(one_line(banner)));
}

void Reporter::member_started(const tq318::repair::MemberEvent& member) {
    if (!first_start_) first_start_ = Clock::now();
    member_ = member;
    shown_ = member;
    block_ = blocks_ = 0;
    if (style_ == Style::Json) {
        return event(Json{{"event", "member_started"},
                          {"index", member.index},
                          {"count", member.count},
                          {"name", utf8(member.name)},
                          {"size", member.size},
                          {"bytes_done", finished_bytes_},
                          {"bytes_total", total_bytes_}});
    }
    if (style_ == Style::Lines) {
        return line("Loading " + std::to_string(member.index) + " of " + std::to_string(member.count) + ": " +
                    utf8(member.name) + " (" + std::to_string(member.size) + " bytes)");
    }
    draw_live(true);
}

void Reporter::blocks(std::uint32_t block, std::uint32_t total) {
    block_ = block;
    blocks_ = total;
    if (!member_) return;
    if (style_ == Style::Terminal) return draw_live(false);
    if (style_ != Style::Json) return;
    // A few progress objects a second are enough for any reader.
    const auto now = Clock::now();
    if (now - last_drawn_ < std::chrono::milliseconds(250)) return;
    last_drawn_ = now;
    event(Json{{"event", "progress"},
               {"index", member_->index},
               {"count", member_->count},
               {"bytes_done", bytes_done()},
               {"bytes_total", total_bytes_}});
}

void Reporter::member_finished(const tq318::repair::MemberEvent& member, std::uint16_t code) {
    finished_bytes_ += member.size;
    member_.reset();
    if (style_ == Style::Json) {
        return event(Json{{"event", "member_finished"},
                          {"index", member.index},
                          {"count", member.count},
                          {"name", utf8(member.name)},
                          {"code", code},
                          {"bytes_done", finished_bytes_},
                          {"bytes_total", total_bytes_}});
    }
    if (style_ == Style::Lines || code != 0) {
        line("Loaded " + std::to_string(member.index) + " of " + std::to_string(member.count) + ": " +
             utf8(member.name) + (code == 0 ? ", ok" : ", failed with code " + std::to_string(code) + " (" +
                                                           std::string(code_meaning(code)) + ")"));
    } else {
        draw_live(true);
    }
}

void Reporter::result(const Json& result, const std::string& human) {
    if (style_ == Style::Json) return event(result);
    clear_live();
    line(human);
}

namespace {

class ReportedProgress final : public tovrane::ui::ProgressWindow {
public:
    explicit ReportedProgress(Reporter& reporter) : reporter_(reporter) {}
    void set_status(std::string_view) override {}
    void block_acknowledged(std::uint32_t block, std::uint32_t total) override { reporter_.blocks(block, total); }

private:
    Reporter& reporter_;
};

}  // namespace

std::unique_ptr<tovrane::ui::ProgressWindow> LibraryUi::open_progress(std::string_view) {
    return std::make_unique<ReportedProgress>(reporter_);
}

bool LibraryUi::ask_yes_no(std::string_view text, std::string_view caption) {
    bool answer = answer_.value_or(false);
    if (!answer_ && may_ask_) {
        std::fprintf(stdout, "\n%s: %s\nYes or No? [y/N] ", utf8(caption).c_str(), utf8(text).c_str());
        std::fflush(stdout);
        std::string reply;
        answer = std::getline(std::cin, reply) && !reply.empty() && (reply[0] == 'y' || reply[0] == 'Y');
    }
    reporter_.question(text, answer);
    return answer;
}

}  // namespace tovctl
