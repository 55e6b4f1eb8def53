// The two repair actions of step 3 on Windows: "(1). Repair Tovrane" sends
// an operating-system image, "(2). Repair Firmware" unpacks a firmware
// package, proves it, empties both flash disks and downloads every listed
// member. The engine's session runs them off the window's thread and writes
// the record; both end with the closing disconnect and the step shown next.
#include <windows.h>
#include <commdlg.h>

#include <vector>

#include "bas_common.h"
#include "bound_console.h"
#include "form1.h"
#include "repair_session.h"
#include "window_front_end.h"

namespace pelorim {

namespace {

const std::string kImageFilter = "IMG Files (*.img)|*.img|All ";
const std::string kPackageFilter = "HEX Files (*.hex)|*.hex|EXE Files (*.exe)|*.exe|All| ";

// "description|pattern|..." as the system's dialog takes it; a blank or
// missing pattern shows every file.
std::string systemFilter(const std::string& filter) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const auto bar = filter.find('|', start);
        parts.push_back(filter.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    std::string result;
    for (std::size_t i = 0; i < parts.size(); i += 2) {
        std::string pattern = i + 1 < parts.size() ? parts[i + 1] : std::string();
        if (pattern.find_first_not_of(' ') == std::string::npos) pattern = "*.*";
        result += parts[i];
        result += '\0';
        result += pattern;
        result += '\0';
    }
    result += '\0';
    return result;
}

// Hides the progress frame and restores the pointer however the flow leaves.
class ProgressDisplay {
public:
    explicit ProgressDisplay(Form1& form) : form_(form) {}
    ~ProgressDisplay() {
        form_.hideProgress();
        form_.setBusy(false);
    }
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

private:
    Form1& form_;
};

}  // namespace

// The open-file dialog, in the folder of the last file chosen in this run,
// else the program's folder; then the status shows that the choice is
// being checked (also after a cancel).
Form1::Choice Form1::CommonDialog1_ShowOpen(const std::string& filter) {
    const std::string filters = systemFilter(filter);
    const std::string folder = lastFolder_.empty() ? executableFolder() : lastFolder_;
    std::vector<char> path(32768, '\0');
    std::vector<char> title(MAX_PATH, '\0');
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwnd_;
    dialog.lpstrFilter = filters.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.lpstrFileTitle = title.data();
    dialog.nMaxFileTitle = static_cast<DWORD>(title.size());
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    Choice choice;
    if (::GetOpenFileNameA(&dialog)) {
        choice.path = path.data();
        choice.title = title.data();
        const auto slash = choice.path.find_last_of("\\/");
        if (slash != std::string::npos) lastFolder_ = choice.path.substr(0, slash);
    }
    setPanel(2, modeCode_ + " File Checking ...");
    return choice;
}

bool Form1::doUploadOS() {
    disableRepairButtons();
    const Choice choice = CommonDialog1_ShowOpen(kImageFilter);
    osImageTitle_ = choice.title;
    if (choice.path.empty() || choice.title.empty()) {
        MsgBox("Can not find OS Image file for repairing!!");
        return false;
    }
    if (!fileCanBeOpened(choice.path)) {
        MsgBox("File not found !!");
        return false;
    }
    WindowFrontEnd frontEnd(*this);
    BoundConsole console(uart(), tovrane());
    const RunFacts facts = runFacts();
    tq318::repair::Outcome outcome;
    // The library shows the wait pointer for the update; over this window,
    // which goes on handling its messages, the window keeps it.
    setBusy(true);
    runOffWindowThread([&] { outcome = runOsSession(facts, choice.path, frontEnd, console); });
    setBusy(false);
    return osEnded(outcome);
}

bool Form1::doUpload() {
    // ---- choice and names ----
    killWinTemp(hexFileName_);
    disableRepairButtons();
    const Choice choice = CommonDialog1_ShowOpen(kPackageFilter);
    const std::string& name = choice.title;
    const std::string stem = name.size() > 3 ? name.substr(0, name.size() - 3) : std::string();
    if (!takePackageName(!choice.path.empty(), name, stem)) return false;

    ProgressDisplay progress(*this);  // frame and pointer restored on every path
    const PackageNames package{shortPathOf(choice.path), hexFileName_, fileListName_, authKeyFileName_,
                               exeFileName_};
    WindowFrontEnd frontEnd(*this);
    BoundConsole console(uart(), tovrane());
    const RunFacts facts = runFacts();
    tq318::repair::Outcome outcome;
    runOffWindowThread([&] { outcome = runFirmwareSession(facts, package, frontEnd, console); });
    return firmwareEnded(outcome);
}

}  // namespace pelorim
