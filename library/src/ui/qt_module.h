// The Qt window and message boxes live in a module of the kit of their own,
// so that the library links no Qt. It is loaded at run time, and only in a
// process that already runs a Qt application; its entry is
// `extern "C" tovrane::ui::Ui* tovrane_qt_ui()`.
#pragma once

#include "ui/ui.h"

namespace tovrane::ui {

inline constexpr const char* kQtModuleName = "libtovrane-qt.so.1";
inline constexpr const char* kQtModuleEntry = "tovrane_qt_ui";

// The module's UI when this process runs a QApplication and the module
// loads; null otherwise (the console UI is used then). Once loaded, the
// module stays for the life of the process.
Ui* qt_module_ui();

}  // namespace tovrane::ui
