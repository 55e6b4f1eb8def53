#include "ports.h"

#include "port_map.h"
#include "ports_file.h"

#include <libserialport.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>

namespace tovctl {

namespace {

namespace fs = std::filesystem;

std::string text_or_empty(const char* s) { return s != nullptr ? s : ""; }

std::string canonical_or_same(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::canonical(path, ec);
    return ec ? path : p.string();
}

struct PortListDeleter {
    void operator()(sp_port** list) const { sp_free_port_list(list); }
};

}  // namespace

std::optional<int> com_number_for(const std::string& path) {
    const std::string device = canonical_or_same(path);
    const auto mapping = uart::ports_file::read();
    for (int n = 1; n <= 255; ++n) {
        const auto mapped = uart::device_path_for(static_cast<std::uint8_t>(n), mapping);
        if (mapped && !mapped->empty() && canonical_or_same(*mapped) == device) return n;
    }
    return std::nullopt;
}

std::vector<PortInfo> list_ports() {
    std::vector<PortInfo> out;
    sp_port** raw = nullptr;
    if (sp_list_ports(&raw) != SP_OK) raw = nullptr;
    const std::unique_ptr<sp_port*, PortListDeleter> list(raw);
    for (sp_port** p = raw; p != nullptr && *p != nullptr; ++p) {
        PortInfo info;
        info.path = text_or_empty(sp_get_port_name(*p));
        info.description = text_or_empty(sp_get_port_description(*p));
        switch (sp_get_port_transport(*p)) {
            case SP_TRANSPORT_USB: {
                info.transport = "usb";
                int vid = 0, pid = 0;
                if (sp_get_port_usb_vid_pid(*p, &vid, &pid) == SP_OK) {
                    info.usb_vid = vid;
                    info.usb_pid = pid;
                }
                info.manufacturer = text_or_empty(sp_get_port_usb_manufacturer(*p));
                info.product = text_or_empty(sp_get_port_usb_product(*p));
                info.serial = text_or_empty(sp_get_port_usb_serial(*p));
                break;
            }
            case SP_TRANSPORT_BLUETOOTH: info.transport = "bluetooth"; break;
            default: info.transport = "native"; break;
        }
        info.by_id = uart::serial_by_id_name(info.path);
        info.com = com_number_for(info.path);
        out.push_back(std::move(info));
    }
    // Devices that only a UART_COM<N> variable names (a pseudo-terminal, say)
    // are ports of this program too.
    for (int n = 1; n <= 255; ++n) {
        const std::string var = "UART_COM" + std::to_string(n);
        const char* value = std::getenv(var.c_str());
        if (value == nullptr || *value == '\0') continue;
        const std::string device = canonical_or_same(value);
        bool listed = false;
        for (const PortInfo& known : out) listed = listed || canonical_or_same(known.path) == device;
        if (listed) continue;
        PortInfo info;
        info.path = value;
        info.description = "named by " + var;
        info.transport = "other";
        info.com = n;
        out.push_back(std::move(info));
    }
    return out;
}

}  // namespace tovctl
