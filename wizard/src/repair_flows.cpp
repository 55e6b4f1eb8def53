// The two repair actions of step 3: "(1). Repair Tovrane" sends an
// operating-system image, "(2). Repair Firmware" unpacks a firmware package,
// proves it with its authentication record, empties both flash disks and
// downloads every listed member. Both restart the controller with "reset".
//
// A library result other than 0 makes the run a failure: the technician sees
// the library's own messages and then the failure message, never
// "Upgrade Successed.". The controller is still sent "reset" so that it
// restarts into repair mode for another try.
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>

#include "bas_common.h"
#include "engine_bridge.h"
#include "form1.h"
#include "repair_session.h"

namespace pelorim {

namespace {

const QString kImageFilter = QStringLiteral("IMG Files (*.img)|*.img|All ");
const QString kPackageFilter =
    QStringLiteral("HEX Files (*.hex)|*.hex|EXE Files (*.exe)|*.exe|All| ");

std::string toLocal(const QString& text) { return text.toLocal8Bit().toStdString(); }

RunFacts factsOf(const Form1& form) {
    return RunFacts{static_cast<uint8_t>(form.comPortNo()), form.banner(), form.modeCode().toLatin1().toStdString(),
                    form.loginPassword().toLatin1().toStdString()};
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

// The open-file dialog with `filter`, in the folder of the last file chosen
// in this session, else the user's home (an installed program's own folder
// is no place for images); then the status shows that the choice is being
// checked (also after a cancel). Returns the full path; `bareName` receives
// the bare name.
QString chooseFile(Form1& form, const QString& filter, QString& bareName) {
    static QString lastFolder;
    form.CommonDialog1->InitDir = lastFolder.isEmpty() ? QDir::homePath() : lastFolder;
    form.CommonDialog1->Filter = filter;
    form.CommonDialog1->ShowOpen();
    bareName = form.CommonDialog1->FileTitle();
    if (!form.CommonDialog1->FileName().isEmpty())
        lastFolder = QFileInfo(form.CommonDialog1->FileName()).absolutePath();
    form.setPanel(2, form.modeCode() + QStringLiteral(" File Checking ..."));
    return form.CommonDialog1->FileName();
}

}  // namespace

void Form1::ComUploadOS_Click() { endRepair(*this, doUploadOS(), QStringLiteral("OS Upgrade Failed!!")); }

void Form1::ComUpload_Click() { endRepair(*this, doUpload(), QStringLiteral("Firmware Upgrade Failed!!")); }

bool Form1::doUploadOS() {
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
    WindowFrontEnd frontEnd(*this);
    BoundConsole console(uart(), tovrane());
    const auto outcome = runOsSession(factsOf(*this), toLocal(imagePath), frontEnd, console);
    if (outcome.disconnected) MsgBox(QString::fromLatin1(tq318::repair::kAdapterDisconnectedText));
    // An install that runs but is unproven said so in its own message: no
    // failure message follows it, and no "Upgrade Successed." came before.
    return outcome.succeeded() || outcome.result == tq318::repair::Outcome::Result::Unproven;
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

    ProgressDisplay progress(*this);  // frame and pointer restored on every path
    const PackageNames package{toLocal(shortPathOf(packagePath)), toLocal(hexFileName_), toLocal(fileListName_),
                               toLocal(authKeyFileName_), toLocal(exeFileName_)};
    WindowFrontEnd frontEnd(*this);
    BoundConsole console(uart(), tovrane());
    // The check's stages show while it runs (the window stays live during its sums).
    const auto outcome = runFirmwareSession(factsOf(*this), package, frontEnd, console);
    if (outcome.disconnected) MsgBox(QString::fromLatin1(tq318::repair::kAdapterDisconnectedText));
    if (outcome.result == tq318::repair::Outcome::Result::Abandoned) return false;
    // The package's name is cleared from the system folder after the work folder went.
    try {
        killWinTemp(hexFileName_);
    } catch (const std::exception&) {
        // A leftover that cannot be removed does not change the outcome.
    }
    return outcome.succeeded();
}

}  // namespace pelorim
