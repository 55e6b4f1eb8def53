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

bool Form1::doUploadOS() {
    disableRepairButtons();

    QString title;
    const QString imagePath = chooseFile(*this, kImageFilter, title);
    osImageTitle_ = toLocal(title);

    if (imagePath.isEmpty() || title.isEmpty()) {
        MsgBox(QStringLiteral("Can not find OS Image file for repairing!!"));
        return false;
    }
    if (!fileCanBeOpened(imagePath)) {
        MsgBox(QStringLiteral("File not found !!"));
        return false;
    }
    WindowFrontEnd frontEnd(*this);
    BoundConsole console(uart(), tovrane());
    return osEnded(runOsSession(runFacts(), toLocal(imagePath), frontEnd, console));
}

bool Form1::doUpload() {
    // ---- choice and names ----
    removeFromWindowsFolder(hexFileName_);
    disableRepairButtons();

    QString bareName;
    const QString packagePath = chooseFile(*this, kPackageFilter, bareName);
    const QString stem = bareName.size() > 3 ? bareName.left(bareName.size() - 3) : QString();
    if (!takePackageName(!packagePath.isEmpty(), toLocal(bareName), toLocal(stem))) return false;

    ProgressDisplay progress(*this);  // frame and pointer restored on every path
    const PackageNames package{toLocal(shortPathOf(packagePath)), hexFileName_, fileListName_, authKeyFileName_,
                               exeFileName_};
    WindowFrontEnd frontEnd(*this);
    BoundConsole console(uart(), tovrane());
    // The check's stages show while it runs (the window stays live during its sums).
    return firmwareEnded(runFirmwareSession(runFacts(), package, frontEnd, console));
}

}  // namespace pelorim
