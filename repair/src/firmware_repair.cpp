// "(2). Repair Firmware": a package checked by checkPackage (package_check.cpp)
// is sent: both flash disks are emptied, every listed member is downloaded,
// and the controller restarts with "reset".
//
// A library result other than 0 makes the run a failure; the controller is
// still sent "reset" so that it restarts into repair mode for another try.
#include <algorithm>
#include <cstring>
#include <chrono>
#include <optional>
#include <string_view>
#include <vector>

#include "disk_deletes.h"
#include "line_state.h"
#include "read_back.h"
#include "regular_file.h"
#include "tq318/repair/engine.h"

namespace tq318::repair {

namespace {

constexpr uint16_t kPromptTimeoutMs = 200;
constexpr uint16_t kMaxPromptTimeoutMs = 10000;
constexpr char kPromptChar = '>';
constexpr std::chrono::milliseconds kConsolePause{1000};
constexpr std::size_t kReplyBufferSize = 2048;
constexpr std::size_t kFreeTextSize = 32;
constexpr int kLoadModeNormal = 0;
constexpr int kLoadModeFirmware = 3;

// Numbers shown in "File size checking Error !! (<n>)", one per failure that
// can happen between the record check and the first download.
// (1 and 2, the program file unreadable or empty, are the package check's.)
enum SizeFailure : int {
    kSerialLibraryFailed = 4,    // the serial library could not be called for the console lines
    kConsoleLibraryFailed = 5,   // the console library could not be called for the prompt or free space
    kUnexpected = 9              // any other run-time failure in that stretch
};

struct SizeCheckFailure {
    int number;
};

const std::string kFailureText = "Firmware Upgrade Failed!!";

std::string sizeFailureText(int number) {
    return "File size checking Error !! (" + std::to_string(number) + ")\r\n\r\nUpgrade firmware failed!!";
}

// The package check's stages as the front end shows them: live, while the
// check runs, or replayed for a package checked beforehand.
struct CheckDisplay {
    FrontEnd& fe;
    const std::string& modeCode;
    int value = 0;
    int maximum = 0;
    void reached(CheckedPackage::Stage stage, int steps) {
        using Stage = CheckedPackage::Stage;
        if (stage == Stage::Listed) {
            fe.event(statusEvent(Step::Checking, modeCode + " File Checking..."));
            fe.busy();
        } else if (stage == Stage::Counted) {
            maximum = steps;
            value = 1;
            fe.progressShown(value, maximum);
        } else if (stage == Stage::RecordSummed) {
            fe.progress(++value, maximum);
        }
    }
    void replay(const CheckedPackage& checked) {
        for (auto s = CheckedPackage::Stage::Listed; s <= checked.stage && s < CheckedPackage::Stage::Passed;
             s = static_cast<CheckedPackage::Stage>(static_cast<int>(s) + 1))
            reached(s, checked.steps);
    }
};

// One run: the front end, the console and what the record collects.
class FirmwareRun {
public:
    FirmwareRun(const FirmwareRequest& request, const CheckedPackage& checked, FrontEnd& frontEnd, Console& console,
                const CheckDisplay& display)
        : request_(request), checked_(checked), fe_(frontEnd), console_(console), barValue_(display.value),
          barMaximum_(display.maximum) {
        outcome_.path = checked.path;
        outcome_.sha256 = checked.sha256;
        outcome_.members = checked.members;
    }

    Outcome run() {
        runSteps();
        if (outcome_.result == Outcome::Result::Failed)
            outcome_.failureText = outcome_.disconnected ? kAdapterDisconnectedText : kFailureText;
        return std::move(outcome_);
    }

private:
    void show(const std::string& text) {
        outcome_.messages.push_back(text);
        fe_.event(messageEvent(text));
    }
    // The package is refused before the device is touched: the message, and why.
    void refuse(const std::string& text, const std::string& why) {
        outcome_.refusal = why;
        show(text);
    }
    void advance() { fe_.progress(++barValue_, barMaximum_); }
    std::filesystem::path memberPath(const std::string& name) const { return checked_.folder / name; }
    void abandon() { outcome_.result = Outcome::Result::Abandoned; }
    // False when the line hung up: the serial adapter is gone.
    bool sendLine(const char* text) {
        outcome_.deviceTouched = true;
        if (console_.Send_Cmd(request_.port, text, 0) != kLineHungUp) return true;
        outcome_.disconnected = true;
        return false;
    }
    bool gone() {
        if (adapterGone(console_, request_.port)) outcome_.disconnected = true;
        return outcome_.disconnected;
    }

