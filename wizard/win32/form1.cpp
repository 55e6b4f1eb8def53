#include "form1.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "bas_common.h"
#include "bound_console.h"
#include "engine_calls.h"
#include "frame_window.h"
#include "resource.h"
#include "status_texts.h"
#include "window_front_end.h"

namespace pelorim {

namespace {

constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1IntervalMs = 500;
constexpr UINT kCallMessage = WM_APP + 1;  // lparam: the std::function to run

constexpr int kClientWidth = 4620;
constexpr int kClientHeight = 7035;
constexpr int kStatusBarHeight = 345;
constexpr int kComboListItems = 5;

// Each control in twips relative to its container (0: the window).
struct Placement {
    int id;
    int container;
    int left, top, width, height;
};
constexpr Placement kLayout[] = {
    {IDC_FRAME_STEP1, 0, 360, 240, 3855, 1875},
    {IDC_LABEL1, IDC_FRAME_STEP1, 240, 480, 3495, 495},
    {IDC_COMBO_COMPORT, IDC_FRAME_STEP1, 240, 1200, 1695, 360},
    {IDC_COMCONNECT, IDC_FRAME_STEP1, 2280, 1200, 1305, 435},
    {IDC_FRAME_STEP2, 0, 360, 2280, 3855, 1455},
    {IDC_LABEL2_0, IDC_FRAME_STEP2, 240, 480, 3615, 255},
    {IDC_LABEL2_1, IDC_FRAME_STEP2, 240, 840, 3495, 255},
    {IDC_FRAME_STEP3, 0, 360, 4080, 3855, 1695},
    {IDC_LABEL2_2, IDC_FRAME_STEP3, 240, 480, 3495, 495},
    {IDC_COMUPLOADOS, IDC_FRAME_STEP3, 240, 1080, 1575, 375},
    {IDC_COMUPLOAD, IDC_FRAME_STEP3, 2040, 1080, 1575, 375},
    {IDC_COMDISCONNECT, 0, 1680, 6000, 1305, 375},
    {IDC_COMEXIT, 0, 3120, 6000, 1095, 405},
    {IDC_FRAME1, 0, 4200, 480, 3975, 5535},
    {IDC_UPLOADBAR, IDC_FRAME1, 240, 2640, 3630, 375},
    {IDC_LABEL3, IDC_FRAME1, 240, 2040, 3495, 495},
};

int windowDpi(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    if (HMODULE user = ::GetModuleHandleA("user32.dll")) {
        if (auto get = reinterpret_cast<GetDpiForWindowFn>(
                reinterpret_cast<void*>(::GetProcAddress(user, "GetDpiForWindow")))) {
            if (const UINT dpi = get(hwnd); dpi != 0) return static_cast<int>(dpi);
        }
    }
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

// `centipoints` hundredths of a point at the window's DPI.
HFONT arial(int dpi, int centipoints, bool bold) {
    return ::CreateFontA(-::MulDiv(centipoints, dpi, 7200), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                         ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_SWISS, "Arial");
}

std::string windowText(HWND hwnd) {
    const int length = ::GetWindowTextLengthA(hwnd);
    std::string text(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
    const int got = ::GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return text;
}

}  // namespace

Form1::Form1(HINSTANCE instance)
    : WizardCore(LibraryNames{}), instance_(instance) {
    workerDone_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    stopEvent_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

Form1::~Form1() {
    if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
    if (normalFont_ != nullptr) ::DeleteObject(normalFont_);
    if (boldFont_ != nullptr) ::DeleteObject(boldFont_);
    if (smallFont_ != nullptr) ::DeleteObject(smallFont_);
    ::CloseHandle(workerDone_);
    ::CloseHandle(stopEvent_);
}

bool Form1::create() {
    windowThread_ = ::GetCurrentThreadId();
    if (!registerFrameClass(instance_)) return false;
    hwnd_ = ::CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_FORM1), nullptr, dialogProc,
                                 reinterpret_cast<LPARAM>(this));
    return hwnd_ != nullptr;
}

INT_PTR CALLBACK Form1::dialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
        auto* form = reinterpret_cast<Form1*>(lparam);
        form->hwnd_ = hwnd;
        form->buildControls();
        return FALSE;
    }
    auto* form = reinterpret_cast<Form1*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    return form != nullptr ? form->handle(message, wparam, lparam) : FALSE;
}

