// The ports the system knows: the setup API's Ports class (each with its
// friendly name and hardware id), and the COM ports of the registry's
// SERIALCOMM list (what serial drivers register) that it lacks; without
// either, the COM names among the DOS devices.
#include <windows.h>

#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "hardware_id.h"
#include "ports.h"
#include "win32/port_devices_win32.h"

namespace tovctl {

namespace {

constexpr DWORD kMostValues = 256;   // bounds a damaged registry key
constexpr DWORD kMostDevices = 1024;  // bounds the device list

// A string property of at most 1 KiB; of a list, the first string.
std::string device_property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    BYTE data[1026] = {};
    DWORD type = 0, size = 0;
    if (!::SetupDiGetDeviceRegistryPropertyA(set, &device, property, &type, data, sizeof data - 2, &size)) return {};
    if (type != REG_SZ && type != REG_MULTI_SZ) return {};
    return std::string(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
}

std::string string_value(HKEY key, const char* name) {
    BYTE data[256] = {};
    DWORD type = 0, size = sizeof data - 1;
    if (::RegQueryValueExA(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS || type != REG_SZ) return {};
    return std::string(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
}

std::optional<int> dword_value(HKEY key, const char* name) {
    DWORD value = 0, type = 0, size = sizeof value;
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || value > 255)
        return std::nullopt;
    return static_cast<int>(value);
}

std::vector<std::pair<std::string, std::string>> registry_ports() {
    std::vector<std::pair<std::string, std::string>> found;  // (COM name, driver's name)
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return found;
    for (DWORD i = 0; i < kMostValues; ++i) {
        char name[256];
        BYTE data[256];
        DWORD name_size = sizeof name, data_size = sizeof data - 1, type = 0;
        const LONG r = ::RegEnumValueA(key, i, name, &name_size, nullptr, &type, data, &data_size);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        data[data_size] = 0;
        const std::string com = com_name(reinterpret_cast<char*>(data));
        if (!com.empty()) found.emplace_back(com, std::string(name, name_size));
    }
    ::RegCloseKey(key);
    return found;
}

std::vector<std::pair<std::string, std::string>> dos_device_ports() {
    std::vector<std::pair<std::string, std::string>> found;
    std::vector<char> names(1 << 16);
    const DWORD n = ::QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
    for (std::size_t at = 0; at < n && names[at] != '\0';) {
        const std::string name(names.data() + at);
        at += name.size() + 1;
        if (com_name(name).empty()) continue;
        char target[512] = "";
        const DWORD t = ::QueryDosDeviceA(name.c_str(), target, sizeof target);
        found.emplace_back(com_name(name), t > 0 ? std::string(target) : std::string());
    }
    return found;
}

int com_number(const std::string& name) { return std::stoi(name.substr(3)); }

}  // namespace

std::string com_name(const std::string& name) {
    if (name.size() < 4 || name.size() > 6) return {};
    if (std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M')
        return {};
    if (!std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; })) return {};
    const int n = std::stoi(name.substr(3));
    return n >= 1 && n <= 255 ? "COM" + std::to_string(n) : std::string();
}

std::vector<PortDevice> port_devices() {
    std::vector<PortDevice> found;
    const HDEVINFO set = ::SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return found;
    for (DWORD i = 0; i < kMostDevices; ++i) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!::SetupDiEnumDeviceInfo(set, i, &device)) break;
        PortDevice port;
        const HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key != INVALID_HANDLE_VALUE) {
            port.com = com_name(string_value(key, "PortName"));
            port.latency_timer_ms = dword_value(key, "LatencyTimer");
            ::RegCloseKey(key);
        }
        if (port.com.empty()) continue;  // a printer port, or no port name
        port.friendly_name = device_property(set, device, SPDRP_FRIENDLYNAME);
        if (port.friendly_name.empty()) port.friendly_name = device_property(set, device, SPDRP_DEVICEDESC);
        port.hardware_id = device_property(set, device, SPDRP_HARDWAREID);
        port.service = device_property(set, device, SPDRP_SERVICE);
        char instance[512] = "";
        if (::SetupDiGetDeviceInstanceIdA(set, &device, instance, sizeof instance, nullptr))
            port.instance_id = instance;
        found.push_back(std::move(port));
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return found;
}

std::vector<PortInfo> system_ports() {
    std::map<int, PortInfo> by_number;
    for (const PortDevice& d : port_devices()) {
        PortInfo info;
        info.path = "\\\\.\\" + d.com;
        info.description = d.friendly_name;
        // The instance id carries the serial number; the hardware id at least
        // the vendor and product.
        HardwareId id = parse_hardware_id(d.instance_id);
        if (!id.vid) id = parse_hardware_id(d.hardware_id);
        info.transport = id.vid ? "usb" : "native";
        info.usb_vid = id.vid;
        info.usb_pid = id.pid;
        info.serial = id.serial;
        by_number.emplace(com_number(d.com), std::move(info));
    }
    auto listed = registry_ports();
    if (listed.empty() && by_number.empty()) listed = dos_device_ports();
    for (const auto& [com, driver] : listed) {
        PortInfo info;
        info.path = "\\\\.\\" + com;
        info.description = driver;
        info.transport = "native";
        by_number.emplace(com_number(com), std::move(info));
    }
    std::vector<PortInfo> out;
    for (auto& [number, info] : by_number) out.push_back(std::move(info));
    return out;
}

}  // namespace tovctl
