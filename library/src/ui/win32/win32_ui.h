// The Win32 implementations of the library's UI (window_ui_win32.cpp: the
// "Load Process" dialog and message boxes; console_ui_win32.cpp: stderr).
#pragma once

#include "ui/ui.h"

namespace tovrane::ui {

Ui& win32_ui();

}  // namespace tovrane::ui
