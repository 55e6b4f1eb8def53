// The package checked whole before the device is touched: unpacked into a
// private work folder, every listed member unpacked, sized and hashed, the
// names the controller will store checked, the authentication record and
// the program's CRC compared. No console and no front end take part.
#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "auth_record.h"
#include "cab_extract.h"
#include "member_list.h"
#include "member_name.h"
#include "member_path.h"
#include "modbus_crc.h"
#include "package_problem.h"
#include "read_back.h"
#include "regular_file.h"
#include "sha256.h"
#include "tq318/repair/engine.h"
#include "work_folder.h"

namespace tq318::repair {

namespace {

using Stage = CheckedPackage::Stage;

constexpr std::chrono::milliseconds kCrcYieldInterval{10};

// Numbers shown in "File size checking Error !! (<n>)" for the program file.
constexpr int kProgramUnreadable = 1;  // the program file cannot be opened or read
constexpr int kProgramEmpty = 2;       // the program file holds no byte

std::string authFailureText() {
    return "Firmware authentication verify failure.\rReturn to utility without upgrade firmware.";
}

std::string sizeFailureText(int number) {
    return "File size checking Error !! (" + std::to_string(number) + ")\r\n\r\nUpgrade firmware failed!!";
}

class PackageChecker {
public:
    // `adopted`: the members are already in that folder (nothing is unpacked).
    PackageChecker(const FirmwareRequest& request, CheckStageHook reached, std::function<void()> yield,
                   std::optional<std::filesystem::path> adopted)
        : request_(request), reached_(std::move(reached)), yield_(std::move(yield)), tables_(makeCrcTables()),
          adopted_(std::move(adopted)) {
        checked_.path = request.packagePath;
        checked_.sha256 = sha256OfFile(request.packagePath).value_or("");
        checked_.programName =
            request.programName.empty() ? programNameFor(request.packageBareName) : request.programName;
    }

    CheckedPackage run() {
        if (unpack() && authenticate() && checkProgram()) reach(Stage::Passed);
        if (checked_.accepted()) {
            for (const auto& m : checked_.members) checked_.bytesToSend += m.name == request_.recordName ? 0 : m.size;
            checked_.folder = adopted_ ? *adopted_ : workDir_->path();
            if (workDir_) checked_.keepAlive = std::make_shared<WorkFolder>(std::move(*workDir_));
        }
        workDir_.reset();  // a refused package leaves nothing behind
        return std::move(checked_);
    }

private:
    void reach(Stage stage) {
        checked_.stage = stage;
        if (reached_) reached_(stage, checked_.steps);
    }
    void refuse(const std::string& text, const std::string& why) {
        checked_.refusal = why;
        checked_.messages.push_back(text);
    }
    std::filesystem::path memberPath(const std::string& name) const {
        return adopted_ ? *adopted_ / name : workDir_->member(name);
    }
    const std::filesystem::path& folder() const { return adopted_ ? *adopted_ : workDir_->path(); }
    // The member unpacked (or, adopted, found) as the folder's own file of
    // that name, as the platform resolves the path both before and after;
    // when the path is not that, `pathProblem_` says why.
    bool extract(const std::string& member) {
        try {
            pathProblem_ = placedPathProblem(folder(), member);
            const bool unpacked =
                pathProblem_.empty() &&
                (adopted_ ? isReadableRegularFile(memberPath(member))
                          : extractFileFromCab(request_.packagePath, "@" + member, memberPath(member).string(), 1, ""));
            if (unpacked) pathProblem_ = unpackedPathProblem(folder(), member);
            if (!pathProblem_.empty()) pathProblem_ = "the member " + shownName(member) + " is refused: " + pathProblem_;
            return unpacked && pathProblem_.empty();
        } catch (const std::exception&) {  // a name the platform cannot make a path of
            pathProblem_ = "the member name \"" + shownName(member) + "\" is refused (no file name on this system)";
            return false;
        }
    }
    CrcRegisters sum(std::span<const uint8_t> bytes) {
        return modbusCrc(tables_, bytes, CrcYield{[this] { if (yield_) yield_(); }, kCrcYieldInterval});
    }

    bool unpack();
    bool authenticate();
    bool checkProgram();
    std::string unsoundName() const;  // why a list line cannot be sent; empty when none

