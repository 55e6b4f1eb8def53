// The "Load Process" dialog (resource 101 of this library) and the message
// boxes, owned by the window that was active when the call began. No message
// loop runs during a transfer: the counters change by a direct command
// message and an immediate repaint.
#include "ui/win32/win32_ui.h"

#include <windows.h>

#include <string>

#include "ui/win32/resource_ids.h"

namespace tovrane::ui {

namespace {

// This library's module, whose resources hold the dialog.
HMODULE own_module() {
    HMODULE module = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&own_module), &module);
    return module;
}

constexpr UINT kInitialCounter = 255;

INT_PTR CALLBACK progress_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG:
            ::SetDlgItemInt(dialog, IDC_BLOCK, kInitialCounter, TRUE);
            ::SetDlgItemInt(dialog, IDC_TOTAL_BLOCKS, kInitialCounter, TRUE);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDC_BLOCK) {
                // lparam: the block acknowledged; the total was stored beside the window.
                ::SetDlgItemInt(dialog, IDC_BLOCK, static_cast<UINT>(lparam), FALSE);
                ::SetDlgItemInt(dialog, IDC_TOTAL_BLOCKS,
                                static_cast<UINT>(::GetWindowLongPtrA(dialog, DWLP_USER)), FALSE);
            }
            return TRUE;
        default:
            return FALSE;
    }
}

std::string text_of(std::string_view text) { return std::string(text); }

class Win32Progress final : public ProgressWindow {
public:
    explicit Win32Progress(HWND dialog) : dialog_(dialog) {}
    ~Win32Progress() override { ::DestroyWindow(dialog_); }
    Win32Progress(const Win32Progress&) = delete;
    Win32Progress& operator=(const Win32Progress&) = delete;

    void set_status(std::string_view text) override {
        ::SetDlgItemTextA(dialog_, IDC_STATUS, text_of(text).c_str());
        repaint();
    }
    void block_acknowledged(std::uint32_t block, std::uint32_t total) override {
        ::SetWindowLongPtrA(dialog_, DWLP_USER, static_cast<LONG_PTR>(total));
        ::SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_BLOCK, 0), static_cast<LPARAM>(block));
        repaint();
    }

private:
    void repaint() { ::RedrawWindow(dialog_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN); }

    HWND dialog_;
};

class Win32Ui final : public Ui {
public:
    void remember_owner() override { owner_ = ::GetActiveWindow(); }
    std::unique_ptr<ProgressWindow> open_progress(std::string_view file_name) override {
        HWND dialog = ::CreateDialogParamA(own_module(), MAKEINTRESOURCEA(IDD_LOAD_PROCESS), owner_,
                                           progress_dialog_proc, 0);
        if (dialog == nullptr) return nullptr;
        auto window = std::make_unique<Win32Progress>(dialog);
        ::ShowWindow(dialog, SW_SHOW);
        window->set_status(file_name);
        return window;
    }
    void message(std::string_view text, std::string_view caption) override {
        const std::string title = text_of(caption);
        ::MessageBoxA(owner_, text_of(text).c_str(), title.empty() ? nullptr : title.c_str(), MB_OK);
    }
    bool ask_yes_no(std::string_view text, std::string_view caption) override {
        return ::MessageBoxA(owner_, text_of(text).c_str(), text_of(caption).c_str(), MB_YESNO) == IDYES;
    }
    void set_wait_cursor(bool on) override {
        ::SetCursor(::LoadCursorA(nullptr, on ? IDC_WAIT : IDC_ARROW));
    }

private:
    HWND owner_ = nullptr;
};

}  // namespace

Ui& win32_ui() {
    static Win32Ui ui;
    return ui;
}

}  // namespace tovrane::ui
