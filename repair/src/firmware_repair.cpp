// "(2). Repair Firmware": the package is unpacked into a private work folder,
// proved with its authentication record, both flash disks are emptied, every
// listed member is downloaded, and the controller restarts with "reset".
//
// A library result other than 0 makes the run a failure; the controller is
// still sent "reset" so that it restarts into repair mode for another try.
#include <algorithm>
#include <cstring>
#include <chrono>
#include <optional>
#include <string_view>
#include <vector>

#include "auth_record.h"
#include "cab_extract.h"
#include "disk_deletes.h"
#include "member_list.h"
#include "modbus_crc.h"
#include "line_state.h"
#include "package_problem.h"
#include "read_back.h"
#include "regular_file.h"
#include "sha256.h"
#include "tq318/repair/engine.h"
#include "work_folder.h"

namespace tq318::repair {

namespace {

using pelorim::CrcRegisters;
using pelorim::CrcTables;

constexpr uint16_t kPromptTimeoutMs = 200;
constexpr uint16_t kMaxPromptTimeoutMs = 10000;
constexpr char kPromptChar = '>';
constexpr std::chrono::milliseconds kConsolePause{1000};
constexpr std::size_t kReplyBufferSize = 2048;
constexpr std::size_t kFreeTextSize = 32;
constexpr int kLoadModeNormal = 0;
constexpr int kLoadModeFirmware = 3;
constexpr std::chrono::milliseconds kCrcYieldInterval{10};

// Numbers shown in "File size checking Error !! (<n>)", one per failure that
// can happen between the record check and the first download.
enum SizeFailure : int {
    kProgramUnreadable = 1,      // the program file cannot be opened or read
    kProgramEmpty = 2,           // the program file holds no byte
    kSerialLibraryFailed = 4,    // the serial library could not be called for the console lines
    kConsoleLibraryFailed = 5,   // the console library could not be called for the prompt or free space
    kUnexpected = 9              // any other run-time failure in that stretch
};

struct SizeCheckFailure {
    int number;
};

const std::string kFailureText = "Firmware Upgrade Failed!!";

std::string authFailureText() {
    return "Firmware authentication verify failure.\rReturn to utility without upgrade firmware.";
}

std::string sizeFailureText(int number) {
    return "File size checking Error !! (" + std::to_string(number) + ")\r\n\r\nUpgrade firmware failed!!";
}

// One run: the front end, the console and what the record collects.
class FirmwareRun {
public:
    FirmwareRun(const FirmwareRequest& request, FrontEnd& frontEnd, Console& console)
        : request_(request), fe_(frontEnd), console_(console), tables_(pelorim::makeCrcTables()) {
        outcome_.path = request.packagePath;
        outcome_.sha256 = sha256OfFile(request.packagePath).value_or("");
        programName_ = request.programName.empty() ? programNameFor(request.packageBareName) : request.programName;
    }

    Outcome run() {
        runSteps();
        workDir_.reset();  // clean-up on every path: the work folder and all it holds
        if (outcome_.result == Outcome::Result::Failed)
            outcome_.failureText = outcome_.disconnected ? kAdapterDisconnectedText : kFailureText;
        return std::move(outcome_);
    }

private:
    void show(const std::string& text) {
        outcome_.messages.push_back(text);
        fe_.message(text);
    }
    // The package is refused before the device is touched: the message, and why.
    void refuse(const std::string& text, const std::string& why) {
        outcome_.refusal = why;
        show(text);
    }
    void advance() { fe_.progress(++barValue_, barMaximum_); }
    std::filesystem::path memberPath(const std::string& name) const { return workDir_->member(name); }
    bool extract(const std::string& member) {
        return pelorim::ExtractFileFromCab(request_.packagePath, "@" + member, memberPath(member).string(), 1, "");
    }
    CrcRegisters sum(std::span<const uint8_t> bytes) {
        return pelorim::modbusCrc(tables_, bytes, pelorim::CrcYield{[this] { fe_.yield(); }, kCrcYieldInterval});
    }
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
    bool unpack();
    bool authenticate(std::vector<uint8_t>& record);
    bool prepareDevice(const std::vector<uint8_t>& record);
    void download();
    bool verify();
    std::string unsoundName() const;  // why a list line cannot be sent; empty when none

