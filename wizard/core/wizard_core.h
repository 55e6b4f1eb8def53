// The wizard's steps that know no toolkit, shared by the Qt window
// (wizard/src) and the Win32 one (wizard/win32): the module state, the step
// controller's table, the serial connection, the wait count of step 2, the
// guard against a second detection, and the ends of both repairs. Form1 of
// each toolkit derives from it and supplies what it draws and asks (the
// hooks below); texts are 8-bit bytes (Latin-1), file names the file
// system's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "binding.h"
#include "repair_session.h"
#include "tq318/repair/engine.h"
#include "tq318/repair/outcome.h"

namespace pelorim {

class WizardCore {
public:
    explicit WizardCore(const LibraryNames& libraries);
    virtual ~WizardCore();
    WizardCore(const WizardCore&) = delete;
    WizardCore& operator=(const WizardCore&) = delete;

    // The fixed file names, the console password and the counts.
    virtual void init();
    void Flow_controler(int16_t step);

    bool Connect_Act();
    bool Disconnect_Act();
    void ComDisconnect_Click();
    void ComConnect_Click();
    virtual bool doRepair() = 0;

    void ComUploadOS_Click();
    void ComUpload_Click();
    virtual bool doUploadOS() = 0;
    virtual bool doUpload() = 0;

    virtual bool programEnded() const = 0;

    UartLibrary& uart() { return *uart_; }
    TovraneLibrary& tovrane() { return *tovrane_; }

    int16_t comPortNo() const { return comPortNo_; }
    const std::string& banner() const { return banner_; }  // as the detection read it
    int16_t waitCount() const { return waitCount_; }
    void setWaitCount(int16_t value) { waitCount_ = value; }
    int16_t waitLimit() const { return waitLimit_; }
    int16_t blinkIndex() const { return blinkIndex_; }
    // Number of detections on the stack: 1 while one runs, never more.
    int detectionDepth() const { return detectionDepth_; }
    // The step Flow_controler showed last; 0 before the first.
    int16_t step() const { return step_; }

protected:
    // The controls whose enabled state the steps set; each Form1 maps them to
    // its own in this order.
    enum class Control {
        Frame_Step1, Label1, Combo_ComPort, ComConnect,
        Frame_Step2, Label2_0, Label2_1,
        Frame_Step3, Label2_2, ComUploadOS, ComUpload,
        ComDisconnect
    };
    static constexpr std::size_t kControls = 12;  // how many Control names
    // ---- the toolkit's part ----
    virtual void showMessage(const std::string& text) = 0;  // the modal box, OK only
    virtual void showPanel(int panel, const std::string& text) = 0;
    virtual void enableControl(Control control, bool on) = 0;
    virtual bool controlEnabled(Control control) const = 0;
    // The text shown in Combo_ComPort, and the position of the item it names (-1: none).
    virtual std::string shownPort() const = 0;
    virtual int shownPortPosition() const = 0;
    // Deletes `name` from the folder that Windir names (bas_common.h).
    virtual void removeFromWindowsFolder(const std::string& name) = 0;
    // Before the port is closed: a detection still polling it ends first.
    virtual void beforePortCloses() {}

    // Timer1's wait count: the power-restart reminder at the limit, else the
    // count in panel 2 while it is armed. No second reminder over an open one.
    void countWait();
    // Timer1's blink: the colour index for this tick (0 or 1).
    std::size_t nextBlink();
    // A Connect click: run now, or once the detection running has returned.
    void onConnectClicked();
    // Runs the engine's detection (`detect`, as the toolkit runs it) as the
    // one detection on the stack, then takes what it found: step 3, or back
    // to step 1 when the adapter went.
    bool runDetection(const std::function<tq318::repair::Detection()>& detect);
    // The repair buttons and Disonnect, while a repair runs.
    void disableRepairButtons();
    // doUpload's choice (`chosen`: a path came back; `stem`: the bare name
    // less its last three characters as the toolkit counts them, empty when
    // it has no more): false, with the message, after a cancel or for a name
    // with no stem; hexFileName is the bare name, exeFileName the stem + "exe".
    bool takePackageName(bool chosen, const std::string& bareName, const std::string& stem);
    // What the session is told of the run: the record's facts and the
    // password the OS repair logs in with again after the restart.
    RunFacts runFacts() const {
        return RunFacts{static_cast<uint8_t>(comPortNo_), banner_, modeCode_, loginPassword_};
    }
    // doUpload's end after the engine's session: the adapter's loss said; the
    // package's copy in the system folder goes unless the run was stopped.
    bool firmwareEnded(const tq318::repair::Outcome& outcome);
    // doUploadOS's end: the adapter's loss said; an install that runs but is
    // unproven said so in its own message and gets no failure message.
    bool osEnded(const tq318::repair::Outcome& outcome);

    std::unique_ptr<UartLibrary> uart_;
    std::unique_ptr<TovraneLibrary> tovrane_;

    int16_t comPortNo_ = 0;
    std::string hexFileName_;
    std::string authKeyFileName_;
    std::string exeFileName_;
    std::string fileListName_;
    std::string loginPassword_;
    std::string modeCode_;
    std::string banner_;
    std::string osImageTitle_;
    int16_t blinkIndex_ = 0;
    int16_t waitCount_ = 0;
    int16_t waitLimit_ = 60;
    int16_t step_ = 0;
    uint64_t closeCount_ = 0;  // raised by every Disconnect_Act that closed the port

private:
    void endRepair(bool succeeded, const char* failureText);

    bool warningOpen_ = false;       // a "Warning !!" box is open: no second one
    bool connectRequested_ = false;  // a Connect click came during a detection
    int detectionDepth_ = 0;
};

}  // namespace pelorim
