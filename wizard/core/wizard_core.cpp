#include "wizard_core.h"

#include <exception>

namespace pelorim {

namespace {
constexpr uint32_t kBaudRate = 115200;
}

WizardCore::WizardCore(const LibraryNames& libraries)
    : uart_(std::make_unique<UartLibrary>(libraries.uart)),
      tovrane_(std::make_unique<TovraneLibrary>(libraries.tovrane)) {}

WizardCore::~WizardCore() = default;

void WizardCore::init() {
    hexFileName_ = "tq318.hex";
    authKeyFileName_ = "auth.key";
    exeFileName_ = "tq318.exe";
    fileListName_ = "file.lst";
    loginPassword_ = "quorvelstand83";
    blinkIndex_ = 0;
    waitCount_ = 0;
    waitLimit_ = 60;
}

void WizardCore::Flow_controler(int16_t step) {
    if (step < 1 || step > 3) return;
    step_ = step;
    for (Control c : {Control::Frame_Step1, Control::ComConnect, Control::Combo_ComPort, Control::Label1})
        enableControl(c, step == 1);
    for (Control c : {Control::Frame_Step2, Control::Label2_0, Control::Label2_1}) enableControl(c, step == 2);
    for (Control c : {Control::Frame_Step3, Control::ComUpload, Control::ComUploadOS, Control::Label2_2})
        enableControl(c, step == 3);
    enableControl(Control::ComDisconnect, step != 1);
}

std::size_t WizardCore::nextBlink() {
    blinkIndex_ = static_cast<int16_t>(blinkIndex_ % 2);
    return static_cast<std::size_t>(blinkIndex_++);
}

void WizardCore::countWait() {
    if (waitCount_ >= waitLimit_) {
        // Ticks go on while the warning is open: no second warning on top of it.
        if (warningOpen_) return;
        warningOpen_ = true;
        showMessage("Warning !!\r\nPlease restart power of device !!");
        warningOpen_ = false;
        waitCount_ = 1;
    } else if (waitCount_ > 0) {
        ++waitCount_;
        showPanel(2, "Waiting for power restart ..." + std::to_string(waitCount_));
    }
}

bool WizardCore::Connect_Act() {
    // The selected position is that of the item whose text is shown; text
    // typed by hand that names no item selects nothing (-1), giving port 0.
    const std::string shown = shownPort();
    comPortNo_ = static_cast<int16_t>(shownPortPosition() + 1);
    const uint16_t result = uart_->Open_Com(static_cast<uint8_t>(comPortNo_), kBaudRate, 8, 0, 0);
    if (result != 0) {
        showMessage(shown + " Connect Failed !!");
        return false;
    }
    showPanel(1, shown + " Connected ");
    return true;
}

bool WizardCore::Disconnect_Act() {
    beforePortCloses();
    try {
        uart_->Close_Com(static_cast<uint8_t>(comPortNo_));
        ++closeCount_;
        showPanel(1, shownPort() + " Disonnected!! ");
        showPanel(2, "");
        return true;
    } catch (const RuntimeError&) {
        showMessage(shownPort() + " disconnect error!!");
        return false;
    }
}

void WizardCore::ComDisconnect_Click() {
    if (Disconnect_Act()) Flow_controler(1);
}

void WizardCore::onConnectClicked() {
    // A Connect click handled inside a running detection (after a nested
    // "Disonnect") would start a second detection on top of the first. It is
    // run once the first has ended instead.
    if (detectionDepth_ > 0) {
        connectRequested_ = true;
        return;
    }
    do {
        connectRequested_ = false;
        ComConnect_Click();
    } while (connectRequested_ && !programEnded() && controlEnabled(Control::ComConnect));
}

void WizardCore::ComConnect_Click() {
    waitCount_ = 1;
    struct Disarm {
        int16_t& count;
        ~Disarm() { count = 0; }
    } disarm{waitCount_};
    if (Connect_Act()) {
        Flow_controler(2);
        doRepair();
    }
}

bool WizardCore::runDetection(const std::function<tq318::repair::Detection()>& detect) {
    struct Running {
        int& depth;
        explicit Running(int& d) : depth(d) { ++depth; }
        ~Running() { --depth; }
    } running(detectionDepth_);
    const tq318::repair::Detection detection = detect();
    if (detection.disconnected) {
        // The adapter was pulled out: nothing will come, so stop waiting
        // (ComConnect_Click disarms the count), say so and go back to step 1.
        const std::string text = tq318::repair::kAdapterDisconnectedText;
        if (Disconnect_Act()) Flow_controler(1);
        showPanel(2, text);
        showMessage(shownPort() + " " + text);
        return false;
    }
    if (!detection.found) return false;
    banner_ = detection.banner;
    modeCode_ = detection.modeCode;
    Flow_controler(3);
    return true;
}

// ---------------------------------------------------------------- repairs

void WizardCore::ComUploadOS_Click() { endRepair(doUploadOS(), "OS Upgrade Failed!!"); }

void WizardCore::ComUpload_Click() { endRepair(doUpload(), "Firmware Upgrade Failed!!"); }

// The failure message when the run failed, then the port is closed; step 1
// follows unless closing it failed.
void WizardCore::endRepair(bool succeeded, const char* failureText) {
    if (!succeeded) showMessage(failureText);
    Flow_controler(Disconnect_Act() ? 1 : 3);
}

// The step change at the repair's end decides their state again.
void WizardCore::disableRepairButtons() {
    enableControl(Control::ComUpload, false);
    enableControl(Control::ComUploadOS, false);
    enableControl(Control::ComDisconnect, false);
}

bool WizardCore::takePackageName(bool chosen, const std::string& bareName, const std::string& stem) {
    hexFileName_ = bareName;
    // A bare name of fewer than four characters has no name left once its
    // extension is taken off: refused like a cancelled choice.
    if (!chosen || stem.empty()) {
        showMessage("Can not find HEX file for repairing!!");
        return false;
    }
    exeFileName_ = stem + "exe";
    return true;
}

bool WizardCore::osEnded(const tq318::repair::Outcome& outcome) {
    if (outcome.disconnected) showMessage(tq318::repair::kAdapterDisconnectedText);
    // No "Upgrade Successed." came before an unproven install either: that
    // text follows only a verified one.
    return outcome.succeeded() || outcome.result == tq318::repair::Outcome::Result::Unproven;
}

bool WizardCore::firmwareEnded(const tq318::repair::Outcome& outcome) {
    if (outcome.disconnected) showMessage(tq318::repair::kAdapterDisconnectedText);
    if (outcome.result == tq318::repair::Outcome::Result::Abandoned) return false;
    // The package's name is cleared from the system folder after the work folder went.
    try {
        removeFromWindowsFolder(hexFileName_);
    } catch (const std::exception&) {
        // A leftover that cannot be removed does not change the outcome.
    }
    return outcome.succeeded();
}

}  // namespace pelorim
