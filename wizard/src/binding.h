// Binding by name at first call.
//
// The wizard does not link the serial library (libuart.so) or the console
// library (libtovrane.so). Each function is looked up by name the first time it
// is called, and the binding is kept for the rest of the run. A library that
// cannot be loaded or a function it lacks raises BindError at that call; the
// caller decides whether to trap it.
//
// Where a library is looked for: a name without "/" is tried first in the folder
// of the running executable (/proc/self/exe), then under the plain name (the
// dynamic loader's search path). A name with "/" is used as it is. The default
// names are the SONAME files (libuart.so.1, libtovrane.so.1), which an installed
// kit has without its -dev package; when one is not found, the bare name
// (libuart.so, libtovrane.so) is tried the same way.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "runtime_error.h"

namespace pelorim {

class SharedLibrary {
public:
    explicit SharedLibrary(std::string name);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Address of `function`, loading the library first if needed. Throws BindError.
    void* symbol(const char* function);
    const std::string& name() const { return name_; }
    bool loaded() const { return handle_ != nullptr; }

private:
    void load();

    std::string name_;
    void* handle_ = nullptr;
};

template <typename Signature>
class BoundFunction;

template <typename R, typename... Args>
class BoundFunction<R(Args...)> {
public:
    BoundFunction(SharedLibrary& library, const char* name) : library_(library), name_(name) {}

    R operator()(Args... args) {
        if (function_ == nullptr) function_ = reinterpret_cast<R (*)(Args...)>(library_.symbol(name_));
        return function_(args...);
    }
    bool bound() const { return function_ != nullptr; }

private:
    SharedLibrary& library_;
    const char* name_;
    R (*function_)(Args...) = nullptr;
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

    const std::string& name() const { return library_.name(); }

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

    const std::string& name() const { return library_.name(); }

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

// Folder of the running executable, without a trailing "/"; empty if unknown.
std::string executableFolder();

}  // namespace pelorim
