// The two repair actions of step 3: "(1). Repair Tovrane" sends an
// operating-system image, "(2). Repair Firmware" unpacks a firmware package,
// proves it with its authentication record, empties both flash disks and
// downloads every listed member. Both restart the controller with "reset".
//
// A library result other than 0 makes the run a failure: the technician sees
// the library's own messages and then the failure message, never
// "Upgrade Successed.". The controller is still sent "reset" so that it
// restarts into repair mode for another try.
#include <QApplication>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QGroupBox>

#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>
#include <vector>

#include "auth_record.h"
#include "bas_common.h"
#include "cab_extract.h"
#include "form1.h"
#include "member_list.h"
#include "work_folder.h"

namespace pelorim {

namespace {

const QString kImageFilter = QStringLiteral("IMG Files (*.img)|*.img|All ");
const QString kPackageFilter =
    QStringLiteral("HEX Files (*.hex)|*.hex|EXE Files (*.exe)|*.exe|All| ");

constexpr uint16_t kPromptTimeoutMs = 200;
constexpr char kPromptChar = '>';
constexpr std::chrono::milliseconds kConsolePause{1000};
constexpr std::size_t kReplyBufferSize = 2048;
constexpr std::size_t kFreeTextSize = 32;
constexpr int kLoadModeNormal = 0;
constexpr int kLoadModeFirmware = 3;

// Numbers shown in "File size checking Error !! (<n>)", one per failure that
// can happen between the record check and the first download.
enum SizeFailure : int {
    kProgramUnreadable = 1,      // the program file cannot be opened or read
    kProgramEmpty = 2,           // the program file holds no byte
    kRecordUnreadable = 3,       // the record file vanished before its second reading
    kSerialLibraryFailed = 4,    // the serial library could not be called for the console lines
    kConsoleLibraryFailed = 5,   // the console library could not be called for the prompt or free space
    kUnexpected = 9              // any other run-time failure in that stretch
};

// A failure in the stretch that shows the size-failure message.
struct SizeCheckFailure {
    int number;
};

std::optional<std::vector<uint8_t>> readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return std::nullopt;
    return bytes;
}

std::string toLocal(const QString& text) { return text.toLocal8Bit().toStdString(); }

QString authFailureText() {
    return QStringLiteral("Firmware authentication verify failure.") + QChar(13) +
           QStringLiteral("Return to utility without upgrade firmware.");
}

QString sizeFailureText(int number) {
    return QStringLiteral("File size checking Error !! (") + QString::number(number) +
           QStringLiteral(")") + QStringLiteral("\r\n\r\n") + QStringLiteral("Upgrade firmware failed!!");
}

// Hides the progress frame and restores the pointer when the flow leaves,
// whichever way it leaves.
class ProgressDisplay {
public:
    explicit ProgressDisplay(Form1& form) : form_(form) {}
    ~ProgressDisplay() {
        form_.Frame1->hide();
        form_.unsetCursor();
    }
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

private:
    Form1& form_;
};

// A repair disables the buttons that could start another one or disconnect;
// the step change at its end decides their state again.
void disableRepairButtons(Form1& form) {
    form.ComUpload->setEnabled(false);
    form.ComUploadOS->setEnabled(false);
    form.ComDisconnect->setEnabled(false);
}

// The end of both repairs: the failure message when the run failed, then the
// port is closed; step 1 follows unless closing it failed.
void endRepair(Form1& form, bool succeeded, const QString& failureText) {
    if (!succeeded) form.MsgBox(failureText);
    form.Flow_controler(form.Disconnect_Act() ? 1 : 3);
}

// The open-file dialog in the program's folder with `filter`; then the
// status shows that the choice is being checked (also after a cancel).
// Returns the full path; `bareName` receives the bare name.
QString chooseFile(Form1& form, const QString& filter, QString& bareName) {
    form.CommonDialog1->InitDir = QString::fromStdString(executableFolder());
    form.CommonDialog1->Filter = filter;
    form.CommonDialog1->ShowOpen();
    bareName = form.CommonDialog1->FileTitle();
    form.setPanel(2, form.modeCode() + QStringLiteral(" File Checking ..."));
    return form.CommonDialog1->FileName();
}

}  // namespace

void Form1::ComUploadOS_Click() { endRepair(*this, doUploadOS(), QStringLiteral("OS Upgrade Failed!!")); }

