// Binding by name at first call, on Windows.
//
// Pelorim.exe imports neither uart.dll nor tovrane.dll. Each DLL is loaded
// with LoadLibrary when one of its functions is first called, and each
// function is looked up with GetProcAddress at its own first call; both are
// kept for the rest of the run. A DLL that cannot be loaded or a function it
// lacks raises BindError at that call. A bare DLL name is looked for in the
// program's own folder first, then along the system's search path.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include "runtime_error.h"

namespace pelorim {

class DynamicLibrary {
public:
    explicit DynamicLibrary(std::string name) : name_(std::move(name)) {}
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // The function's address, loading the DLL first if needed. Throws BindError.
    FARPROC symbol(const char* function);
    const std::string& name() const { return name_; }

private:
    void load();

    std::string name_;
    std::mutex mutex_;  // the window's thread and the worker both bind
    HMODULE module_ = nullptr;
};

template <typename Signature>
class BoundFunction;

template <typename R, typename... Args>
class BoundFunction<R(Args...)> {
public:
    using Pointer = R (*)(Args...);
    BoundFunction(DynamicLibrary& library, const char* name) : library_(library), name_(name) {}

    R operator()(Args... args) {
        Pointer function = function_.load(std::memory_order_acquire);
        if (function == nullptr) {
            function = reinterpret_cast<Pointer>(reinterpret_cast<void*>(library_.symbol(name_)));
            function_.store(function, std::memory_order_release);
        }
        return function(args...);
    }

private:
    DynamicLibrary& library_;
    const char* name_;
    std::atomic<Pointer> function_{nullptr};
};

// DLL names; PELORIM_UART_LIBRARY and PELORIM_TOVRANE_LIBRARY name others.
struct LibraryNames {
    std::string uart = defaultUart();
    std::string tovrane = defaultTovrane();

    static std::string defaultUart();
    static std::string defaultTovrane();
};

// The four serial functions the wizard calls itself.
class UartLibrary {
public:
    explicit UartLibrary(std::string name) : library_(std::move(name)) {}

private:
    DynamicLibrary library_;  // declared before the functions that refer to it

public:
    BoundFunction<uint16_t(uint8_t, uint32_t, uint8_t, uint8_t, uint8_t)> Open_Com{library_, "Open_Com"};
    BoundFunction<uint16_t(uint8_t)> Close_Com{library_, "Close_Com"};
    BoundFunction<uint16_t(uint8_t, const char*, int16_t)> Send_Cmd{library_, "Send_Cmd"};
    BoundFunction<uint16_t(uint8_t, char*, uint16_t, int16_t, uint16_t*)> Receive_Cmd{library_, "Receive_Cmd"};
};

// The console-library exports the repairs call.
class TovraneLibrary {
public:
    explicit TovraneLibrary(std::string name) : library_(std::move(name)) {}

private:
    DynamicLibrary library_;

public:
    BoundFunction<uint16_t(uint8_t, uint16_t, uint8_t)> TOV_GetPrompt{library_, "TOV_GetPrompt"};
    BoundFunction<uint16_t(uint8_t, char, char*, char*)> TOV_Get_FreeSize{library_, "TOV_Get_FreeSize"};
    BoundFunction<uint16_t(uint8_t, const char*, char, const char*, int32_t, char*)> TOV_Load_File{
        library_, "TOV_Load_File"};
    BoundFunction<uint16_t(uint8_t, const char*, char*)> TOV_Update_Tovrane{library_, "TOV_Update_Tovrane"};
    BoundFunction<int32_t(uint8_t, char*, char*, char*, int32_t*, char*)> TOV_Get_Tovrane_Version{
        library_, "TOV_Get_Tovrane_Version"};
    BoundFunction<uint16_t(uint8_t, char, int32_t*, char**, char**, char**, char**, char*)> TOV_Dir_Tovrane{
        library_, "TOV_Dir_Tovrane"};
};

// The folder that holds Pelorim.exe, without a trailing "\"; empty if unknown.
std::string programFolder();

}  // namespace pelorim
