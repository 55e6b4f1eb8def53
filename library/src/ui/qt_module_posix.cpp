// Loading the Qt module with the dynamic loader. A Qt application is seen
// without linking Qt: QtCore's application pointer is looked up among the
// symbols already loaded, and QtWidgets must be loaded already. The module
// is looked for beside this library first, then by its name on the library
// path.
#include <dlfcn.h>

#include <mutex>
#include <string>

#include "ui/qt_module.h"
#include "ui/window_ui.h"

namespace tovrane::ui {

namespace {

// QCoreApplication::self, the instance that QCoreApplication::instance() returns.
constexpr const char* kApplicationSymbol = "_ZN16QCoreApplication4selfE";
constexpr const char* kWidgetsLibrary = "libQt6Widgets.so.6";

using Entry = Ui* (*)();

bool qt_application_running() {
    const auto* self = static_cast<void* const*>(::dlsym(RTLD_DEFAULT, kApplicationSymbol));
    if (self == nullptr || *self == nullptr) return false;
    void* widgets = ::dlopen(kWidgetsLibrary, RTLD_LAZY | RTLD_NOLOAD);
    if (widgets == nullptr) return false;
    ::dlclose(widgets);  // only the reference RTLD_NOLOAD took
    return true;
}

std::string folder_of_this_library() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&qt_module_ui), &info) == 0 || info.dli_fname == nullptr) return {};
    const std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

Entry load_entry() {
    void* module = nullptr;
    if (const std::string folder = folder_of_this_library(); !folder.empty())
        module = ::dlopen((folder + kQtModuleName).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) module = ::dlopen(kQtModuleName, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) return nullptr;
    // Kept loaded for the life of the process: its windows and statics live there.
    return reinterpret_cast<Entry>(::dlsym(module, kQtModuleEntry));
}

}  // namespace

Ui* qt_module_ui() {
    if (!qt_application_running()) return nullptr;
    static std::once_flag once;
    static Entry entry = nullptr;
    std::call_once(once, [] { entry = load_entry(); });
    return entry != nullptr ? entry() : nullptr;
}

Ui* window_ui() { return qt_module_ui(); }

Ui& qt_ui() {
    if (Ui* ui = qt_module_ui()) return *ui;
    return console_ui();
}

}  // namespace tovrane::ui
