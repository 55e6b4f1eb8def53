// The ports subcommand: this PC's serial ports and their COM numbers.
#include <cstdio>

#include "cli.h"
#include "ports.h"

namespace tovctl {
namespace {

Json optional_number(const std::optional<int>& v) { return v ? Json(*v) : Json(nullptr); }

int run_ports(Context& ctx) {
    const std::vector<PortInfo> ports = list_ports();
    Json list = Json::array();
    std::string human;
    for (const PortInfo& p : ports) {
        list.push_back(Json{{"path", utf8(p.path)},
                            {"com", optional_number(p.com)},
                            {"transport", utf8(p.transport)},
                            {"description", utf8(p.description)},
                            {"usb_vid", optional_number(p.usb_vid)},
                            {"usb_pid", optional_number(p.usb_pid)},
                            {"manufacturer", utf8(p.manufacturer)},
                            {"product", utf8(p.product)},
                            {"serial", utf8(p.serial)},
                            {"by_id", utf8(p.by_id)}});
        human += p.path + "  " + (p.com ? "COM " + std::to_string(*p.com) : std::string("(no COM number)")) + "  " +
                 p.transport;
        if (!p.description.empty()) human += "  " + p.description;
        if (p.usb_vid && p.usb_pid) {
            char ids[32];
            std::snprintf(ids, sizeof ids, "  USB %04x:%04x", *p.usb_vid, *p.usb_pid);
            human += ids;
        }
        if (!p.manufacturer.empty()) human += "  " + p.manufacturer;
        if (!p.product.empty()) human += "  " + p.product;
        if (!p.serial.empty()) human += "  serial " + p.serial;
        if (!p.by_id.empty()) human += "\n    " + p.by_id;
        human += "\n";
    }
    Json j = ok_object(ctx);
    j["ports"] = std::move(list);
    if (ports.empty()) human = "No serial ports found.\n";
    return success(ctx, j, human);
}

}  // namespace

void add_port_list(CLI::App& app, Commands& commands) {
    auto* sub = app.add_subcommand("ports", "list this PC's serial ports and their COM numbers");
    commands.push_back({sub, PortUse::None, nullptr, run_ports});
}

}  // namespace tovctl
