#include "hardware_id.h"

#include <cctype>

namespace tovctl {

namespace {

constexpr int kFtdiVendor = 0x0403;
constexpr std::size_t kMostBytes = 512;   // longer ids are not device ids
constexpr std::size_t kMostSerial = 64;

bool equal_folded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// "VID_0403" as 0x0403: the key, '_' and exactly four hex digits.
std::optional<int> hex_field(std::string_view part, std::string_view key) {
    if (part.size() != key.size() + 5 || !equal_folded(part.substr(0, key.size()), key) || part[key.size()] != '_')
        return std::nullopt;
    int value = 0;
    for (const char c : part.substr(key.size() + 1)) {
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                          : (c >= 'a' && c <= 'f')                     ? c - 'a' + 10
                          : (c >= 'A' && c <= 'F')                     ? c - 'A' + 10
                                                                       : -1;
        if (digit < 0) return std::nullopt;
        value = value * 16 + digit;
    }
    return value;
}

// A serial number as a device reports it: printable ASCII without the id's
// separators.
bool plausible_serial(std::string_view s) {
    if (s.empty() || s.size() > kMostSerial) return false;
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7f || c == '&' || c == '\\' || c == '+') return false;
    }
    return true;
}

// The next field of `rest` up to one of `separators`.
std::string_view next_field(std::string_view& rest, std::string_view separators) {
    const std::size_t end = rest.find_first_of(separators);
    const std::string_view field = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return field;
}

}  // namespace

HardwareId parse_hardware_id(std::string_view id) {
    HardwareId out;
    if (id.size() > kMostBytes) return out;
    std::string_view rest = id;
    const std::string_view bus = next_field(rest, "\\");
    const bool ftdi_bus = equal_folded(bus, "FTDIBUS");
    if (!ftdi_bus && !equal_folded(bus, "USB")) return out;
    // The device part: VID_xxxx&PID_xxxx[&MI_xx] on USB, VID_xxxx+PID_xxxx+SERIAL
    // or COMPORT&VID_xxxx&PID_xxxx on FTDI's bus.
    std::string_view device = next_field(rest, "\\");
    std::optional<int> vid, pid;
    std::string_view ftdi_serial;
    for (int field = 0; !device.empty() && field < 8; ++field) {
        const std::string_view part = next_field(device, "&+");
        if (const auto v = hex_field(part, "VID")) vid = v;
        else if (const auto p = hex_field(part, "PID")) pid = p;
        else if (ftdi_bus && vid && pid) ftdi_serial = part;
    }
    if (!vid || !pid) return out;
    out.vid = vid;
    out.pid = pid;
    out.ftdi = ftdi_bus || *vid == kFtdiVendor;
    // On USB the instance part is the serial number, unless Windows made one
    // up for a device without one ("6&2b6d7e8&0&2": it holds '&').
    const std::string_view instance = ftdi_bus ? ftdi_serial : rest;
    if (plausible_serial(instance)) out.serial = std::string(instance);
    return out;
}

}  // namespace tovctl
