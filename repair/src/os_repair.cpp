// "(1). Repair Tovrane": the operating-system image goes to the controller
// through TOV_Update_Tovrane, then "reset" restarts it.
#include <filesystem>
#include <vector>

#include "line_state.h"
#include "package_problem.h"
#include "regular_file.h"
#include "sha256.h"
#include "tq318/repair/engine.h"

namespace tq318::repair {

namespace {
constexpr std::size_t kReplyBufferSize = 2048;
const std::string kFailureText = "OS Upgrade Failed!!";
}  // namespace

Outcome repairOs(const OsRequest& request, FrontEnd& frontEnd, Console& console) {
    Outcome outcome;
    outcome.path = request.imagePath;
    auto show = [&](const std::string& text) {
        outcome.messages.push_back(text);
        frontEnd.message(text);
    };
    // Only a regular file is sent: a FIFO or a device would block the run.
    if (!isReadableRegularFile(request.imagePath)) {
        outcome.refusal = fileProblem(request.imagePath);
        show("File not found !!");
        return outcome;  // no closing message: the choice was refused
    }
    // An empty image would be sent as a file of no blocks, and the controller
    // restarts with nothing installed: it is refused like a missing one.
    std::error_code sizeError;
    if (std::filesystem::file_size(request.imagePath, sizeError) == 0 || sizeError) {
        outcome.refusal = "the image is empty (0 bytes)";
        show("Image file is empty !!");
        return outcome;
    }
    outcome.sha256 = sha256OfFile(request.imagePath).value_or("");

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
        } else if (!result && frontEnd.ended()) {
            // Stopped during the upload: the library brought the controller
            // back to its prompt; no "reset" follows.
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
