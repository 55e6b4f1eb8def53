// Binding by name at first call.
//
// The wizard links neither the serial library nor the console library. Each
// library is loaded when one of its functions is first called, and each
// function is looked up by name at its own first call; both are kept for the
// rest of the run. A library that cannot be loaded or a function it lacks
// raises BindError at that call; the caller decides whether to trap it.
// A function may be bound from more than one thread (the Windows wizard's
// window thread and its worker).
//
// Where a library is looked for: a bare name is tried first in the folder of
// the running program, then along the system's own search path; a path is
// used as it is. The loading itself is the platform's (binding_posix.cpp:
// dlopen, the SONAME files libuart.so.1 and libtovrane.so.1 first;
// binding_win32.cpp: LoadLibrary, uart.dll and tovrane.dll).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include "runtime_error.h"

namespace pelorim {

class SharedLibrary {
public:
    explicit SharedLibrary(std::string name) : name_(std::move(name)) {}
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Address of `function`, loading the library first if needed. Throws BindError.
    void* symbol(const char* function);
    const std::string& name() const { return name_; }

private:
    // The platform's part: load() sets handle_ or throws BindError;
    // find() is null for a function the library lacks.
    void load();
    void* find(const char* function) const;

    std::string name_;
    std::mutex mutex_;
    void* handle_ = nullptr;
};

template <typename Signature>
class BoundFunction;

template <typename R, typename... Args>
class BoundFunction<R(Args...)> {
public:
    using Pointer = R (*)(Args...);
    BoundFunction(SharedLibrary& library, const char* name) : library_(library), name_(name) {}

    R operator()(Args... args) {
        Pointer function = function_.load(std::memory_order_acquire);
        if (function == nullptr) {
            function = reinterpret_cast<Pointer>(library_.symbol(name_));
            function_.store(function, std::memory_order_release);
        }
        return function(args...);
    }

private:
    SharedLibrary& library_;
    const char* name_;
    std::atomic<Pointer> function_{nullptr};
};

// Library names, injectable for tests. The defaults honour PELORIM_UART_LIBRARY
// and PELORIM_TOVRANE_LIBRARY when set (a name or a path).
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
    SharedLibrary library_;  // declared before the functions that refer to it

public:
    BoundFunction<uint16_t(uint8_t, uint32_t, uint8_t, uint8_t, uint8_t)> Open_Com{library_, "Open_Com"};
    BoundFunction<uint16_t(uint8_t)> Close_Com{library_, "Close_Com"};
    BoundFunction<uint16_t(uint8_t, const char*, int16_t)> Send_Cmd{library_, "Send_Cmd"};
    BoundFunction<uint16_t(uint8_t, char*, uint16_t, int16_t, uint16_t*)> Receive_Cmd{library_, "Receive_Cmd"};
};

// The console-library exports the repair flows call.
class TovraneLibrary {
public:
    explicit TovraneLibrary(std::string name) : library_(std::move(name)) {}

private:
    SharedLibrary library_;

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

// Folder of the running program, without a trailing separator; empty if unknown.
std::string executableFolder();

// `variable`'s value when it is set and not empty, else `fallback`.
std::string libraryNameFrom(const char* variable, const char* fallback);

}  // namespace pelorim