void Form1::buildControls() {
    auto item = [this](int id) { return ::GetDlgItem(hwnd_, id); };
    Frame_Step1 = item(IDC_FRAME_STEP1);
    Label1 = item(IDC_LABEL1);
    Combo_ComPort = item(IDC_COMBO_COMPORT);
    ComConnect = item(IDC_COMCONNECT);
    Frame_Step2 = item(IDC_FRAME_STEP2);
    Label2 = {item(IDC_LABEL2_0), item(IDC_LABEL2_1), item(IDC_LABEL2_2)};
    Frame_Step3 = item(IDC_FRAME_STEP3);
    ComUploadOS = item(IDC_COMUPLOADOS);
    ComUpload = item(IDC_COMUPLOAD);
    ComDisconnect = item(IDC_COMDISCONNECT);
    ComExit = item(IDC_COMEXIT);
    Frame1 = item(IDC_FRAME1);
    UploadBar = item(IDC_UPLOADBAR);
    Label3 = item(IDC_LABEL3);
    StatusBar_Main = item(IDC_STATUSBAR_MAIN);

    dpi_ = windowDpi(hwnd_);
    normalFont_ = arial(dpi_, 975, false);
    boldFont_ = arial(dpi_, 975, true);
    // The two repair captions fit their buttons only a size smaller.
    smallFont_ = arial(dpi_, 825, false);
    for (const Placement& p : kLayout) {
        HWND control = item(p.id);
        const bool frame = p.id == IDC_FRAME_STEP1 || p.id == IDC_FRAME_STEP2 || p.id == IDC_FRAME_STEP3 ||
                           p.id == IDC_FRAME1;
        const bool repair = p.id == IDC_COMUPLOADOS || p.id == IDC_COMUPLOAD;
        ::SendMessageA(control, WM_SETFONT,
                       reinterpret_cast<WPARAM>(frame ? boldFont_ : repair ? smallFont_ : normalFont_), FALSE);
    }
    ::ShowWindow(Frame1, SW_HIDE);  // the progress frame is created hidden
    ::SendMessageA(StatusBar_Main, WM_SETFONT, reinterpret_cast<WPARAM>(normalFont_), FALSE);
    for (const char* port : {"COM 1", "COM 2", "COM 3", "COM 4", "COM 5"})
        ::SendMessageA(Combo_ComPort, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(port));
    ::SendMessageA(UploadBar, PBM_SETRANGE32, 0, 100);
    layOut();
}

