// Whether a path names a device a controller could be reached through: a
// file or a folder is none; a device name such as \\.\COM3 is not checked
// further (opening it would take the port from whoever holds it).
#include <windows.h>

#include "port_assign.h"

namespace tovctl {

std::string device_problem(const std::string& device) {
    const DWORD attributes = ::GetFileAttributesA(device.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return "it cannot be found";
        return {};
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder, not a serial device";
    return "it is a regular file, not a serial device";
}

}  // namespace tovctl
