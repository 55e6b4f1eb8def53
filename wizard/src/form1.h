// Form1: the Pelorim wizard window, its step controller, the serial connection,
// device detection, the firmware checksum registers and the repair-flow entry
// points.
//
// Everything runs on the GUI thread. Long operations (detection, the checksum)
// hand pending window events to their handlers, so clicks and timer ticks run
// nested inside them. Every handler that Qt calls goes through guarded(): a
// run-time error that the handler does not trap becomes an error report and
// ends the program.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "dialogs.h"
#include "modbus_crc.h"
#include "wizard_core.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTimer;

namespace pelorim {

class Form1 : public QWidget, public WizardCore {
    Q_OBJECT
public:
    struct Services {
        std::shared_ptr<Dialogs> dialogs;  // null: the Qt dialogs
        LibraryNames libraries;
        // Ends the program with the given exit code. Null: flush and _Exit.
        // Tests replace it, since ending the process would end the test runner.
        std::function<void(int)> terminate;
        bool startTimer = true;  // Timer1 runs from start-up
    };

    explicit Form1(Services services, QWidget* parent = nullptr);
    ~Form1() override;

    // ---- start-up and shut-down ----
    void Form_Load();
    void init() override;
    void Timer1_Timer();
    void ComExit_Click();
    void Form_Unload();
    void Form_Terminate();
    void centreOnScreen();

    // ---- detection and the repair flows (repair_flows.cpp) ----
    bool doRepair() override;
    bool doUploadOS() override;
    bool doUpload() override;

    // ---- firmware checksum ----
    void CRC16_Init();
    // Sums the first `length` bytes of `buffer` into crcHi/crcLo, yielding to the
    // window every 10 ms of summing.
    void CRC16(std::span<const uint8_t> buffer, int32_t length);
    uint8_t crcHi() const { return crc_.crcHi; }
    uint8_t crcLo() const { return crc_.crcLo; }
    const tq318::repair::CrcTables& crcTables() const { return crcTables_; }

    // ---- housekeeping ----
    // Deletes `name` from the folder named by the environment variable Windir; nothing when it is unset.
    void killWinTemp(const QString& name);

    // ---- message boxes and error handling ----
    void MsgBox(const QString& text);
    // Runs `handler`; an exception escaping it is reported and ends the program.
    // Returns false when that happened.
    template <typename Handler>
    bool guarded(Handler&& handler) noexcept {
        try {
            handler();
            return true;
        } catch (const std::exception& error) {
            reportFatal(error.what());
        } catch (...) {
            reportFatal("unknown error");
        }
        return false;
    }
    void endProgram(int exitCode);
    bool programEnded() const override { return ended_; }

    // ---- state ----
    QString modeCode() const { return QString::fromLatin1(modeCode_); }
    QGroupBox* stepFrame() const;
    QColor captionColor(const QGroupBox* frame) const;
    const std::array<QColor, 2>& blinkColors() const { return blinkColors_; }
    QString hexFileName() const { return QString::fromLocal8Bit(hexFileName_); }
    QString exeFileName() const { return QString::fromLocal8Bit(exeFileName_); }
    QString osImageTitle() const { return QString::fromLocal8Bit(osImageTitle_); }
    // The text shown in `Combo_ComPort` (the port text of the status texts).
    QString portText() const;

    // Status panels 1 (connection) and 2 (activity).
    void setPanel(int panel, const QString& text);
    QString panelText(int panel) const;

    Dialogs& dialogs() { return *dialogs_; }

    // ---- controls (objectName = member name; Label2 items are "Label2_0".."Label2_2") ----
    QGroupBox* Frame_Step1 = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* Combo_ComPort = nullptr;
    QPushButton* ComConnect = nullptr;
    QGroupBox* Frame_Step2 = nullptr;
    std::array<QLabel*, 3> Label2{};
    QGroupBox* Frame_Step3 = nullptr;
    QPushButton* ComUploadOS = nullptr;
    QPushButton* ComUpload = nullptr;
    QPushButton* ComDisconnect = nullptr;
    QPushButton* ComExit = nullptr;
    QGroupBox* Frame1 = nullptr;
    QProgressBar* UploadBar = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* MemberLabel = nullptr;  // under UploadBar: the member being loaded, the count and the time left
    QStatusBar* StatusBar_Main = nullptr;
    QTimer* Timer1 = nullptr;
    CommonDialog* CommonDialog1 = nullptr;

signals:
    void panelChanged(int panel, const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showMessage(const std::string& text) override;
    void showPanel(int panel, const std::string& text) override;
    void enableControl(Control control, bool on) override;
    bool controlEnabled(Control control) const override;
    std::string shownPort() const override;
    int shownPortPosition() const override;
    void removeFromWindowsFolder(const std::string& name) override;

private:
    void buildControls();
    void fitWindowToStatusBar();
    void connectHandlers();
    void setCaptionColor(QGroupBox* frame, const QColor& color);
    void reportFatal(const char* what);
    QWidget* widget(Control control) const;

    std::shared_ptr<Dialogs> dialogs_;
    std::function<void(int)> terminate_;
    bool startTimer_;

    tq318::repair::CrcTables crcTables_{};
    tq318::repair::CrcRegisters crc_{};
    std::array<QColor, 2> blinkColors_{};

    QLabel* panel1_ = nullptr;
    QLabel* panel2_ = nullptr;

    bool ended_ = false;            // endProgram ran (only observable when terminate returns, in tests)
};

}  // namespace pelorim
