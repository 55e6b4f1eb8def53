// Several controllers at once: the library allows one transfer per process,
// so every port gets a child tovctl (one --port, --json, stdin /dev/null).
// The parent alone draws the terminal: it reads each child's JSON Lines,
// shows one progress line per port (else per-step lines prefixed by the
// port, or the events again with a "port" field) and a summary at the end.
#include <chrono>
#include <csignal>
#include <cstdio>

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
    // What its line shows.
    std::string activity;
    int index = 0, count = 0;
    int loaded = 0;          // members the controller took (load code 0)
    std::uint64_t done = 0, total = 0;
    std::optional<Clock::time_point> first_load;
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

std::uint64_t number_of(const Json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_number_unsigned() ? it->get<std::uint64_t>() : 0;
}

class Board {
public:
    Board(const Options& options, std::vector<Child>& children)
        : children_(children),
          style_(options.json ? Style::Json : (stdout_is_terminal() ? Style::Terminal : Style::Lines)) {}

    // One event from a child.
    void event(Child& c, const Json& j) {
        const std::string kind = text_of(j, "event");
        if (kind == "member_started" || kind == "progress" || kind == "member_finished") {
            if (!c.first_load) c.first_load = Clock::now();
            c.index = static_cast<int>(number_of(j, "index"));
            c.count = static_cast<int>(number_of(j, "count"));
            c.done = number_of(j, "bytes_done");
            c.total = number_of(j, "bytes_total");
        }
        if (kind == "member_finished" && j.value("code", -1) == 0) ++c.loaded;
        if (kind == "status" || kind == "message") c.activity = one_line(text_of(j, "text"));
        if (kind == "result") c.result = j;
        if (style_ == Style::Json) {
            Json out{{"port", c.port}};
            for (auto it = j.begin(); it != j.end(); ++it) out[it.key()] = it.value();
            print_json(out);
        } else if (style_ == Style::Lines) {
            std::string text;
            if (kind == "status" || kind == "message") text = one_line(text_of(j, "text"));
            if (kind == "library_message") text = text_of(j, "caption") + ": " + one_line(text_of(j, "text"));
            if (kind == "question") text = one_line(text_of(j, "text")) + " -> " + text_of(j, "answer");
            if (kind == "detected") text = "Controller restarted, mode code " + text_of(j, "mode_code");
            if (kind == "member_started")
                text = "Loading " + std::to_string(c.index) + " of " + std::to_string(c.count) + ": " +
                       text_of(j, "name") + " (" + std::to_string(number_of(j, "size")) + " bytes)";
            if (kind == "member_finished")
                text = "Loaded " + std::to_string(c.index) + " of " + std::to_string(c.count) + ": " +
                       text_of(j, "name") + ", code " + std::to_string(number_of(j, "code"));
            if (kind == "result") text = "Result: " + text_of(j, "result");
            if (!text.empty()) std::printf("%s: %s\n", c.port.c_str(), text.c_str());
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
        } else if (c.count > 0 && c.index > 0 && c.activity != "Verifying ..." && c.activity != "Reseting...") {
            const double seconds =
                c.first_load ? std::chrono::duration<double>(Clock::now() - *c.first_load).count() : 0.0;
            const double rate = seconds > 0.2 ? static_cast<double>(c.done) / seconds : 0.0;
            char text[160];
            const long left = rate > 0 && c.total >= c.done ? static_cast<long>((c.total - c.done) / rate) : -1;
            std::snprintf(text, sizeof text, "[%d/%d] %llu/%llu bytes  %.0f B/s  %s", c.index, c.count,
                          static_cast<unsigned long long>(c.done), static_cast<unsigned long long>(c.total), rate,
                          left < 0 ? "--:-- left"
                                   : (std::to_string(left / 60) + ":" + (left % 60 < 10 ? "0" : "") +
                                      std::to_string(left % 60) + " left")
                                         .c_str());
            state = text;
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
    Board board(options, children);
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
        // Members loaded, not members tried: a failed load is not counted.
        const std::string members = c.count > 0 ? std::to_string(c.loaded) + "/" + std::to_string(c.count) : "-";
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
