// Run-time errors of the wizard: raised by the library binding and by the
// housekeeping helpers, trapped where the wizard's operations say so, and
// otherwise turned into an error report that ends the program.
#pragma once

#include <stdexcept>
#include <string>

#include "tq318/repair/console.h"

namespace pelorim {

class RuntimeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A library or one of its functions could not be bound. The repair engine
// sees it as its console being unavailable.
class BindError : public RuntimeError, public tq318::repair::ConsoleUnavailable {
public:
    using RuntimeError::RuntimeError;
};

// A file operation (attribute reset, delete) failed.
class FileError : public RuntimeError {
public:
    using RuntimeError::RuntimeError;
};

}  // namespace pelorim
