// Loading by LoadLibrary: a bare DLL name in Pelorim.exe's own folder first,
// then along the system's search path; functions by GetProcAddress.
#include "binding.h"

#include <windows.h>

#include <vector>

namespace pelorim {

namespace {
bool isBareName(const std::string& name) { return name.find_first_of("\\/:") == std::string::npos; }
HMODULE module(void* handle) { return static_cast<HMODULE>(handle); }
}  // namespace

std::string LibraryNames::defaultUart() { return libraryNameFrom("PELORIM_UART_LIBRARY", "uart.dll"); }
std::string LibraryNames::defaultTovrane() { return libraryNameFrom("PELORIM_TOVRANE_LIBRARY", "tovrane.dll"); }

std::string executableFolder() {
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

SharedLibrary::~SharedLibrary() {
    if (handle_ != nullptr) ::FreeLibrary(module(handle_));
}

void SharedLibrary::load() {
    DWORD error = 0;
    if (isBareName(name_)) {
        const std::string folder = executableFolder();
        if (!folder.empty()) {
            const std::string path = folder + "\\" + name_;
            handle_ = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
            if (handle_ != nullptr) return;
            error = ::GetLastError();
        }
    }
    handle_ = ::LoadLibraryA(name_.c_str());
    if (handle_ != nullptr) return;
    if (error == 0 || error == ERROR_MOD_NOT_FOUND) error = ::GetLastError();
    throw BindError("cannot load library " + name_ + " (error " + std::to_string(error) + ")");
}

void* SharedLibrary::find(const char* function) const {
    return reinterpret_cast<void*>(::GetProcAddress(module(handle_), function));
}

}  // namespace pelorim
