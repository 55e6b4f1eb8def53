#include "reporter.h"

#include <cstdio>
#include <algorithm>
#include <iostream>

namespace tovctl {
namespace {

using tq318::repair::Step;

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
std::string gloss_of(Step step, std::string_view status) {
    // The steps that name a mode code begin with it (a blank when none is known).
    const std::string code(status.substr(0, std::min(status.find(' '), status.size())));
    const std::string checking = "checking the package: its member list, every member and its authentication record";
    switch (step) {
        case Step::Checking:
            return code.empty() ? "  (" + checking + ")" : "  (" + code + " is the mode code; " + checking + ")";
        case Step::ModeFound:
            if (code.empty()) return {};
            return "  (" + code + " is the mode code: unless --disk says otherwise, the members go to disk " +
                   (code == "MS" ? "A" : "B") + ")";
        case Step::Authenticated: return "  (the package's record matches its program; both disks are emptied next)";
        default: return {};
    }
}

std::string left_text(double seconds) {
    if (seconds < 0) return "--:--";
    const auto s = static_cast<long>(seconds + 0.5);
    char text[48];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

std::string string_of(const Json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::uint64_t number_of(const Json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_number_unsigned() ? it->get<std::uint64_t>() : 0;
}

}  // namespace

std::string EventView::take(const Event& e) {
    using Kind = tq318::repair::EventKind;
    const bool terminal = style_ == Style::Terminal;
    std::string text;
    switch (e.kind) {
        case Kind::Status: {
            // A status that names no mode code begins with a blank: none on the screen.
            std::string_view shown = e.text;
            while (!shown.empty() && shown.front() == ' ') shown.remove_prefix(1);
            text = std::string(shown) + gloss_of(e.step, e.text);
            break;
        }
        case Kind::Message: text = lines_of(e.text); break;
        case Kind::LibraryMessage:
            text = (e.caption.empty() ? std::string("Error") : e.caption) + ": " + lines_of(e.text);
            break;
        case Kind::Question: text = lines_of(e.text) + (e.answer ? " -> Yes" : " -> No"); break;
        case Kind::Detected:
            text = "Controller restarted, mode code " + e.modeCode + ": " + one_line(e.banner);
            break;
        case Kind::MemberStarted:
            if (!first_start_) first_start_ = Clock::now();
            member_ = e.member;
            shown_ = e.member;
            done_ = finished_bytes_;
            live_ = terminal;
            if (style_ == Style::Lines)
                text = "Loading " + std::to_string(e.member.index) + " of " + std::to_string(e.member.count) + ": " +
                       e.member.name + " (" + std::to_string(e.member.size) + " bytes)";
            return text;
        case Kind::Progress:
            if (member_) done_ = std::max(e.bytesDone, finished_bytes_);
            return {};
        case Kind::MemberFinished: {
            // A child's JSON does not repeat the size: the member under way has it.
            finished_bytes_ += member_ && member_->index == e.member.index ? member_->size : e.member.size;
            done_ = finished_bytes_;
            member_.reset();
            live_ = terminal && e.code == 0;
            if (style_ == Style::Lines || e.code != 0)
                text = "Loaded " + std::to_string(e.member.index) + " of " + std::to_string(e.member.count) + ": " +
                       e.member.name +
                       (e.code == 0 ? ", ok"
                                    : ", failed with code " + std::to_string(e.code) + " (" +
                                          std::string(code_meaning(e.code)) + ")");
            return text;
        }
        case Kind::Result: return {};
    }
    // A whole line: the live line comes back under it while a download is under way.
    live_ = terminal && member_.has_value();
    return text;
}

std::string EventView::live_line() const {
    const double done = static_cast<double>(done_);
    const double seconds =
        first_start_ ? std::chrono::duration<double>(Clock::now() - *first_start_).count() : 0.0;
    const double rate = seconds > 0.2 ? done / seconds : 0.0;
    const bool known = rate > 0 && static_cast<double>(total_bytes_) >= done;
    char text[256];
    std::snprintf(text, sizeof text, "[%d/%d] %.40s  %s of %s  %s/s  %s left", shown_.index, shown_.count,
                  shown_.name.c_str(), human_bytes(done).c_str(),
                  human_bytes(static_cast<double>(total_bytes_)).c_str(), human_bytes(rate).c_str(),
                  left_text(known ? (static_cast<double>(total_bytes_) - done) / rate : -1).c_str());
    return text;
}

Json json_of(const Event& e, const EventView& view) {
    using Kind = tq318::repair::EventKind;
    Json j{{"event", event_name(e.kind)}};
    switch (e.kind) {
        case Kind::Status:
            j["text"] = e.text;
            j["step"] = std::string(tq318::repair::nameOf(e.step));
            break;
        case Kind::Message: j["text"] = e.text; break;
        case Kind::LibraryMessage:
            j["caption"] = e.caption;
            j["text"] = e.text;
            break;
        case Kind::Question:
            j["text"] = e.text;
            j["answer"] = e.answer ? "yes" : "no";
            break;
        case Kind::Detected:
            j["banner"] = e.banner;
            j["mode_code"] = e.modeCode;
            break;
        case Kind::MemberStarted:
        case Kind::MemberFinished:
            j["index"] = e.member.index;
            j["count"] = e.member.count;
            j["name"] = e.member.name;
            if (e.kind == Kind::MemberStarted) {
                j["size"] = e.member.size;
            } else {
                j["code"] = e.code;
            }
            j["bytes_done"] = view.bytes_done();
            j["bytes_total"] = view.total_bytes();
            break;
        case Kind::Progress:
            j["index"] = e.member.index;
            j["count"] = e.member.count;
            j["bytes_done"] = view.bytes_done();
            j["bytes_total"] = view.total_bytes();
            break;
        case Kind::Result: break;
    }
    return j;
}

std::optional<Event> event_of(const Json& j) {
    using Kind = tq318::repair::EventKind;
    const auto kind = tq318::repair::eventKindNamed(string_of(j, "event"));
    if (!kind) return std::nullopt;
    Event e{.kind = *kind};
    e.step = tq318::repair::stepNamed(string_of(j, "step")).value_or(Step::Other);
    e.text = string_of(j, "text");
    e.caption = string_of(j, "caption");
    e.answer = string_of(j, "answer") == "yes";
    e.banner = string_of(j, "banner");
    e.modeCode = string_of(j, "mode_code");
    e.member.index = static_cast<int>(number_of(j, "index"));
    e.member.count = static_cast<int>(number_of(j, "count"));
    e.member.name = string_of(j, "name");
    e.member.size = number_of(j, "size");
    e.code = static_cast<std::uint16_t>(number_of(j, "code"));
    e.bytesDone = number_of(j, "bytes_done");
    if (*kind == Kind::MemberFinished && !j.contains("code")) e.code = 0xffff;  // no word: not loaded
    return e;
}

std::string result_text(const Json& r) {
    const std::string result = string_of(r, "result");
    if (r.value("ok", false)) {
        if (string_of(r, "command") == "repair-os")
            return "Verified: the controller reported the image's CRC16 and is running " +
                   string_of(r, "running_after_restart") + " after the restart.";
        int sent = 0;
        if (const auto m = r.find("members"); m != r.end() && m->is_array())
            for (const auto& member : *m) sent += member.value("sent", false) ? 1 : 0;
        return "Verified: " + std::to_string(sent) + " member(s) listed on disk " + string_of(r, "disk") +
               " with their sizes.";
    }
    if (result == "unproven") return "Not verified: " + string_of(r, "unproven") + ".";
    // After a stop the last message is the session's account of it, the next step included.
    if (result == "abandoned") {
        const auto m = r.find("messages");
        const bool said = m != r.end() && m->is_array() && !m->empty() && m->back().is_string();
        return "Abandoned: " + (said ? m->back().get<std::string>() : std::string("the repair was stopped")) + ".";
    }
    const std::string failure = string_of(r, "failure");
    std::string text = "Failed: " + (failure.empty() ? std::string("the repair did not complete") : one_line(failure));
    if (const std::string reason = string_of(r, "reason"); !reason.empty()) text += "\n  " + reason;
    if (const auto v = r.find("verification"); v != r.end() && v->is_object() && v->contains("lines"))
        for (const auto& l : (*v)["lines"])
            if (l.is_string()) text += "\n  " + l.get<std::string>();
    if (const std::string disks = string_of(r, "disks"); !disks.empty()) {
        bool anyLoaded = false;
        if (const auto m = r.find("members"); m != r.end() && m->is_array())
            for (const auto& member : *m)
                anyLoaded = anyLoaded || (member.contains("load_code") && member["load_code"] == 0);
        text += anyLoaded ? std::string("\nThe disks were emptied before the download and do not hold the whole "
                                        "firmware: the repair must be repeated.")
                          : "\n" + disks + " The repair must be repeated.";
    }
    return text;
}

void Reporter::line(const std::string& text) {
    clear_live();
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void Reporter::clear_live() {
    if (!live_shown_) return;
    std::fputs("\r\x1b[K", stdout);
    live_shown_ = false;
}

void Reporter::draw_live(bool force) {
    const auto now = Clock::now();
    if (!force && now - last_drawn_ < kLiveInterval) return;
    last_drawn_ = now;
    std::fputs(("\r\x1b[K" + view_.live_line()).c_str(), stdout);
    std::fflush(stdout);
    live_shown_ = true;
}

void Reporter::show(const Event& e) {
    const std::string text = view_.take(e);
    if (style_ == Style::Json) return print_json(json_of(e, view_));
    if (!text.empty()) line(text);
    if (view_.live()) draw_live(e.kind != tq318::repair::EventKind::Progress);
}

void Reporter::blocks(std::uint32_t block, std::uint32_t total) {
    const tq318::repair::MemberEvent* member = view_.under_way();
    if (member == nullptr || total == 0) return;
    Event e{.kind = tq318::repair::EventKind::Progress, .member = *member};
    e.bytesDone = view_.finished_bytes() + member->size * std::min(block, total) / total;
    if (style_ == Style::Lines) return;
    if (style_ == Style::Json) {
        view_.take(e);
        // A few progress objects a second are enough for any reader.
        const auto now = Clock::now();
        if (now - last_drawn_ < std::chrono::milliseconds(250)) return;
        last_drawn_ = now;
        return print_json(json_of(e, view_));
    }
    show(e);
}

void Reporter::result(const Json& result) {
    if (style_ == Style::Json) return print_json(result);
    clear_live();
    line(result_text(result));
}

void EngineFrontEnd::event(const Event& engine) {
    Event e = engine;
    e.text = utf8(e.text);
    e.caption = utf8(e.caption);
    e.banner = utf8(e.banner);
    e.modeCode = utf8(e.modeCode);
    e.member.name = utf8(e.member.name);
    reporter_.show(e);
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

void LibraryUi::message(std::string_view text, std::string_view caption) {
    reporter_.show({.kind = tq318::repair::EventKind::LibraryMessage, .text = utf8(text), .caption = utf8(caption)});
}

bool LibraryUi::ask_yes_no(std::string_view text, std::string_view caption) {
    bool answer = answer_.value_or(false);
    if (!answer_ && may_ask_) {
        std::fprintf(stdout, "\n%s: %s\nYes or No? [y/N] ", utf8(caption).c_str(), utf8(text).c_str());
        std::fflush(stdout);
        std::string reply;
        answer = std::getline(std::cin, reply) && !reply.empty() && (reply[0] == 'y' || reply[0] == 'Y');
    }
    reporter_.show({.kind = tq318::repair::EventKind::Question, .text = utf8(text), .answer = answer});
    return answer;
}

}  // namespace tovctl
