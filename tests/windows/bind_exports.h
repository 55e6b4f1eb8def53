// Binding the DLLs' exports at run time, by ordinal and by name.
#pragma once

#include <windows.h>

#include <cstdint>

#include "check.h"

namespace wincheck {

// Both bindings of an export: they must name the same function.
inline FARPROC bind(HMODULE module, WORD ordinal, const char* name, int line) {
    FARPROC by_ordinal = ::GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    FARPROC by_name = ::GetProcAddress(module, name);
    check(by_ordinal != nullptr && by_ordinal == by_name, name, line,
          "ordinal " + std::to_string(ordinal));
    return by_ordinal;
}

inline FARPROC bind_name(HMODULE module, const char* name, int line) {
    FARPROC f = ::GetProcAddress(module, name);
    check(f != nullptr, name, line, "by name");
    return f;
}

template <class F>
F as(FARPROC f) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(f));
}

}  // namespace wincheck
