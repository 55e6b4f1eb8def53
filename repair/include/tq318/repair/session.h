// One repair session, the same for every front end: the optional probe that
// the controller is at its prompt, the repair of a checked package, the
// bookkeeping after a stop, and the record, through one writer.
//
//   CheckedPackage checked = checkPackage(request);        // once per package
//   if (!checked.accepted()) ... show checked.messages      // (or let the session show and record them)
//   SessionResult r = runSession(session, checked, frontEnd, console);
//
// The front end shows what FrontEnd hears and what the result says; it writes
// no record and sends no console line of its own.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "tq318/repair/engine.h"

namespace tq318::repair {

struct SessionRequest {
    std::string frontEnd;      // "Pelorim", "tovctl": the record's name, and the prefix of what goes to stderr
    bool firmware = true;      // firmwareRequest, else osRequest
    FirmwareRequest firmwareRequest;
    OsRequest osRequest;
    std::string banner;        // the detection's, "" when no restart was seen
    std::chrono::system_clock::time_point started = std::chrono::system_clock::now();
    // One blank line before the first command, answered within this time; a
    // controller not at its prompt ends the session (Unready) untouched.
    std::optional<std::chrono::milliseconds> probe;
    // "" while no stop was asked, else what asked it ("stopped by SIGINT").
    std::function<std::string()> stopCause;
    // Called as soon as the repair returns, before anything else is sent.
    std::function<void()> afterRepair;
    // When the repair ended, for the record; null: when the session writes it.
    // (A front end whose last message waits for its OK knows when that box opened.)
    std::function<std::chrono::system_clock::time_point()> endedAt;
};

struct SessionResult {
    enum class End {
        Ran,                // the repair ran (or showed the refusal); a record was written
        Unready,            // the probe found no prompt: `problem` says why; a record was written
        StoppedBeforeStart  // a stop came before the first line: nothing sent, no record
    };
    End end = End::Ran;
    Outcome outcome;
    std::string problem;   // Unready
    std::string stopText;  // after a stop: what was done, as the record says it
};

SessionResult runSession(const SessionRequest& request, const CheckedPackage& checked, FrontEnd& frontEnd,
                         Console& console);
// The package (or image) checked within the session, its stages shown on
// `frontEnd` as they are reached (a window that stays live during the sums).
// No probe: such a front end knows the prompt from its own detection.
SessionResult runSession(const SessionRequest& request, FrontEnd& frontEnd, Console& console);

// A run refused before the device was touched: the package (or image)
// `checked` refused, or, with `why`, the port that could not be opened. Its
// record, through the same writer as every other run's; nothing is sent.
void recordRefusal(const SessionRequest& request, const CheckedPackage& checked, const std::string& why = {});

}  // namespace tq318::repair
