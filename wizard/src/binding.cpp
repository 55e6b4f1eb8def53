#include "binding.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace pelorim {

namespace {
std::string fromEnvironment(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return (value != nullptr && *value != '\0') ? std::string(value) : std::string(fallback);
}
}  // namespace

// By SONAME first (the name an installed kit has), then by the bare name.
std::string LibraryNames::defaultUart() { return fromEnvironment("PELORIM_UART_LIBRARY", "libuart.so.1"); }
std::string LibraryNames::defaultTovrane() { return fromEnvironment("PELORIM_TOVRANE_LIBRARY", "libtovrane.so.1"); }

std::string executableFolder() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.parent_path().string();
}

SharedLibrary::SharedLibrary(std::string name) : name_(std::move(name)) {}

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
    // A SONAME file that is not there: the bare name, as the build tree has it.
    constexpr std::string_view kSonameSuffix = ".so.1";
    if (name_.size() > kSonameSuffix.size() && name_.ends_with(kSonameSuffix) &&
        attemptName(name_.substr(0, name_.size() - 2))) {
        return;
    }
    throw BindError("cannot load library " + name_ + ":" + reasons);
}

void* SharedLibrary::symbol(const char* function) {
    if (handle_ == nullptr) load();
    dlerror();
    void* address = dlsym(handle_, function);
    if (address == nullptr) {
        throw BindError("function " + std::string(function) + " not found in library " + name_);
    }
    return address;
}

}  // namespace pelorim