    const FirmwareRequest& request_;
    FrontEnd& fe_;
    Console& console_;
    CrcTables tables_;
    std::string programName_;
    std::optional<pelorim::WorkFolder> workDir_;
    std::vector<std::string> lines_;
    int barValue_ = 0;
    int barMaximum_ = 0;
    std::vector<char> reply_ = std::vector<char>(kReplyBufferSize, ' ');
    Outcome outcome_;
};

void FirmwareRun::runSteps() {
    reply_.back() = '\0';
    if (!unpack()) return;

    barMaximum_ = static_cast<int>(lines_.size()) + 3;
    barValue_ = 1;
    fe_.progressShown(barValue_, barMaximum_);

    std::vector<uint8_t> record;
    if (!authenticate(record)) return;
    if (!prepareDevice(record)) return;
    download();
}

bool FirmwareRun::unpack() {
    // A FIFO, a device or a folder is refused before it is opened for reading.
    if (!isReadableRegularFile(request_.packagePath)) {
        refuse("HEX file Error !!", fileProblem(request_.packagePath));
        return false;
    }
    workDir_ = pelorim::WorkFolder::create(request_.packageBareName);
    if (!workDir_) {
        refuse("HEX file Error !!", "no private work folder could be made under the temporary folder");
        return false;
    }
    if (!extract(request_.listName) || !isReadableRegularFile(memberPath(request_.listName))) {
        const std::string cabinet = cabinetProblem(request_.packagePath);
        refuse("HEX file Error !!", !cabinet.empty() ? cabinet : "it holds no member list (" + request_.listName + ")");
        return false;
    }
    fe_.status(request_.modeCode + " File Checking...");
    fe_.busy();

    const auto listBytes = readRegularFile(memberPath(request_.listName));
    lines_ = pelorim::split_member_lines(
        listBytes ? std::string_view(reinterpret_cast<const char*>(listBytes->data()), listBytes->size())
                  : std::string_view{});
    // Names that would land outside the work folder, or a list longer than a
    // package may be, refuse the package before anything else is unpacked.
    std::string why;
    if (lines_.size() > pelorim::CabLimits{}.max_members) why = "its member list is longer than a package may be";
    for (const auto& line : lines_) {
        if (why.empty() && pelorim::is_unsafe_member_name(line)) why = "the member name \"" + line + "\" is refused";
    }
    // Every listed member must unpack whole, and every name sent must be one
    // the controller's listing can show back: the package is checked whole
    // before the device is touched.
    if (why.empty()) why = unsoundName();
    for (const auto& line : lines_) {
        if (!why.empty()) break;
        if (line.empty()) continue;
        MemberRecord member;
        member.name = line;
        std::optional<std::string> hash;
        std::error_code error;
        if (extract(line)) {
            hash = sha256OfFile(memberPath(line));
            member.size = std::filesystem::file_size(memberPath(line), error);
        }
        if (!hash || error) {
            const std::string cabinet = cabinetProblem(request_.packagePath);
            why = !cabinet.empty() ? cabinet : "the member " + line + " is missing or damaged";
            break;
        }
        member.sha256 = *hash;
        outcome_.members.push_back(std::move(member));
    }
    for (const std::string* name : std::initializer_list<const std::string*>{&request_.recordName, &programName_}) {
        if (why.empty() && !isReadableRegularFile(memberPath(*name))) why = "the member " + *name + " is missing";
    }
    if (!why.empty()) {
        refuse("HEX File Error !!", why);
        return false;
    }
    return true;
}

// Names that reach the controller: none may hold a blank or a control
// character (its listing separates words by blanks), and no two different
// lines may be stored under the same name. The record is not sent.
std::string FirmwareRun::unsoundName() const {
    std::vector<std::pair<std::string, const std::string*>> stored;
    for (const auto& line : lines_) {
        if (line.empty() || line == request_.recordName) continue;
        const std::string name = storedName(line);
        const std::string refused = "the member name \"" + line + "\" is refused";
        if (name.empty()) return refused;
        for (const char c : name) {
            const auto u = static_cast<unsigned char>(c);
            if (u <= 0x20 || u == 0x7F) return refused + " (a blank or a control character)";
        }
        for (const auto& [other, otherLine] : stored) {
            if (other == name && *otherLine != line)
                return refused + " (stored under the same name as \"" + *otherLine + "\")";
        }
        stored.emplace_back(name, &line);
    }
    return {};
}

bool FirmwareRun::authenticate(std::vector<uint8_t>& record) {
    const auto bytes = readRegularFile(memberPath(request_.recordName));
    if (bytes) record.assign(bytes->begin(), bytes->begin() + std::min(bytes->size(), pelorim::kAuthRecordSize));
    const CrcRegisters recordSum = sum(std::span(record).first(std::min(record.size(), pelorim::kAuthRecordSummed)));
    advance();
    if (!pelorim::recordChecksumMatches(record, recordSum)) {
        show(authFailureText());
        return false;
    }
    return true;
}

bool FirmwareRun::prepareDevice(const std::vector<uint8_t>& record) {
    try {
        const auto program = readRegularFile(memberPath(programName_));
        if (!program) throw SizeCheckFailure{kProgramUnreadable};
        if (program->empty()) throw SizeCheckFailure{kProgramEmpty};
        const CrcRegisters programSum = sum(*program);
        if (fe_.ended()) {
            abandon();
            return false;
        }
        if (!pelorim::programChecksumMatches(record, programSum)) {
            show(authFailureText());
            return false;
        }
        fe_.status("Firmware authentication verify ok.");
        advance();

        // Both disks are emptied, every answer read before the next line.
        Deletes deletes;
        try {
            outcome_.deviceTouched = true;
            deletes = emptyBothDisks(request_.port, console_, fe_, kConsolePause);
        } catch (const ConsoleUnavailable&) {
            throw SizeCheckFailure{kSerialLibraryFailed};
        }
        const std::string disks = deletes.disksText();
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
            fe_.status("start loading firmware...");
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
        for (MemberRecord* member : toSend) {
            // Stopped: no further download starts; the controller is at its prompt.
            if (fe_.ended()) {
                abandon();
                return;
            }
            const MemberEvent event{member->name, ++index, static_cast<int>(toSend.size()), member->size};
            fe_.memberStarted(event);
            const std::string path = memberPath(member->name).string();
            member->sent = true;
            const uint16_t code = console_.TOV_Load_File(request_.port, path.c_str(), outcome_.disk, path.c_str(),
                                                         outcome_.loadMode, reply_.data());
            member->loadCode = code;
            fe_.memberFinished(event, code);
            if (code != 0) everyLoadSucceeded = false;
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

        fe_.status("Reseting...");
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
    fe_.status("Verifying ...");
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

std::string programNameFor(const std::string& packageBareName) {
    return packageBareName.size() < 3 ? packageBareName + "exe"
                                      : packageBareName.substr(0, packageBareName.size() - 3) + "exe";
}

Outcome repairFirmware(const FirmwareRequest& request, FrontEnd& frontEnd, Console& console) {
    return FirmwareRun(request, frontEnd, console).run();
}

}  // namespace tq318::repair
