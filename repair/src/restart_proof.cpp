#include "restart_proof.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <thread>
#include <vector>

#include "line_state.h"

namespace tq318::repair {

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint16_t kReadSliceMs = 50;
constexpr std::string_view kPasswordPrompt = "password:";
// A controller that keeps refusing the password is not logged into forever.
constexpr int kMaxLogins = 3;
// "ver" once the prompt is back; a prompt printed before the console is
// ready may answer it with something else, so it is asked again at the next.
constexpr int kMaxVersionQueries = 3;
constexpr std::size_t kVersionReply = 2048;

std::string seconds(std::chrono::milliseconds limit) {
    return std::to_string((limit.count() + 999) / 1000) + " s";
}

}  // namespace

std::string versionText(int32_t number) {
    const std::string digits = std::to_string(number);
    if (number <= 0) return {};
    if (digits.size() < 5) return "Tovrane version " + digits;
    return "Tovrane " + digits.substr(0, 1) + "." + digits.substr(1, digits.size() - 4) + " build " +
           digits.substr(digits.size() - 3);
}

RestartProof proveRestart(const RestartRequest& request, FrontEnd& frontEnd, Console& console) {
    RestartProof proof;
    const auto deadline = Clock::now() + request.limit;
    frontEnd.status("Waiting for the controller to come back ...");
    std::string text;  // what came since "reset" or the last login, its tail
    bool heard = false;
    int logins = 0, queries = 0;
    std::array<char, kTextCapacity> buffer{};
    while (Clock::now() < deadline && !frontEnd.ended()) {
        buffer[0] = '\0';
        buffer.back() = '\0';
        uint16_t scratch = 0;
        const auto sliceEnd = Clock::now() + std::chrono::milliseconds(kReadSliceMs);
        if (console.Receive_Cmd(request.port, buffer.data(), kReadSliceMs, 0, &scratch) == kLineHungUp) {
            proof.disconnected = true;
            proof.problem = "the serial adapter went away while the controller restarted";
            return proof;
        }
        const auto end = std::find(buffer.begin(), buffer.end(), '\0');
        // A port that fails at once must not spin here.
        if (end == buffer.begin()) std::this_thread::sleep_until(std::min(sliceEnd, deadline));
        text.append(buffer.begin(), end);
        heard = heard || end != buffer.begin();
        if (text.size() > kTextCapacity) text.erase(0, text.size() - kTextCapacity);
        frontEnd.yield();

        if (text.ends_with(kPasswordPrompt)) {
            if (request.password.empty() || logins == kMaxLogins) {
                proof.problem = logins == 0 ? "the controller asks for its password after the restart"
                                            : "the controller refused the console password after the restart";
                return proof;
            }
            ++logins;
            console.Send_Cmd(request.port, request.password.c_str(), 0);
            text.clear();
            continue;
        }
        if (text.empty() || text.back() != '>') continue;
        if (queries == kMaxVersionQueries) break;
        ++queries;
        std::array<char, 32> model{};
        std::array<char, 16> date{};
        std::array<char, 32> flash{};
        std::vector<char> reply(kVersionReply, ' ');
        reply.back() = '\0';
        int32_t probeFlag = 0;
        const int32_t number = console.TOV_Get_Tovrane_Version(request.port, model.data(), date.data(), flash.data(), &probeFlag,
                                        reply.data());
        // The build date is written only when the reply was a version report.
        const std::string version = date[0] != '\0' ? versionText(number) : std::string();
        if (!version.empty()) {
            proof.running = version;
            return proof;
        }
        text.clear();
    }
    if (frontEnd.ended()) {
        proof.problem = "stopped while waiting for the controller to come back";
    } else if (queries > 0) {
        proof.problem = "the controller came back to its prompt but did not report its version to \"ver\"";
    } else if (heard) {
        proof.problem = "the controller's prompt did not come back within " + seconds(request.limit) +
                        " after the restart";
    } else {
        proof.problem = "the controller was silent for " + seconds(request.limit) + " after the restart";
    }
    return proof;
}

void proveInstall(const OsRequest& request, bool crcCompared, FrontEnd& frontEnd, Console& console,
                  Outcome& outcome, const std::function<void(const std::string&)>& show) {
    outcome.imageCrc = crcCompared ? "equal" : "absent";
    const RestartProof proof = proveRestart({request.port, request.password, request.restartLimit}, frontEnd, console);
    if (proof.running.empty()) {
        outcome.disconnected = proof.disconnected;
        outcome.reason = "the image was installed but not proven: " + proof.problem;
        outcome.result = Outcome::Result::Failed;
        show("Not verified: " + proof.problem + ".");
        return;
    }
    outcome.runningAfterRestart = proof.running;
    const std::string running = "running " + proof.running + " after the restart";
    if (crcCompared) {
        outcome.result = Outcome::Result::Verified;
        show("Upgrade Successed.");
        return;
    }
    outcome.result = Outcome::Result::Unproven;
    outcome.unproven = "installed; the controller reported no CRC, so the image's content was not compared; " + running;
    show(outcome.unproven);
}

bool reportGaveCrc(std::span<const char> reply) {
    const std::string_view within(reply.data(), std::min(reply.size(), kUpdateReplyMin));
    const std::size_t answerEnd = within.find('\0');
    if (answerEnd == std::string_view::npos) return false;
    const std::string_view rest = within.substr(answerEnd + 1);
    const std::size_t end = rest.find('\0');
    return end != std::string_view::npos && rest.substr(0, end).starts_with("CRC16=");
}

}  // namespace tq318::repair