// Each control goes into its frame at its place in twips, converted at the
// window's DPI. The window keeps its designed client size unless the status
// bar needs more: then it grows (the controls stay centred) so that no panel
// text is cut.
void Form1::layOut() {
    for (const Placement& p : kLayout) {
        HWND control = ::GetDlgItem(hwnd_, p.id);
        if (p.container != 0) ::SetParent(control, ::GetDlgItem(hwnd_, p.container));
        int height = px(p.height);
        if (p.id == IDC_COMBO_COMPORT) height *= 1 + kComboListItems;  // the drop-down list below the box
        ::SetWindowPos(control, nullptr, px(p.left), px(p.top), px(p.width), height,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }

    // The status bar's panels, each as wide as its longest text at the bar's font.
    HDC dc = ::GetDC(StatusBar_Main);
    HGDIOBJ old = ::SelectObject(dc, normalFont_);
    auto widest = [dc](const std::vector<std::string>& texts) {
        int width = 0;
        for (const auto& text : texts) {
            SIZE extent{};
            ::GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &extent);
            width = std::max<int>(width, extent.cx);
        }
        return width;
    };
    std::vector<std::string> ports;
    const int count = static_cast<int>(::SendMessageA(Combo_ComPort, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[64] = {};
        if (::SendMessageA(Combo_ComPort, CB_GETLBTEXTLEN, i, 0) < static_cast<LRESULT>(sizeof text))
            ::SendMessageA(Combo_ComPort, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        ports.emplace_back(text);
    }
    const int connectionText = widest(connectionPanelTexts(ports));
    const int activityText = widest(activityPanelTexts());
    ::SelectObject(dc, old);
    ::ReleaseDC(StatusBar_Main, dc);
    int borders[3] = {};
    ::SendMessageA(StatusBar_Main, SB_GETBORDERS, 0, reinterpret_cast<LPARAM>(borders));
    // The part's edge and the text's inset on both sides.
    const int inset = 2 * (::GetSystemMetrics(SM_CXEDGE) + ::MulDiv(3, dpi_, 96)) + borders[2];
    const int panel1 = connectionText + inset;
    const int panel2 = activityText + inset;

    const int designed = px(kClientWidth);
    const int width = std::max(designed, borders[0] + panel1 + panel2 + borders[0]);
    const int shift = (width - designed) / 2;
    if (shift > 0) {
        for (const Placement& p : kLayout) {
            if (p.container != 0) continue;
            HWND control = ::GetDlgItem(hwnd_, p.id);
            ::SetWindowPos(control, nullptr, px(p.left) + shift, px(p.top), 0, 0,
                           SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
    RECT bar;
    ::SendMessageA(StatusBar_Main, WM_SIZE, 0, 0);
    ::GetWindowRect(StatusBar_Main, &bar);
    const int barHeight = std::max<int>(px(kStatusBarHeight), bar.bottom - bar.top);
    const int height = px(kClientHeight - kStatusBarHeight) + barHeight;

    RECT frame{0, 0, width, height};
    const auto style = static_cast<DWORD>(::GetWindowLongPtrA(hwnd_, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(::GetWindowLongPtrA(hwnd_, GWL_EXSTYLE));
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int outerWidth = frame.right - frame.left;
    const int outerHeight = frame.bottom - frame.top;
    RECT work{};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    ::SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - outerWidth) / 2,
                   work.top + (work.bottom - work.top - outerHeight) / 2, outerWidth, outerHeight,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowPos(StatusBar_Main, nullptr, 0, height - barHeight, width, barHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    const int parts[2] = {borders[0] + panel1, -1};
    ::SendMessageA(StatusBar_Main, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
}

int Form1::run() {
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!::IsDialogMessageA(hwnd_, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

bool Form1::pumpMessages() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        if (!::IsDialogMessageA(hwnd_, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
    }
    return true;
}

INT_PTR Form1::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_COMMAND:
            if (lparam != 0) onCommand(LOWORD(wparam), HIWORD(wparam));
            return TRUE;
        case WM_TIMER:
            if (wparam == kTimer1) guarded([this] { Timer1_Timer(); });
            return TRUE;
        case WM_SETCURSOR:
            if (busy_ && LOWORD(lparam) == HTCLIENT) {
                ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
                ::SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, TRUE);
                return TRUE;
            }
            return FALSE;
        case kCallMessage:
            (*reinterpret_cast<const std::function<void()>*>(lparam))();
            return TRUE;
        case WM_CLOSE:
            guarded([this] { Form_Unload(); });
            return TRUE;
        case WM_ENDSESSION:
            if (wparam != 0) guarded([this] { Form_Terminate(); });
            return TRUE;
        default:
            return FALSE;
    }
}

void Form1::onCommand(int id, int code) {
    if (code != BN_CLICKED) return;
    switch (id) {
        case IDC_COMCONNECT: guarded([this] { onConnectClicked(); }); break;
        case IDC_COMDISCONNECT: guarded([this] { ComDisconnect_Click(); }); break;
        case IDC_COMEXIT: guarded([this] { ComExit_Click(); }); break;
        case IDC_COMUPLOADOS: guarded([this] { ComUploadOS_Click(); }); break;
        case IDC_COMUPLOAD: guarded([this] { ComUpload_Click(); }); break;
        default: break;
    }
}

// ---------------------------------------------------------------- worker

void Form1::runOffWindowThread(const std::function<void()>& work) {
    ::ResetEvent(workerDone_);
    stopRequested_ = false;
    if (!ended_) ::ResetEvent(stopEvent_);
    workerRunning_ = true;
    std::exception_ptr error;
    const DWORD windowThread = windowThread_;
    std::thread worker([&] {
        // Sharing the window thread's input state makes the wizard's window
        // the active window here too: the library's dialog and message boxes
        // are owned by it.
        const DWORD self = ::GetCurrentThreadId();
        const bool attached = ::AttachThreadInput(self, windowThread, TRUE) != FALSE;
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        if (attached) ::AttachThreadInput(self, windowThread, FALSE);
        ::SetEvent(workerDone_);
    });
    for (;;) {
        const DWORD woke = ::MsgWaitForMultipleObjectsEx(1, &workerDone_, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0) break;
        pumpMessages();
    }
    worker.join();
    workerRunning_ = false;
    if (error) std::rethrow_exception(error);
}

void Form1::onWindowThread(const std::function<void()>& call) {
    if (::GetCurrentThreadId() == windowThread_) {
        call();
        return;
    }
    ::SendMessageA(hwnd_, kCallMessage, 0, reinterpret_cast<LPARAM>(&call));
}

bool Form1::workerWait(DWORD milliseconds) const { return ::WaitForSingleObject(stopEvent_, milliseconds) == WAIT_OBJECT_0; }

void Form1::stopWorker() {
    if (!workerRunning_) return;
    stopRequested_ = true;
    ::SetEvent(stopEvent_);
    // The worker may be handing a call to this thread: messages are handled meanwhile.
    while (::WaitForSingleObject(workerDone_, 0) != WAIT_OBJECT_0) {
        ::MsgWaitForMultipleObjectsEx(1, &workerDone_, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        pumpMessages();
    }
}

// ---------------------------------------------------------------- start-up

void Form1::Form_Load() {
    init();
    Flow_controler(1);
    // The first serial call: binds the serial library before the window is used.
    uart_->Close_Com(static_cast<uint8_t>(comPortNo_));
    ::SetTimer(hwnd_, kTimer1, kTimer1IntervalMs, nullptr);
}

void Form1::init() {
    WizardCore::init();
    blinkColors_ = {RGB(255, 0, 0), ::GetSysColor(COLOR_BTNTEXT)};
    ::SendMessageA(Combo_ComPort, CB_SETCURSEL, 0, 0);
}

HWND Form1::window(Control control) const {
    const std::array<HWND, kControls> inControlOrder{Frame_Step1, Label1,      Combo_ComPort, ComConnect,
                                                      Frame_Step2, Label2[0],   Label2[1],     Frame_Step3,
                                                      Label2[2],   ComUploadOS, ComUpload,     ComDisconnect};
    return inControlOrder[static_cast<std::size_t>(control)];
}

void Form1::Timer1_Timer() {
    const std::array<HWND, 3> frames{Frame_Step1, Frame_Step2, Frame_Step3};
    const std::size_t blink = nextBlink();
    if (step_ > 0) setFrameCaptionColor(frames[static_cast<std::size_t>(step_ - 1)], blinkColors_[blink]);
    countWait();
}

// ---------------------------------------------------------------- shut-down

void Form1::ComExit_Click() { shutDown(); }

void Form1::Form_Unload() { shutDown(); }

void Form1::Form_Terminate() { shutDown(); }

// A repair or a detection still running is told first that the program
// ends: it stops before its next console line or download (its record says
// so), and only then is the port closed.
void Form1::shutDown() {
    ended_ = true;
    ::SetEvent(stopEvent_);
    Disconnect_Act();
    endProgram(0);
}

void Form1::endProgram(int exitCode) {
    ended_ = true;
    ::SetEvent(stopEvent_);
    ::KillTimer(hwnd_, kTimer1);
    // The program ends at once, without destructors: a repair's work folder goes first.
    removeWorkFolders();
    std::fflush(nullptr);
    ::ExitProcess(static_cast<UINT>(exitCode));
}

void Form1::guarded(const std::function<void()>& handler) noexcept {
    try {
        handler();
    } catch (const std::exception& error) {
        reportFatal(error.what());
    } catch (...) {
        reportFatal("unknown error");
    }
}

void Form1::reportFatal(const char* what) {
    std::fprintf(stderr, "Pelorim: run-time error: %s\n", what);
    std::fflush(stderr);
    ended_ = true;
    ::SetEvent(stopEvent_);
    stopWorker();
    ::MessageBoxA(hwnd_, (std::string("Run-time error:\r\n") + what).c_str(), kProgramTitle, MB_OK | MB_ICONERROR);
    endProgram(1);
}

void Form1::MsgBox(const std::string& text) { ::MessageBoxA(hwnd_, text.c_str(), kProgramTitle, MB_OK); }

// ---------------------------------------------------------------- status bar and progress

void Form1::setPanel(int panel, const std::string& text) {
    ::SendMessageA(StatusBar_Main, SB_SETTEXTA, static_cast<WPARAM>(panel - 1), reinterpret_cast<LPARAM>(text.c_str()));
}

std::string Form1::portText() const { return windowText(Combo_ComPort); }

void Form1::setBusy(bool on) {
    busy_ = on;
    POINT cursor;
    ::GetCursorPos(&cursor);
    if (::WindowFromPoint(cursor) != nullptr)
        ::SetCursor(::LoadCursorA(nullptr, on ? IDC_WAIT : IDC_ARROW));
}

void Form1::showProgress(int value, int maximum) {
    ::SendMessageA(UploadBar, PBM_SETRANGE32, 0, maximum);
    ::SendMessageA(UploadBar, PBM_SETPOS, static_cast<WPARAM>(value), 0);
    // Over step 1's frame: its left edge, 10 twips above its top.
    RECT step1;
    ::GetWindowRect(Frame_Step1, &step1);
    ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&step1), 2);
    ::SetWindowPos(Frame1, HWND_TOP, step1.left, step1.top - px(10), 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
}

void Form1::setProgress(int value) { ::SendMessageA(UploadBar, PBM_SETPOS, static_cast<WPARAM>(value), 0); }

void Form1::hideProgress() { ::ShowWindow(Frame1, SW_HIDE); }

// ---------------------------------------------------------------- serial connection

// The position of the item whose text is shown; typed text that names no item: -1.
int Form1::shownPortPosition() const {
    const std::string shown = portText();
    const int count = static_cast<int>(::SendMessageA(Combo_ComPort, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[64] = {};
        if (::SendMessageA(Combo_ComPort, CB_GETLBTEXTLEN, i, 0) >= static_cast<LRESULT>(sizeof text)) continue;
        ::SendMessageA(Combo_ComPort, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        if (shown == text) return i;
    }
    return -1;
}

bool Form1::doRepair() {
    WindowFrontEnd frontEnd(*this);
    BoundConsole console(*uart_, *tovrane_);
    const auto port = static_cast<uint8_t>(comPortNo_);
    const std::string password = loginPassword_;
    return runDetection([&] {
        tq318::repair::Detection detection;
        runOffWindowThread([&] { detection = detectController(port, password, frontEnd, console); });
        return detection;
    });
}

// ---------------------------------------------------------------- housekeeping

void Form1::killWinTemp(const std::string& name) {
    const char* windir = std::getenv("Windir");
    pelorim::killWinTemp(name, windir != nullptr ? windir : "");
}

}  // namespace pelorim
