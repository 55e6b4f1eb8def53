// The ports the system knows: the COM ports in the registry's SERIALCOMM
// list (what serial drivers register), else the COM names among the DOS
// devices.
#include <windows.h>

#include <algorithm>
#include <set>
#include <vector>

#include "ports.h"

namespace tovctl {

namespace {

constexpr DWORD kMostValues = 256;  // bounds a damaged registry key

bool is_com_name(const std::string& name) {
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0) return false;
    return std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
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
        std::string com(reinterpret_cast<char*>(data));
        while (!com.empty() && com.back() == '\0') com.pop_back();
        if (is_com_name(com)) found.emplace_back(com, std::string(name, name_size));
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
        if (!is_com_name(name)) continue;
        char target[512] = "";
        const DWORD t = ::QueryDosDeviceA(name.c_str(), target, sizeof target);
        found.emplace_back(name, t > 0 ? std::string(target) : std::string());
    }
    return found;
}

int com_number(const std::string& name) { return std::stoi(name.substr(3)); }

}  // namespace

std::vector<PortInfo> system_ports() {
    auto found = registry_ports();
    if (found.empty()) found = dos_device_ports();
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return com_number(a.first) < com_number(b.first); });
    std::vector<PortInfo> out;
    std::set<std::string> seen;
    for (const auto& [com, driver] : found) {
        if (!seen.insert(com).second) continue;
        PortInfo info;
        info.path = "\\\\.\\" + com;
        info.description = driver;
        info.transport = "native";
        out.push_back(std::move(info));
    }
    return out;
}

}  // namespace tovctl
