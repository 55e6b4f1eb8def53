#include "binding.h"

#include <cstdlib>
#include <vector>

namespace pelorim {

namespace {
std::string fromEnvironment(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return (value != nullptr && *value != '\0') ? std::string(value) : std::string(fallback);
}

bool isBareName(const std::string& name) { return name.find_first_of("\\/:") == std::string::npos; }
}  // namespace

std::string LibraryNames::defaultUart() { return fromEnvironment("PELORIM_UART_LIBRARY", "uart.dll"); }
std::string LibraryNames::defaultTovrane() { return fromEnvironment("PELORIM_TOVRANE_LIBRARY", "tovrane.dll"); }

std::string programFolder() {
    std::vector<char> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 6; ++attempt) {
        const DWORD n = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            std::string path(buffer.data(), n);
            const auto slash = path.find_last_of("\\/");
            return slash == std::string::npos ? std::string() : path.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
    return {};
}

DynamicLibrary::~DynamicLibrary() {
    if (module_ != nullptr) ::FreeLibrary(module_);
}

void DynamicLibrary::load() {
    DWORD error = 0;
    if (isBareName(name_)) {
        const std::string folder = programFolder();
        if (!folder.empty()) {
            const std::string path = folder + "\\" + name_;
            module_ = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
            if (module_ != nullptr) return;
            error = ::GetLastError();
        }
    }
    module_ = ::LoadLibraryA(name_.c_str());
    if (module_ != nullptr) return;
    if (error == 0 || error == ERROR_MOD_NOT_FOUND) error = ::GetLastError();
    throw BindError("cannot load library " + name_ + " (error " + std::to_string(error) + ")");
}

FARPROC DynamicLibrary::symbol(const char* function) {
    const std::lock_guard lock(mutex_);
    if (module_ == nullptr) load();
    const FARPROC address = ::GetProcAddress(module_, function);
    if (address == nullptr) throw BindError("function " + std::string(function) + " not found in library " + name_);
    return address;
}

}  // namespace pelorim
