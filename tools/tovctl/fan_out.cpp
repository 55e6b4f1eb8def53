// Several controllers at once: the library allows one transfer per process,
// so every port gets a child tovctl (one --port, --json, stdin /dev/null).
// The parent alone draws the terminal: it reads each child's JSON Lines into
// the engine's events and shows them with the reporter's own view: one live
// line per port (else each port's lines as a single-port run prints them,
// prefixed by the port, or the events again with a "port" field) and a
// summary at the end.
#include <chrono>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>

#include "child_process.h"
#include "console.h"
#include "reporter.h"
#include "repair.h"

namespace tovctl {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kLineLimit = 1 << 20;   // one JSON line from a child
constexpr std::size_t kErrorLimit = 16 << 10; // what is kept of a child's standard error
constexpr auto kQuietLimit = 120s;            // a child that says nothing this long is stopped
constexpr auto kKillGrace = 30s;             // a stopped child brings its controller back first
// A stopped child brings its controller back to its prompt (at most 15 s)
// and writes its record in this time; then it is killed.
constexpr auto kStopGrace = 30s;

struct Child {
    std::string port;
    ChildProcess process;
    std::string pending;     // an unfinished line
    std::string errors;      // its standard error
    Clock::time_point started, heard;
    std::optional<Clock::time_point> killed;
    bool running = false;
    int status = -1;         // exit status, or 128 + signal
    std::string note;        // why the parent gave up on it
    // Its events as a single-port run shows them, and what its line shows.
    std::unique_ptr<EventView> view;
    std::string activity;    // the last line its events printed
    int count = 0;           // members sent in its run
    int loaded = 0;          // members the controller took (load code 0)
    std::optional<Json> result;
};

bool spawn(Child& c, std::size_t number, const std::string& program, const Options& options,
           const RepairArgs& args) {
    std::vector<std::string> argv{program, "--port", c.port, "--json"};
    if (!options.trace.empty()) argv.insert(argv.end(), {"--trace", options.trace + "." + std::to_string(number)});
    for (auto& a : args.child_args()) argv.push_back(a);
    if (const std::string why = c.process.start(argv); !why.empty()) {
        c.note = why;
        return false;
    }
    c.running = true;
    c.started = c.heard = Clock::now();
    return true;
}

std::string text_of(const Json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

class Board {
public:
    Board(const Options& options, std::vector<Child>& children, std::uint64_t total_bytes)
        : children_(children),
          style_(options.json ? Style::Json : (stdout_is_terminal() ? Style::Terminal : Style::Lines)) {
        for (Child& c : children_) {
            c.view = std::make_unique<EventView>(style_);
            c.view->set_total_bytes(total_bytes);
        }
    }

    // One event from a child: rendered by the child's own view, as its run
    // alone would print it, each line under the port's name.
    void event(Child& c, const Json& j) {
        using Kind = tq318::repair::EventKind;
        if (style_ == Style::Json) {
            Json out{{"port", c.port}};
            for (auto it = j.begin(); it != j.end(); ++it) out[it.key()] = it.value();
            print_json(out);
        }
        const auto e = event_of(j);
        if (!e) return;
        if (e->kind == Kind::Result) c.result = j;
        if (e->kind == Kind::MemberStarted || e->kind == Kind::MemberFinished) c.count = e->member.count;
        if (e->kind == Kind::MemberFinished && e->code == 0) ++c.loaded;
        if (style_ == Style::Json) return;
        const std::string text = e->kind == Kind::Result ? result_text(j) : c.view->take(*e);
        if (text.empty()) return;
        c.activity = one_line(text);
        if (style_ == Style::Lines) {
            std::size_t start = 0;
            for (std::size_t end; start <= text.size(); start = end + 1) {
                end = std::min(text.find('\n', start), text.size());
                std::printf("%s: %s\n", c.port.c_str(), text.substr(start, end - start).c_str());
            }
            std::fflush(stdout);
        }
    }

    void draw(bool force) {
        if (style_ != Style::Terminal) return;
        const auto now = Clock::now();
        if (!force && now - drawn_ < 100ms) return;
        drawn_ = now;
        std::vector<std::string> lines;
        for (const Child& c : children_) lines.push_back(line_of(c));
        if (lines == shown_) return;  // nothing new to draw
        if (!shown_.empty()) std::printf("\x1b[%zuA", shown_.size());
        for (const auto& line : lines) std::printf("\r\x1b[K%s\n", line.c_str());
        shown_ = std::move(lines);
        std::fflush(stdout);
    }

private:
    static std::string line_of(const Child& c) {
        std::string state;
        if (!c.running && c.status >= 0) {
            state = outcome_of(c);
        } else if (c.view->live()) {
            state = c.view->live_line();
        } else {
            state = c.activity.empty() ? "starting" : c.activity;
        }
        return c.port + "  " + state.substr(0, 100);
    }

public:
    static std::string outcome_of(const Child& c) {
        if (c.result && c.status == kExitOk && c.result->value("ok", false)) return "verified";
        if (c.result && text_of(*c.result, "result") == "abandoned") return "abandoned";
        if (c.result && c.status == kExitUnproven && text_of(*c.result, "result") == "unproven") return "unproven";
        if (!c.result && c.status > 128 && stop_requested()) return "abandoned";
        return "failed";
    }

private:
    std::vector<Child>& children_;
    Style style_;
    Clock::time_point drawn_{};
    std::vector<std::string> shown_;  // the lines on the screen
};

// Takes what a child wrote.
void drain(Child& c, const ChildOutput& got, Board& board) {
    if (got.bytes.empty()) return;  // that pipe ended
    const bool is_out = got.is_out;
    c.heard = Clock::now();
    if (!is_out) {
        c.errors.append(got.bytes);
        if (c.errors.size() > kErrorLimit) c.errors.erase(0, c.errors.size() - kErrorLimit);
        return;
    }
    c.pending.append(got.bytes);
    std::size_t start = 0;
    for (std::size_t end; (end = c.pending.find('\n', start)) != std::string::npos; start = end + 1) {
        const auto j = Json::parse(c.pending.begin() + static_cast<std::ptrdiff_t>(start),
                                   c.pending.begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
        if (j.is_object()) board.event(c, j);
    }
    c.pending.erase(0, start);
    if (c.pending.size() > kLineLimit) c.pending.clear();  // no line is that long: not ours
}

std::string detail_of(const Child& c) {
    if (!c.note.empty()) return c.note;
    if (c.status > 128 && !c.result) return "ended by signal " + std::to_string(c.status - 128);
    if (!c.result) return "no result (exit " + std::to_string(c.status) + ")";
    if (Board::outcome_of(c) == "verified") return "";
    std::string text = text_of(*c.result, "failure");
    const auto lines = c.result->find("verification");
    if (lines != c.result->end() && lines->contains("lines")) {
        for (const auto& l : (*lines)["lines"]) text += (text.empty() ? "" : "; ") + l.get<std::string>();
    }
    if (text.empty()) text = text_of(*c.result, "unproven");
    if (text.empty()) text = text_of(*c.result, "result");
    return text;
}

}  // namespace

int repair_many(const Options& options, const RepairArgs& parent_args, const tq318::repair::CheckedPackage& checked) {
    const std::string program = own_executable();
    // The package was checked once, here: every child verifies that check by
    // hash (the members the parent unpacked, kept until the children end)
    // instead of unpacking its own copy.
    RepairArgs args = parent_args;
    if (args.firmware) args.checked = write_check_manifest(checked);
    std::vector<Child> children(options.ports.size());
    for (std::size_t i = 0; i < children.size(); ++i) {
        children[i].port = options.ports[i];
        spawn(children[i], i + 1, program, options, args);
    }
    Board board(options, children, checked.bytesToSend);
    const auto quiet_limit = kQuietLimit + (args.wait ? std::chrono::seconds(args.wait_timeout) : 0s);
    bool stopping = false;
    Clock::time_point stopped_at{};
    while (true) {
        std::vector<ChildProcess*> processes;
        bool any_running = false, any_output = false;
        for (Child& c : children) {
            processes.push_back(&c.process);
            any_output = any_output || c.process.has_output();
            any_running = any_running || c.running;
        }
        if (!any_running && !any_output) break;
        for (const ChildOutput& got : read_children(processes, 100ms)) drain(children[got.child], got, board);
        const auto now = Clock::now();
        // A stop: every child gets the same signal once, and is killed if it has not ended after kStopGrace.
        if (stop_requested() && !stopping) {
            stopping = true;
            stopped_at = now;
            for (Child& c : children)
                if (c.running) c.process.ask_to_stop(stop_signal());
        } else if (stopping && now - stopped_at > kStopGrace) {
            for (Child& c : children)
                if (c.running) c.process.kill();
        }
        for (Child& c : children) {
            if (!c.running) continue;
            if (const auto status = c.process.exited()) {
                c.running = false;
                c.status = *status;
                continue;
            }
            // Every wait is bounded: a child that says nothing is stopped, then killed.
            if (!c.killed && now - c.heard > quiet_limit) {
                c.note = "no word from the repair for " +
                         std::to_string(std::chrono::duration_cast<std::chrono::seconds>(quiet_limit).count()) +
                         " s: stopped";
                c.process.ask_to_stop(SIGTERM);
                c.killed = now;
            } else if (c.killed && now - *c.killed > kKillGrace) {
                c.process.kill();
            }
        }
        board.draw(false);
    }
    board.draw(true);

    bool all_verified = true;
    bool none_failed = true;  // every port verified or installed unproven
    Json summary = Json::array();
    if (!options.json) std::printf("\n%-24s %-9s %-8s %-7s %s\n", "PORT", "RESULT", "MEMBERS", "TIME", "DETAIL");
    for (const Child& c : children) {
        const std::string outcome = c.process.started() ? Board::outcome_of(c) : "failed";
        all_verified = all_verified && outcome == "verified";
        none_failed = none_failed && (outcome == "verified" || outcome == "unproven");
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(c.heard - c.started).count();
        // Members loaded, not members tried: a failed load is not counted. An
        // image is no member.
        const std::string members =
            args.firmware && c.count > 0 ? std::to_string(c.loaded) + "/" + std::to_string(c.count) : "-";
        const std::string detail = detail_of(c);
        summary.push_back(Json{{"port", c.port},
                               {"result", outcome},
                               {"exit", c.status},
                               {"members", members},
                               {"seconds", seconds},
                               {"detail", detail}});
        if (!options.json) {
            std::printf("%-24s %-9s %-8s %ld:%02ld   %s\n", c.port.c_str(), outcome.c_str(), members.c_str(),
                        static_cast<long>(seconds / 60), static_cast<long>(seconds % 60), detail.c_str());
        }
    }
    // A stop ends with the signal's status, never 0.
    const int status = stop_requested() ? stop_exit_status()
                       : all_verified   ? kExitOk
                       : none_failed    ? kExitUnproven
                                        : kExitFailed;
    if (options.json) {
        Json j{{"event", "summary"}, {"command", args.command()}, {"ok", all_verified},
               {"exit", status}, {"ports", summary}};
        if (stop_requested()) j["stopped_by"] = stop_signal_name();
        print_json(j);
    } else if (stop_requested()) {
        std::printf("Stopped by %s.\n", stop_signal_name().c_str());
    }
    // What the children said on standard error, once, after the table.
    for (const Child& c : children) {
        std::size_t start = 0;
        for (std::size_t end; (end = c.errors.find('\n', start)) != std::string::npos; start = end + 1)
            std::fprintf(stderr, "%s: %s\n", c.port.c_str(), c.errors.substr(start, end - start).c_str());
    }
    std::fflush(stdout);
    return status;
}

}  // namespace tovctl
