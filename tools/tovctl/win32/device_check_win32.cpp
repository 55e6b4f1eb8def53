// Whether a name stands for a serial device a controller could be reached
// through. COM ports are checked against the system's DOS device names (not
// opened: that would take the port from whoever holds it); the other
// reserved names (CON, NUL, PRN, AUX, LPT<N>) are said for what they are; a
// file or a folder is none.
#include <windows.h>

#include <algorithm>
#include <cctype>

#include "port_assign.h"
#include "win32/port_devices_win32.h"

namespace tovctl {

namespace {

constexpr const char* kDeviceNamespace = "\\\\.\\";

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// The reserved name a path stands for whatever its folder and extension
// ("C:\x\con.txt" is the console), or "".
std::string reserved_name(const std::string& path) {
    std::string name = path.substr(path.find_last_of("\\/:") == std::string::npos ? 0 : path.find_last_of("\\/:") + 1);
    name = upper(name.substr(0, name.find('.')));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name == "CON" || name == "CONIN$" || name == "CONOUT$" || name == "NUL" || name == "PRN" || name == "AUX")
        return name;
    if (name.size() == 4 && (name.rfind("COM", 0) == 0 || name.rfind("LPT", 0) == 0) && name[3] >= '0' &&
        name[3] <= '9')
        return name;
    return {};
}

bool dos_device_exists(const std::string& name) {
    char target[1024];
    return ::QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
}

std::string not_serial(const std::string& name) {
    if (name == "CON" || name == "CONIN$" || name == "CONOUT$") return name + " is the console, not a serial device";
    if (name == "NUL") return "NUL is the null device, not a serial device";
    if (name == "AUX") return "AUX is an old alias, not a serial device name (give the COM port, such as COM3)";
    return name + " is a printer port, not a serial device";
}

}  // namespace

std::string device_problem(const std::string& device) {
    const bool in_namespace = device.rfind(kDeviceNamespace, 0) == 0;
    const std::string name = in_namespace ? device.substr(4) : reserved_name(device);
    if (in_namespace || !name.empty()) {
        const std::string com = com_name(name);
        if (!com.empty())
            return dos_device_exists(com) ? std::string() : "it cannot be found: Windows knows no " + com;
        const std::string reserved = reserved_name(name);
        if (!reserved.empty() && (!in_namespace || upper(name) == reserved)) return not_serial(reserved);
        return dos_device_exists(name) ? std::string() : "it cannot be found: Windows knows no device " + name;
    }
    const DWORD attributes = ::GetFileAttributesA(device.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return "it cannot be found";
        return {};
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder, not a serial device";
    return "it is a regular file, not a serial device";
}

const DeviceNaming& device_naming() {
    static const DeviceNaming naming{
        "\\\\.\\COM3", "\\\\.\\COM<N>", "%APPDATA%\\tq318\\ports", "APPDATA is not set",
        "  Windows refused the port: another program may hold it (a terminal, the wizard, another tovctl).\n"
        "  Close it first; Device Manager (Ports (COM & LPT)) shows whether the port is there.\n"};
    return naming;
}

std::optional<std::string> assignable_device(const std::string& device, std::string& why) {
    // COM3 and \\.\COM3 alike: the mapping holds the name that reaches every
    // COM number (plain COM10 and above cannot be opened).
    const bool in_namespace = device.rfind(kDeviceNamespace, 0) == 0;
    const std::string rest = in_namespace ? device.substr(4) : device;
    if (const std::string com = com_name(rest); !com.empty()) return kDeviceNamespace + com;
    if (in_namespace && !rest.empty() && rest.find_first_of("\\/") == std::string::npos) return device;
    why = "the device must be a COM port, such as COM3 or \\\\.\\COM3 (or another device under \\\\.\\)";
    return std::nullopt;
}

}  // namespace tovctl
