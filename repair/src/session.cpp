// The repair session: probe, repair, stop bookkeeping and the one record writer.
#include "tq318/repair/session.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "tq318/repair/prompt_check.h"
#include "tq318/repair/record.h"
#include "tq318/repair/record_port.h"

namespace tq318::repair {

namespace {

using SystemClock = std::chrono::system_clock;

// How long the probe after a stop waits for the prompt.
constexpr std::chrono::milliseconds kProbeAfterStop{1500};


// Why the console that was probed is not ready for a repair; empty when it is.
std::string probeProblem(const PromptProbe& probe) {
    switch (probe.state) {
        case PromptProbe::State::Prompt: return {};
        case PromptProbe::State::Password: return "the controller asks for its password: power it on with --wait";
        case PromptProbe::State::Silent:
            return "the console is silent: no prompt came within 1.5 s (is the cable joined and the controller on?)";
        case PromptProbe::State::Other: break;
    }
    // Line ends become blanks, but blanks are kept: one after the prompt is why it failed.
    std::string_view text = probe.seen;
    while (!text.empty() && (text.front() == '\r' || text.front() == '\n')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
    std::string seen;
    for (char c : text) {
        const bool lineEnd = c == '\r' || c == '\n';
        if (lineEnd && !seen.empty() && seen.back() == ' ') continue;
        seen += lineEnd ? ' ' : c;
    }
    const std::size_t last = seen.find_last_not_of(' ');
    const bool blankAfterPrompt = last != std::string::npos && last + 1 < seen.size() && seen[last] == '>';
    return "the console answered \"" + seen + "\" instead of its prompt" +
           (blankAfterPrompt ? " (blanks follow the prompt character '>')" : "");
}

// The disk the request names: its own, else the banner's mode code; 0 without either.
char askedDisk(const SessionRequest& r) {
    if (r.firmwareRequest.disk) return *r.firmwareRequest.disk;
    if (!r.banner.empty()) return r.firmwareRequest.modeCode == "MS" ? 'a' : 'b';
    return 0;
}

uint8_t portOf(const SessionRequest& r) { return r.firmware ? r.firmwareRequest.port : r.osRequest.port; }

// A failed outcome that holds what the package check found: its path, digests and members.
Outcome failedAfterCheck(const CheckedPackage& checked) {
    Outcome o;
    o.path = checked.path;
    o.sha256 = checked.sha256;
    o.members = checked.members;
    o.result = Outcome::Result::Failed;
    return o;
}

// The outcome of a session that ended at the probe: what the package check
// found, the disk asked for, and why it stopped.
Outcome unreadyOutcome(const SessionRequest& r, const CheckedPackage& checked, const std::string& problem) {
    Outcome o = failedAfterCheck(checked);
    o.deviceTouched = true;  // the probe's blank line
    if (r.firmware) o.disk = askedDisk(r);
    o.messages = {problem};
    o.failureText = problem;
    return o;
}

// A repair stopped: abandoned unless the controller had already proven it;
// what was done is in the members, and whether the controller is back at its
// prompt is asked once more (a carriage return) and written down.
std::string noteStop(Outcome& o, const std::string& cause, uint8_t port, const std::string& recordName,
                     Console& console) {
    std::string text = cause;
    if (!o.succeeded()) o.result = Outcome::Result::Abandoned;
    if (o.deviceTouched && !o.disconnected) {
        const std::string problem = probeProblem(probePrompt(port, console, kProbeAfterStop));
        text += problem.empty() ? "; the controller answered at its prompt afterwards" : "; afterwards " + problem;
    }
    int sent = 0, loaded = 0;
    for (const auto& m : o.members) {
        sent += m.sent ? 1 : 0;
        loaded += m.loadCode == std::optional<uint16_t>(0) ? 1 : 0;
    }
    if (!o.members.empty())
        text += "; " + std::to_string(loaded) + " member(s) loaded, " + std::to_string(sent) + " sent";
    if (o.verification.passed && !o.succeeded())
        text += "; the listing had shown every member before the stop, but the controller was not restarted";
    if (o.updateCode == std::optional<uint16_t>(0) && !o.succeeded())
        text += "; the controller had installed the image before the stop, but was not restarted";
    // The next step: a controller whose disks were emptied holds no firmware until the repair is repeated.
    if (!o.succeeded() && !o.disks.empty()) {
        std::string disks = o.disks;
        if (disks.back() == '.') disks.pop_back();
        disks.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(disks.front())));
        // Members loaded since then are on the controller, but not the whole firmware.
        // (The authentication record is checked here, never sent.)
        if (loaded > 0) {
            const auto members = std::count_if(o.members.begin(), o.members.end(),
                                               [&](const MemberRecord& m) { return m.name != recordName; });
            disks = "the disks were emptied before the download and hold " + std::to_string(loaded) + " of " +
                    std::to_string(members) + " members";
        }
        text += "; " + disks + ": the repair must be repeated";
    }
    if (!o.succeeded()) o.failureText.clear();
    o.messages.push_back(text);
    return text;
}

// The one record writer. A record that cannot be written never fails the repair.
void record(const SessionRequest& r, const Outcome& given) {
    // The package as a path that still names it when read from another folder.
    Outcome o = given;
    std::error_code ec;
    if (!o.path.empty()) {
        if (const auto full = std::filesystem::absolute(o.path, ec); !ec) o.path = full.string();
    }
    RecordContext context;
    context.frontEnd = r.frontEnd;
    context.kind = r.firmware ? "firmware" : "os";
    context.port = portOf(r);
    const auto device = describePort(context.port);
    context.device = device.device;
    context.byId = device.byId;
    context.banner = r.banner;
    context.modeCode = r.firmwareRequest.modeCode;
    context.started = r.started;
    context.ended = r.endedAt ? r.endedAt() : SystemClock::now();
    if (const auto error = writeRecord(context, o))
        std::fprintf(stderr, "%s: the repair record was not written: %s\n", r.frontEnd.c_str(), error->c_str());
}

// `checked` null: the package is checked now, its stages shown as they are reached.
SessionResult run(const SessionRequest& r, const CheckedPackage* checked, FrontEnd& frontEnd, Console& console) {
    SessionResult result;
    const auto stopCause = [&r] { return r.stopCause ? r.stopCause() : std::string(); };
    if (r.probe && checked && checked->accepted()) {
        // A controller that is not at its prompt would take "del" and the rest
        // as a password or lose them.
        if (!stopCause().empty()) {
            result.end = SessionResult::End::StoppedBeforeStart;
            return result;
        }
        const std::string problem = probeProblem(probePrompt(portOf(r), console, *r.probe));
        if (!problem.empty()) {
            result.end = SessionResult::End::Unready;
            result.problem = problem;
            result.outcome = unreadyOutcome(r, *checked, problem);
            record(r, result.outcome);
            return result;
        }
    }
    if (r.firmware) {
        result.outcome = checked ? repairFirmware(r.firmwareRequest, *checked, frontEnd, console)
                                 : repairFirmware(r.firmwareRequest, frontEnd, console);
    } else {
        result.outcome = checked ? repairOs(r.osRequest, *checked, frontEnd, console)
                                 : repairOs(r.osRequest, frontEnd, console);
    }
    if (r.afterRepair) r.afterRepair();
    if (const std::string cause = stopCause(); !cause.empty())
        result.stopText = noteStop(result.outcome, cause, portOf(r), r.firmwareRequest.recordName, console);
    record(r, result.outcome);
    return result;
}

}  // namespace

SessionResult runSession(const SessionRequest& request, const CheckedPackage& checked, FrontEnd& frontEnd,
                         Console& console) {
    return run(request, &checked, frontEnd, console);
}

SessionResult runSession(const SessionRequest& request, FrontEnd& frontEnd, Console& console) {
    return run(request, nullptr, frontEnd, console);
}

void recordRefusal(const SessionRequest& request, const CheckedPackage& checked, const std::string& why) {
    Outcome o = failedAfterCheck(checked);
    o.messages = checked.messages;
    o.refusal = why.empty() ? checked.refusal : why;
    if (!why.empty()) o.messages.push_back(why);
    o.failureText = o.refusal;
    record(request, o);
}

}  // namespace tq318::repair
