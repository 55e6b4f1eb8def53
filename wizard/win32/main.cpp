// Pelorim.exe: the TQ-318 repair wizard as a native Windows program.
#include <windows.h>
#include <commctrl.h>

#include "form1.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    pelorim::Form1 window(instance);
    if (!window.create()) {
        ::MessageBoxA(nullptr, "The window could not be created.", pelorim::kProgramTitle, MB_OK | MB_ICONERROR);
        return 1;
    }
    // Start-up binds the serial library; failing that, the error report ends the program here.
    window.guarded([&window] { window.Form_Load(); });
    ::ShowWindow(window.hwnd(), show);
    ::UpdateWindow(window.hwnd());
    return window.run();
}
