// "(1). Repair Tovrane": the operating-system image goes to the controller
// through TOV_Update_Tovrane, then "reset" restarts it.
#include <filesystem>
#include <vector>

#include "line_state.h"
#include "tq318/repair/engine.h"

namespace tq318::repair {

namespace {
constexpr std::size_t kReplyBufferSize = 2048;
const std::string kFailureText = "OS Upgrade Failed!!";
}  // namespace

Outcome repairOs(const OsRequest& request, FrontEnd& frontEnd, Console& console) {
    return repairOs(request, checkImage(request), frontEnd, console);
}

Outcome repairOs(const OsRequest& request, const CheckedPackage& checked, FrontEnd& frontEnd, Console& console) {
    Outcome outcome;
    outcome.path = checked.path;
    auto show = [&](const std::string& text) {
        outcome.messages.push_back(text);
        frontEnd.message(text);
    };
    // A refused image (checkImage): no closing message, the choice was refused.
    if (!checked.accepted()) {
        outcome.refusal = checked.refusal;
        for (const auto& text : checked.messages) show(text);
        return outcome;
    }
    outcome.sha256 = checked.sha256;
    // Stopped before the upload: nothing is sent at all.
    if (frontEnd.ended()) {
        outcome.result = Outcome::Result::Abandoned;
        return outcome;
    }

    // From here a run-time failure ends the run silently with the result so far.
    bool result = false;
    try {
        std::vector<char> reply(kReplyBufferSize, ' ');
        reply.back() = '\0';
        outcome.deviceTouched = true;
        const uint16_t code = console.TOV_Update_Tovrane(request.port, request.imagePath.c_str(), reply.data());
        outcome.updateCode = code;
        result = (code == 0);
        if (!result && adapterGone(console, request.port)) {
            outcome.disconnected = true;
        } else if (frontEnd.ended()) {
            // Stopped during the upload or the install: the library brought
            // the controller back to its prompt; no "reset" follows, and no
            // success is shown after a stop (the session notes what was installed).
            outcome.result = Outcome::Result::Abandoned;
            return outcome;
        } else {
            frontEnd.status("Reseting...");
            console.Send_Cmd(request.port, "reset", 0);
        }
        if (result) show("Upgrade Successed.");
    } catch (const std::exception&) {
    } catch (const ConsoleUnavailable&) {
    }
    outcome.result = result ? Outcome::Result::Verified : Outcome::Result::Failed;
    if (!result) outcome.failureText = outcome.disconnected ? kAdapterDisconnectedText : kFailureText;
    return outcome;
}

}  // namespace tq318::repair
