#include "binding.h"

#include <cstdlib>

namespace pelorim {

std::string libraryNameFrom(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return (value != nullptr && *value != '\0') ? std::string(value) : std::string(fallback);
}

void* SharedLibrary::symbol(const char* function) {
    const std::lock_guard lock(mutex_);
    if (handle_ == nullptr) load();
    void* address = find(function);
    if (address == nullptr) throw BindError("function " + std::string(function) + " not found in library " + name_);
    return address;
}

}  // namespace pelorim