    void runSteps();
    bool showCheck();
    bool prepareDevice();
    void download();
    bool verify();

    const FirmwareRequest& request_;
    const CheckedPackage& checked_;
    FrontEnd& fe_;
    Console& console_;
    int barValue_;
    int barMaximum_;
    std::vector<char> reply_ = std::vector<char>(kReplyBufferSize, ' ');
    Outcome outcome_;
};

void FirmwareRun::runSteps() {
    reply_.back() = '\0';
    if (!showCheck()) return;
    if (!prepareDevice()) return;
    download();
}

// The package check's refusal, or its last step; false when it was refused.
bool FirmwareRun::showCheck() {
    if (!checked_.accepted()) {
        outcome_.refusal = checked_.refusal;
        for (const auto& text : checked_.messages) show(text);
        return false;
    }
    if (fe_.ended()) {
        abandon();
        return false;
    }
    fe_.event(statusEvent(Step::Authenticated, "Firmware authentication verify ok."));
    advance();
    return true;
}

bool FirmwareRun::prepareDevice() {
    try {
        // Both disks are emptied, every answer read before the next line.
        Deletes deletes;
        try {
            outcome_.deviceTouched = true;
            deletes = emptyBothDisks(request_.port, console_, fe_, kConsolePause);
        } catch (const ConsoleUnavailable&) {
            throw SizeCheckFailure{kSerialLibraryFailed};
        }
        const std::string disks = deletes.disksText();
        if (deletes.disks != decltype(deletes.disks){}) outcome_.disks = disks;
        if (deletes.end == Deletes::End::Stopped) {
            outcome_.messages.push_back("Stopped during the deletes. " + disks);
            abandon();
            return false;
        }
        if (deletes.end == Deletes::End::LineFailed && deletes.lineCode == kLineHungUp) {
            outcome_.disconnected = true;
            outcome_.messages.push_back(disks);
            return false;
        }
        if (deletes.end != Deletes::End::Done) {
            show("Disk delete Error !! (" + deletes.reason() + ")\r\n\r\n" + disks);
            return false;
        }
        fe_.yield();
        if (fe_.ended()) {
            outcome_.messages.push_back("Stopped after the deletes. " + disks);
            abandon();
            return false;
        }
        std::fill(reply_.begin(), reply_.end() - 1, ' ');
        try {
            // The prompt's wait is sized by the line's answer delay learnt from the first question.
            const auto promptWait = std::clamp<std::chrono::milliseconds::rep>(
                kPromptTimeoutMs + 2 * deletes.answerDelay.count(), kPromptTimeoutMs, kMaxPromptTimeoutMs);
            const uint16_t prompt =
                console_.TOV_GetPrompt(request_.port, static_cast<uint16_t>(promptWait), kPromptChar);
            fe_.event(statusEvent(Step::Loading, "start loading firmware..."));
            advance();
            if (prompt != 0) {
                if (gone()) {
                    outcome_.messages.push_back(disks);
                } else {
                    show("No console prompt after the deletes !! (none within " + std::to_string(promptWait) +
                         " ms, code " + std::to_string(prompt) + ")\r\n\r\n" + disks +
                         " Repair the firmware again.");
                }
                return false;
            }
            outcome_.disk = request_.disk.value_or(request_.modeCode == "MS" ? 'a' : 'b');
            char freeText[kFreeTextSize] = {};
            outcome_.loadMode = console_.TOV_Get_FreeSize(request_.port, 0, freeText, reply_.data()) == 0
                                    ? kLoadModeNormal
                                    : kLoadModeFirmware;
        } catch (const ConsoleUnavailable&) {
            throw SizeCheckFailure{kConsoleLibraryFailed};
        }
    } catch (const SizeCheckFailure& failure) {
        show(sizeFailureText(failure.number));
        return false;
    } catch (const std::exception&) {
        show(sizeFailureText(kUnexpected));
        return false;
    }
    return true;
}

// A run-time failure from here ends the run silently with the result so far.
void FirmwareRun::download() {
    bool result = false;
    try {
        std::vector<MemberRecord*> toSend;
        for (auto& member : outcome_.members) {
            if (member.name != request_.recordName && isReadableRegularFile(memberPath(member.name)))
                toSend.push_back(&member);
        }
        bool everyLoadSucceeded = true;
        int index = 0;
        uint64_t bytesLeft = 0;
        for (const MemberRecord* member : toSend) bytesLeft += member->size;
        for (MemberRecord* member : toSend) {
            // Stopped: no further download starts; the controller is at its prompt.
            if (fe_.ended()) {
                abandon();
                return;
            }
            const MemberEvent event{member->name, ++index, static_cast<int>(toSend.size()), member->size, bytesLeft};
            bytesLeft -= member->size;
            fe_.event(memberEvent(EventKind::MemberStarted, event));
            const std::string path = memberPath(member->name).string();
            member->sent = true;
            const uint16_t code = console_.TOV_Load_File(request_.port, path.c_str(), outcome_.disk, path.c_str(),
                                                         outcome_.loadMode, reply_.data());
            member->loadCode = code;
            fe_.event(memberEvent(EventKind::MemberFinished, event, code));
            if (code != 0) {
                everyLoadSucceeded = false;
                // The front end showed the code; the record says what it left behind.
                outcome_.messages.push_back(member->name + " was not loaded (code " + std::to_string(code) +
                                            "). The disks were emptied before the download: the controller "
                                            "does not hold the whole firmware. Repair the firmware again.");
            }
            advance();
            if (code != 0 && gone()) return;  // nothing more can reach the controller
        }
        // Stopped during the last download: neither the listing nor "reset" is sent.
        if (fe_.ended()) {
            abandon();
            return;
        }
        // Only what the controller lists proves the download.
        const bool listed = everyLoadSucceeded && verify();
        result = listed;
        if (!listed && gone()) return;
        // Stopped during the listing: what it proved stays in the record, but
        // neither "reset" nor a success is sent or shown after a stop.
        if (fe_.ended()) {
            result = false;
            abandon();
            return;
        }

        fe_.event(statusEvent(Step::Restarting, "Reseting..."));
        sendLine("reset");
        if (result) {
            outcome_.result = Outcome::Result::Verified;
            show("Upgrade Successed.");
        } else if (everyLoadSucceeded) {
            show(verifyFailureText(outcome_.verification.lines));
        }
    } catch (const std::exception&) {
    } catch (const ConsoleUnavailable&) {
    }
    if (result) outcome_.result = Outcome::Result::Verified;
}

// One "dir" after the last download: every member sent must be listed with
// its size where it had to land, and nothing else may remain on either disk.
bool FirmwareRun::verify() {
    fe_.event(statusEvent(Step::Verifying, "Verifying ..."));
    Verification& v = outcome_.verification;
    v.attempted = true;
    std::vector<char> listing(kReplyBufferSize, '\0');
    const uint16_t code = console_.listDirectory(request_.port, listing.data(), listing.size());
    v.listingCode = code;
    Listing parsed;
    if (code == 0) {
        parsed = parseListing(std::string_view(listing.data(), strnlen(listing.data(), listing.size())));
    }
    const uint16_t unreadable = code != 0 ? code : parsed.code;
    if (unreadable != 0) {
        v.lines = {"listing unreadable (code " + std::to_string(unreadable) + ")"};
        return false;
    }
    std::vector<SentFile> sent;
    for (const auto& member : outcome_.members) {
        if (member.sent) sent.push_back({member.name, member.size});
    }
    // The disk asked for is checked even when "loadfirmware" let the
    // controller choose: success names that disk.
    v.lines = compareListingAsAsked(parsed, sent, outcome_.disk, outcome_.loadMode == kLoadModeFirmware);
    v.passed = v.lines.empty();
    return v.passed;
}

}  // namespace

Outcome repairFirmware(const FirmwareRequest& request, const CheckedPackage& checked, FrontEnd& frontEnd,
                       Console& console) {
    CheckDisplay display{frontEnd, request.modeCode};
    display.replay(checked);
    return FirmwareRun(request, checked, frontEnd, console, display).run();
}

Outcome repairFirmware(const FirmwareRequest& request, FrontEnd& frontEnd, Console& console) {
    CheckDisplay display{frontEnd, request.modeCode};
    const CheckedPackage checked = checkPackage(
        request, [&display](CheckedPackage::Stage s, int steps) { display.reached(s, steps); },
        [&frontEnd] { frontEnd.yield(); });
    return FirmwareRun(request, checked, frontEnd, console, display).run();
}

}  // namespace tq318::repair
