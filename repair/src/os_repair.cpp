// "(1). Repair Tovrane": the operating-system image goes to the controller
// through TOV_Update_Tovrane, then "reset" restarts it.
#include <filesystem>
#include <vector>

#include "line_state.h"
#include "restart_proof.h"
#include "tq318/repair/engine.h"

namespace tq318::repair {

namespace {
constexpr std::size_t kReplyBufferSize = 2048;
const std::string kFailureText = "OS Upgrade Failed!!";
constexpr uint16_t kNotInstalled = 39;
constexpr uint16_t kImageCrcDiffers = 54;

// What TOV_Update_Tovrane's result proves of the image. The controller's
// report is compared with the image's CRC-16 (54 when they differ) and
// "bios1" goes out only after they matched (39 when its answer was no
// finished install); any other failure came before a report was judged.
Verification verificationOf(uint16_t code) {
    Verification v;
    v.attempted = code == 0 || code == kNotInstalled || code == kImageCrcDiffers;
    v.passed = code == 0;
    if (code == kImageCrcDiffers) v.lines = {"the controller's CRC16 report is not the image's"};
    if (code == kNotInstalled) v.lines = {"the controller did not confirm the install"};
    return v;
}

// Why TOV_Update_Tovrane did not install the image, for the outcome.
std::string updateFailure(uint16_t code) {
    const std::string number = " (code " + std::to_string(code) + ")";
    switch (code) {
        case 39: return "the controller's answer to \"bios1\" was no finished install" + number;
        case 46: return "the controller did not take the image: its answer to \"upload\" or its report did not end "
                        "as expected, or the report said it failed" + number;
        case 54: return "the controller reported a CRC16 that is not the image's; nothing was installed" + number;
        default: return "the image was not sent" + number;
    }
}

}  // namespace

Outcome repairOs(const OsRequest& request, FrontEnd& frontEnd, Console& console) {
    return repairOs(request, checkImage(request), frontEnd, console);
}

Outcome repairOs(const OsRequest& request, const CheckedPackage& checked, FrontEnd& frontEnd, Console& console) {
    Outcome outcome;
    outcome.path = checked.path;
    auto show = [&](const std::string& text) {
        outcome.messages.push_back(text);
        frontEnd.event(messageEvent(text));
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
    outcome.result = Outcome::Result::Failed;
    try {
        std::vector<char> reply(kReplyBufferSize, ' ');
        reply.back() = '\0';
        // The image is the one member of this run, for a progress line.
        const MemberEvent image{std::filesystem::path(request.imagePath).filename().string(), 1, 1,
                                checked.bytesToSend, checked.bytesToSend};
        frontEnd.event(memberEvent(EventKind::MemberStarted, image));
        outcome.deviceTouched = true;
        const uint16_t code = console.TOV_Update_Tovrane(request.port, request.imagePath.c_str(), reply.data());
        outcome.updateCode = code;
        outcome.verification = verificationOf(code);
        frontEnd.event(memberEvent(EventKind::MemberFinished, image, code));
        if (code != 0) outcome.reason = updateFailure(code);
        if (code != 0 && adapterGone(console, request.port)) {
            outcome.disconnected = true;
        } else if (frontEnd.ended()) {
            // Stopped during the upload or the install: the library brought
            // the controller back to its prompt; no "reset" follows, and no
            // success is shown after a stop (the session notes what was installed).
            outcome.result = Outcome::Result::Abandoned;
            return outcome;
        } else {
            frontEnd.event(statusEvent(Step::Restarting, "Reseting..."));
            console.Send_Cmd(request.port, "reset", 0);
            if (code == 0) proveInstall(request, reportGaveCrc(reply), frontEnd, console, outcome, show);
            // The CRC16 report proves the content only with the controller back after the restart.
            if (outcome.result != Outcome::Result::Verified) outcome.verification.passed = false;
        }
    } catch (const std::exception&) {
    } catch (const ConsoleUnavailable&) {
    }
    if (outcome.result == Outcome::Result::Failed)
        outcome.failureText = outcome.disconnected ? kAdapterDisconnectedText : kFailureText;
    return outcome;
}

}  // namespace tq318::repair
