#include "binding.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace pelorim {

namespace {
std::string fromEnvironment(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return (value != nullptr && *value != '\0') ? std::string(value) : std::string(fallback);
}
}  // namespace

std::string LibraryNames::defaultUart() { return fromEnvironment("PELORIM_UART_LIBRARY", "libuart.so"); }
std::string LibraryNames::defaultTovrane() { return fromEnvironment("PELORIM_TOVRANE_LIBRARY", "libtovrane.so"); }

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
    if (name_.find('/') == std::string::npos) {
        const std::string folder = executableFolder();
        if (!folder.empty() && attempt(folder + "/" + name_)) return;
    }
    if (attempt(name_)) return;
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
