// The ports the system knows, as libserialport lists them.
#include <libserialport.h>

#include <memory>

#include "port_map.h"
#include "ports.h"

namespace tovctl {

namespace {

std::string text_or_empty(const char* s) { return s != nullptr ? s : ""; }

struct PortListDeleter {
    void operator()(sp_port** list) const { sp_free_port_list(list); }
};

}  // namespace

std::vector<PortInfo> system_ports() {
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
        out.push_back(std::move(info));
    }
    return out;
}

}  // namespace tovctl
