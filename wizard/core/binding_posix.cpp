// Loading by dlopen: a bare name in the running program's folder
// (/proc/self/exe) first, then along the dynamic loader's search path. The
// default names are the SONAME files (libuart.so.1, libtovrane.so.1), which an
// installed kit has without its -dev package; when one is not found, the bare
// name (libuart.so, libtovrane.so) is tried the same way, as the build tree has it.
#include "binding.h"

#include <dlfcn.h>

#include <filesystem>
#include <string_view>
#include <system_error>

namespace pelorim {

std::string LibraryNames::defaultUart() { return libraryNameFrom("PELORIM_UART_LIBRARY", "libuart.so.1"); }
std::string LibraryNames::defaultTovrane() { return libraryNameFrom("PELORIM_TOVRANE_LIBRARY", "libtovrane.so.1"); }

std::string executableFolder() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.parent_path().string();
}

SharedLibrary::~SharedLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

void SharedLibrary::load() {
    std::string reasons;
    auto attempt = [&](const std::string& path) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            const char* why = dlerror();
            reasons += "\n  " + (why != nullptr ? std::string(why) : path);
        }
        return handle_ != nullptr;
    };
    auto attemptName = [&](const std::string& name) {
        if (name.find('/') == std::string::npos) {
            const std::string folder = executableFolder();
            if (!folder.empty() && attempt(folder + "/" + name)) return true;
        }
        return attempt(name);
    };
    if (attemptName(name_)) return;
    constexpr std::string_view kSonameSuffix = ".so.1";
    if (name_.size() > kSonameSuffix.size() && name_.ends_with(kSonameSuffix) &&
        attemptName(name_.substr(0, name_.size() - 2))) {
        return;
    }
    throw BindError("cannot load library " + name_ + ":" + reasons);
}

void* SharedLibrary::find(const char* function) const {
    dlerror();
    return dlsym(handle_, function);
}

}  // namespace pelorim
