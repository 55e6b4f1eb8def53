// The windowed UI on Windows: a program built for the Windows GUI subsystem
// gets the "Load Process" dialog and message boxes; a console program
// (tovctl.exe) gets its console, as a Linux program without a QApplication does.
#include <windows.h>

#include "ui/win32/win32_ui.h"
#include "ui/window_ui.h"

namespace tovrane::ui {

namespace {

bool gui_program() {
    const auto* base = reinterpret_cast<const BYTE*>(::GetModuleHandleA(nullptr));
    if (base == nullptr) return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

}  // namespace

Ui* window_ui() {
    static const bool gui = gui_program();
    return gui ? &win32_ui() : nullptr;
}

}  // namespace tovrane::ui