void Form1::ComUpload_Click() { endRepair(*this, doUpload(), QStringLiteral("Firmware Upgrade Failed!!")); }

bool Form1::doUploadOS() {
    bool result = false;
    disableRepairButtons(*this);

    const QString imagePath = chooseFile(*this, kImageFilter, osImageTitle_);

    if (imagePath.isEmpty() || osImageTitle_.isEmpty()) {
        MsgBox(QStringLiteral("Can not find OS Image file for repairing!!"));
        return false;
    }
    if (!fileCanBeOpened(imagePath)) {
        MsgBox(QStringLiteral("File not found !!"));
        return false;
    }

    // From here a run-time failure ends the flow silently with the result so far.
    try {
        std::vector<char> reply(kReplyBufferSize, ' ');
        reply.back() = '\0';
        const std::string path = toLocal(imagePath);
        const uint16_t code = tovrane().TOV_Update_Tovrane(static_cast<uint8_t>(comPortNo_),
                                                            path.c_str(), reply.data());
        result = (code == 0);
        setPanel(2, QStringLiteral("Reseting..."));
        uart().Send_Cmd(static_cast<uint8_t>(comPortNo_), "reset", 0);
        if (result) MsgBox(QStringLiteral("Upgrade Successed."));
    } catch (const std::exception&) {
        return result;
    }
    return result;
}

