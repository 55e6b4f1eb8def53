// Form1: the Pelorim window on Windows, its step controller, the serial
// connection, the detection and the repair-flow entry points.
//
// The window's thread runs the window and the dialogs; the engine's long
// calls (detection, both repairs) run on a worker thread while this thread
// keeps handling window messages (runOffWindowThread), so the window repaints,
// Timer1 ticks and EXIT answers during every pause and transfer. The worker
// reaches the window only through onWindowThread. Buttons disabled by
// Flow_controler and the repairs are the guard against a second operation.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "wizard_core.h"

namespace pelorim {

inline constexpr const char* kProgramTitle = "Pelorim";

class Form1 final : public WizardCore {
public:
    explicit Form1(HINSTANCE instance);
    ~Form1() override;
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // Creates the window from its resource; false when it could not.
    bool create();
    HWND hwnd() const { return hwnd_; }
    // The program's message loop; returns at the program's end.
    int run();

    // ---- start-up and shut-down ----
    void Form_Load();
    void init() override;
    void Timer1_Timer();
    void ComExit_Click();
    void Form_Unload();
    void Form_Terminate();

    // ---- detection and the repair flows (repair_flows.cpp) ----
    bool doRepair() override;
    bool doUploadOS() override;
    bool doUpload() override;

    // ---- housekeeping ----
    void killWinTemp(const std::string& name);

    // ---- what the flows and the engine's front end use ----
    void MsgBox(const std::string& text);
    void setPanel(int panel, const std::string& text);
    std::string portText() const;
    void enable(HWND control, bool on) { ::EnableWindow(control, on ? TRUE : FALSE); }
    void setBusy(bool on);
    void showProgress(int value, int maximum);
    void setProgress(int value);
    void hideProgress();
    // The open-file dialog: full path and bare name, both empty after a cancel.
    struct Choice {
        std::string path;
        std::string title;
    };
    Choice CommonDialog1_ShowOpen(const std::string& filter);

    // Runs `work` on a worker thread while this thread handles window
    // messages; an exception escaping `work` is raised again here.
    void runOffWindowThread(const std::function<void()>& work);
    // From the worker: runs `call` on the window's thread and waits for it.
    void onWindowThread(const std::function<void()>& call);
    // The worker's stop: the program is ending, or the port is being closed.
    bool programEnded() const override { return ended_.load(); }
    bool stopRequested() const { return stopRequested_.load(); }
    // Waits on the worker's thread: true when a stop came first.
    bool workerWait(DWORD milliseconds) const;

    // Runs `handler`; an exception escaping it is reported and ends the program.
    void guarded(const std::function<void()>& handler) noexcept;
    [[noreturn]] void endProgram(int exitCode);

    std::array<COLORREF, 2> blinkColors_{};

    // controls
    HWND Frame_Step1 = nullptr, Label1 = nullptr, Combo_ComPort = nullptr, ComConnect = nullptr;
    HWND Frame_Step2 = nullptr;
    std::array<HWND, 3> Label2{};
    HWND Frame_Step3 = nullptr, ComUploadOS = nullptr, ComUpload = nullptr;
    HWND ComDisconnect = nullptr, ComExit = nullptr;
    HWND Frame1 = nullptr, UploadBar = nullptr, Label3 = nullptr;
    HWND StatusBar_Main = nullptr;

protected:
    void showMessage(const std::string& text) override { MsgBox(text); }
    void showPanel(int panel, const std::string& text) override { setPanel(panel, text); }
    void enableControl(Control control, bool on) override { enable(window(control), on); }
    bool controlEnabled(Control control) const override { return ::IsWindowEnabled(window(control)) != FALSE; }
    std::string shownPort() const override { return portText(); }
    int shownPortPosition() const override;
    void removeFromWindowsFolder(const std::string& name) override { killWinTemp(name); }
    void beforePortCloses() override { stopWorker(); }

private:
    static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    INT_PTR handle(UINT message, WPARAM wparam, LPARAM lparam);
    void buildControls();
    void layOut();
    void onCommand(int id, int code);
    HWND window(Control control) const;
    [[noreturn]] void shutDown();
    void reportFatal(const char* what);
    bool pumpMessages();  // false after WM_QUIT
    void stopWorker();    // asks the running worker to stop and waits (handling messages) until it has
    int px(int twips) const { return ::MulDiv(twips, dpi_, 1440); }

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    DWORD windowThread_ = 0;
    int dpi_ = 96;
    HFONT normalFont_ = nullptr;
    HFONT boldFont_ = nullptr;
    HFONT smallFont_ = nullptr;

    // worker
    HANDLE workerDone_ = nullptr;   // set when the worker's work has returned
    HANDLE stopEvent_ = nullptr;    // set to stop the worker's waits
    bool workerRunning_ = false;
    std::atomic<bool> ended_{false};
    std::atomic<bool> stopRequested_{false};

    bool busy_ = false;
    std::string lastFolder_;         // of the last file chosen in this run
};

}  // namespace pelorim