    const FirmwareRequest& request_;
    CheckStageHook reached_;
    std::function<void()> yield_;
    CrcTables tables_;
    std::optional<std::filesystem::path> adopted_;
    std::optional<WorkFolder> workDir_;
    std::vector<std::string> lines_;
    std::string pathProblem_;  // why the last member's path is not the work folder's own
    std::vector<uint8_t> record_;
    CheckedPackage checked_;
};

bool PackageChecker::unpack() {
    // A FIFO, a device or a folder is refused before it is opened for reading.
    if (!isReadableRegularFile(request_.packagePath)) {
        refuse("HEX file Error !!", fileProblem(request_.packagePath));
        return false;
    }
    if (!adopted_) {
        workDir_ = WorkFolder::create(request_.packageBareName);
        if (!workDir_) {
            refuse("HEX file Error !!", "no private work folder could be made under the temporary folder");
            return false;
        }
    }
    if (!extract(request_.listName) || !isReadableRegularFile(memberPath(request_.listName))) {
        const std::string cabinet = cabinetProblem(request_.packagePath, request_.listName);
        refuse("HEX file Error !!", !pathProblem_.empty() ? pathProblem_
                                    : !cabinet.empty() ? cabinet
                                                       : "it holds no member list (" + request_.listName + ")");
        return false;
    }
    reach(Stage::Listed);

    const auto listBytes = readRegularFile(memberPath(request_.listName));
    lines_ = splitMemberLines(
        listBytes ? std::string_view(reinterpret_cast<const char*>(listBytes->data()), listBytes->size())
                  : std::string_view{});
    // Names that would land outside the work folder, that the platform would
    // change or take for another member's, paths longer than it opens, or a
    // list longer than a package may be, refuse the package before anything
    // else is unpacked.
    std::string why;
    if (lines_.size() > CabLimits{}.maxMembers) why = "its member list is longer than a package may be";
    if (why.empty()) {
        std::vector<std::string> names{request_.listName, request_.recordName, checked_.programName};
        names.insert(names.end(), lines_.begin(), lines_.end());
        why = memberNamesProblem(names, folder().native().size(), platformPathLimits());
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
            const std::string cabinet = pathProblem_.empty() ? cabinetProblem(request_.packagePath, line) : "";
            why = !pathProblem_.empty() ? pathProblem_ : !cabinet.empty() ? cabinet : "the member " + line + " is missing";
            break;
        }
        member.sha256 = *hash;
        checked_.members.push_back(std::move(member));
    }
    for (const std::string* name :
         std::initializer_list<const std::string*>{&request_.recordName, &checked_.programName}) {
        if (why.empty() && !isReadableRegularFile(memberPath(*name))) why = "the member " + *name + " is missing";
    }
    if (!why.empty()) {
        refuse("HEX File Error !!", why);
        return false;
    }
    checked_.steps = static_cast<int>(lines_.size()) + 3;
    reach(Stage::Counted);
    return true;
}

// Names that reach the controller: none may hold a blank or a control
// character (its listing separates words by blanks), and no two different
// lines may be stored under the same name. The record is not sent.
std::string PackageChecker::unsoundName() const {
    std::vector<std::pair<std::string, const std::string*>> stored;
    for (const auto& line : lines_) {
        if (line.empty() || line == request_.recordName) continue;
        const std::string name = storedName(line);
        const std::string refused = "the member name \"" + shownName(line) + "\" is refused";
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

bool PackageChecker::authenticate() {
    const auto bytes = readRegularFile(memberPath(request_.recordName));
    if (bytes) record_.assign(bytes->begin(), bytes->begin() + std::min(bytes->size(), kAuthRecordSize));
    const CrcRegisters recordSum = sum(std::span(record_).first(std::min(record_.size(), kAuthRecordSummed)));
    reach(Stage::RecordSummed);
    if (!recordChecksumMatches(record_, recordSum)) {
        refuse(authFailureText(), "");
        return false;
    }
    return true;
}

bool PackageChecker::checkProgram() {
    const auto program = readRegularFile(memberPath(checked_.programName));
    if (!program || program->empty()) {
        refuse(sizeFailureText(!program ? kProgramUnreadable : kProgramEmpty), "");
        return false;
    }
    if (!programChecksumMatches(record_, sum(*program))) {
        refuse(authFailureText(), "");
        return false;
    }
    return true;
}

}  // namespace

std::string programNameFor(const std::string& packageBareName) {
    return packageBareName.size() < 3 ? packageBareName + "exe"
                                      : packageBareName.substr(0, packageBareName.size() - 3) + "exe";
}

CheckedPackage checkPackage(const FirmwareRequest& request, const CheckStageHook& reached,
                            const std::function<void()>& yield) {
    return PackageChecker(request, reached, yield, std::nullopt).run();
}

CheckedPackage adoptCheckedPackage(const FirmwareRequest& request, const std::filesystem::path& folder,
                                   const std::string& packageSha256, const std::vector<MemberRecord>& expected) {
    CheckedPackage checked = PackageChecker(request, {}, {}, folder).run();
    auto same = [](const MemberRecord& a, const MemberRecord& b) {
        return a.name == b.name && a.size == b.size && a.sha256 == b.sha256;
    };
    if (checked.accepted() &&
        (checked.sha256 != packageSha256 ||
         !std::equal(checked.members.begin(), checked.members.end(), expected.begin(), expected.end(), same))) {
        checked.stage = CheckedPackage::Stage::Opened;
        checked.messages = {"HEX file Error !!"};
        checked.refusal = "the package or its unpacked members changed after they were checked";
    }
    return checked;
}

CheckedPackage checkImage(const OsRequest& request) {
    CheckedPackage checked;
    checked.path = request.imagePath;
    // Only a regular file is sent: a FIFO or a device would block the run.
    if (!isReadableRegularFile(request.imagePath)) {
        checked.refusal = fileProblem(request.imagePath);
        checked.messages = {"File not found !!"};
        return checked;
    }
    // An empty image would be sent as a file of no blocks, and the controller
    // restarts with nothing installed: it is refused like a missing one.
    std::error_code sizeError;
    const auto size = std::filesystem::file_size(request.imagePath, sizeError);
    if (size == 0 || sizeError) {
        checked.refusal = "the image is empty (0 bytes)";
        checked.messages = {"Image file is empty !!"};
        return checked;
    }
    checked.sha256 = sha256OfFile(request.imagePath).value_or("");
    checked.bytesToSend = size;
    checked.stage = CheckedPackage::Stage::Passed;
    return checked;
}

}  // namespace tq318::repair