bool Form1::doUpload() {
    // ---- choice and names ----
    killWinTemp(hexFileName_);
    disableRepairButtons(*this);

    const QString packagePath = chooseFile(*this, kPackageFilter, hexFileName_);

    // A bare name of fewer than four characters has no name left once its
    // extension is taken off: refused like a cancelled choice.
    if (packagePath.isEmpty() || hexFileName_.isEmpty() || hexFileName_.size() < 4) {
        MsgBox(QStringLiteral("Can not find HEX file for repairing!!"));
        return false;
    }
    exeFileName_ = hexFileName_.left(hexFileName_.size() - 3) + QStringLiteral("exe");
    const QString packageDir = packagePath.left(packagePath.size() - hexFileName_.size());
    const std::string package = toLocal(shortPathOf(packagePath));

    bool result = false;
    {
        ProgressDisplay progress(*this);  // frame and pointer restored on every path
        std::optional<WorkFolder> workDir = WorkFolder::create(toLocal(hexFileName_));
        // Clean-up, on every path past the choice: the work folder and all it
        // holds are removed (files read into memory are closed already), then
        // the package's name is cleared from the system folder.
        auto finish = [&](bool outcome) {
            workDir.reset();
            try {
                killWinTemp(hexFileName_);
            } catch (const std::exception&) {
                // A leftover that cannot be removed does not change the outcome.
            }
            return outcome;
        };

        auto extract = [&](const std::string& member) {
            ExtractFileFromCab(package, "@" + member, workDir->member(member).string(), 1,
                               toLocal(packageDir) + "/");
        };
        auto memberPath = [&](const QString& name) {
            return QString::fromLocal8Bit(workDir->member(toLocal(name)).c_str());
        };

        // ---- unpacking ----
        const std::string listName = toLocal(fileListName_);
        if (workDir) extract(listName);
        if (!workDir || !fileCanBeOpened(memberPath(fileListName_))) {
            MsgBox(QStringLiteral("HEX file Error !!"));
            return finish(false);
        }
        setPanel(2, modeCode_ + QStringLiteral(" File Checking..."));
        setCursor(Qt::WaitCursor);

        const auto listBytes = readWholeFile(workDir->member(listName));
        const std::vector<std::string> lines =
            split_member_lines(listBytes ? std::string_view(reinterpret_cast<const char*>(listBytes->data()),
                                                            listBytes->size())
                                         : std::string_view{});
        // Names that would land outside the work folder, or a list longer than
        // a package may be, refuse the package before anything else is unpacked.
        bool listIsSafe = lines.size() <= CabLimits{}.max_members;
        for (const auto& line : lines) listIsSafe = listIsSafe && !is_unsafe_member_name(line);
        if (listIsSafe) {
            for (const auto& line : lines) {
                if (!line.empty()) extract(line);
            }
        }
        const int memberCount = static_cast<int>(lines.size());
        if (!listIsSafe || !fileCanBeOpened(memberPath(authKeyFileName_)) ||
            !fileCanBeOpened(memberPath(exeFileName_))) {
            MsgBox(QStringLiteral("HEX File Error !!"));
            return finish(false);
        }

        // ---- progress display ----
        UploadBar->setMaximum(memberCount + 3);
        UploadBar->setMinimum(0);
        UploadBar->setValue(1);
        Frame1->move(Frame_Step1->x(), Frame_Step1->y() - 1);  // 10 twips above step 1's frame
        Frame1->show();
        Frame1->raise();
        auto advance = [&] { UploadBar->setValue(UploadBar->value() + 1); };

        // ---- authentication ----
        const auto record = readWholeFile(workDir->member(toLocal(authKeyFileName_)));
        const std::vector<uint8_t> keyRecord =
            record ? std::vector<uint8_t>(record->begin(),
                                          record->begin() + std::min<std::size_t>(record->size(), kAuthRecordSize))
                   : std::vector<uint8_t>{};
        CRC16(keyRecord, static_cast<int32_t>(std::min<std::size_t>(keyRecord.size(), kAuthRecordSummed)));
        advance();
        if (!recordChecksumMatches(keyRecord, CrcRegisters{crcHi(), crcLo()})) {
            MsgBox(authFailureText());
            return finish(false);
        }

        char diskSelector = 'b';
        int loadMode = kLoadModeFirmware;
        std::vector<char> reply(kReplyBufferSize, ' ');
        reply.back() = '\0';
        const uint8_t port = static_cast<uint8_t>(comPortNo_);
        try {
            const auto program = readWholeFile(workDir->member(toLocal(exeFileName_)));
            if (!program) throw SizeCheckFailure{kProgramUnreadable};
            if (program->empty()) throw SizeCheckFailure{kProgramEmpty};
            CRC16(*program, static_cast<int32_t>(program->size()));
            if (programEnded()) return false;
            if (!programChecksumMatches(keyRecord, CrcRegisters{crcHi(), crcLo()})) {
                MsgBox(authFailureText());
                return finish(false);
            }
            setPanel(2, QStringLiteral("Firmware authentication verify ok."));
            advance();

            // ---- device preparation: both disks are emptied ----
            try {
                for (const char* line : {"del", "y", "delb", "y"}) {
                    uart().Send_Cmd(port, line, 0);
                    std::this_thread::sleep_for(kConsolePause);
                }
            } catch (const BindError&) {
                throw SizeCheckFailure{kSerialLibraryFailed};
            }
            QCoreApplication::processEvents();
            if (programEnded()) return false;
            std::fill(reply.begin(), reply.end() - 1, ' ');
            try {
                const uint16_t prompt = tovrane().TOV_GetPrompt(port, kPromptTimeoutMs, kPromptChar);
                setPanel(2, QStringLiteral("start loading firmware..."));
                advance();
                if (prompt != 0) return finish(false);
                diskSelector = (modeCode_ == QStringLiteral("MS")) ? 'a' : 'b';
                char freeText[kFreeTextSize] = {};
                loadMode = tovrane().TOV_Get_FreeSize(port, 0, freeText, reply.data()) == 0
                               ? kLoadModeNormal
                               : kLoadModeFirmware;
            } catch (const BindError&) {
                throw SizeCheckFailure{kConsoleLibraryFailed};
            }
        } catch (const SizeCheckFailure& failure) {
            MsgBox(sizeFailureText(failure.number));
            return finish(false);
        } catch (const std::exception&) {
            MsgBox(sizeFailureText(kUnexpected));
            return finish(false);
        }

        // ---- download: a run-time failure from here ends the flow silently ----
        try {
            bool everyLoadSucceeded = true;
            for (const auto& line : lines) {
                const QString name = QString::fromLocal8Bit(line.c_str());
                const QString path = memberPath(name);
                if (name == authKeyFileName_ || line.empty() || !fileCanBeOpened(path)) continue;
                const std::string localPath = toLocal(path);
                const uint16_t code = tovrane().TOV_Load_File(port, localPath.c_str(), diskSelector,
                                                              localPath.c_str(), loadMode, reply.data());
                if (code != 0) everyLoadSucceeded = false;
                advance();
            }
            result = everyLoadSucceeded;

            // ---- restart ----
            setPanel(2, QStringLiteral("Reseting..."));
            uart().Send_Cmd(port, "reset", 0);
            if (result) MsgBox(QStringLiteral("Upgrade Successed."));
        } catch (const std::exception&) {
            return finish(result);
        }
        return finish(result);
    }
}

}  // namespace pelorim
