// The UI with windows that this process can show, one file per platform:
// the Qt module's in a program that runs a QApplication (qt_module_posix.cpp),
// the Win32 dialog in a Windows GUI program (win32/ui_select_win32.cpp).
#pragma once

#include "ui/ui.h"

namespace tovrane::ui {

// Null when the process shows no windows: the console UI is used then.
Ui* window_ui();

}  // namespace tovrane::ui
