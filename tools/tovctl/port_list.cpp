// The ports subcommand: this PC's serial ports and their COM numbers.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "adapter_facts.h"
#include "command.h"
#include "families.h"
#include "port_assign.h"
#include "ports.h"
#include "ports_file.h"

namespace tovctl {
namespace {

Json optional_number(const std::optional<int>& v) { return v ? Json(*v) : Json(nullptr); }

// The kind of port in words; the JSON keeps the short name.
std::string kind_of(const std::string& transport) {
    if (transport == "usb") return "USB serial adapter";
    if (transport == "native") return "built-in serial port";
    if (transport == "bluetooth") return "Bluetooth serial port";
    return "serial port of unknown kind";
}

constexpr const char* kLegend =
    "Serial ports of this PC: device, COM number (what --port N and Pelorim's list take), kind, details.\n";
constexpr const char* kNoNumber =
    "A port without a COM number is used by its device path, or given one with: tovctl ports --assign N DEVICE\n";

int run_ports(Context& ctx) {
    const std::vector<PortInfo> ports = list_ports();
    Json list = Json::array();
    std::string human;
    const std::string tree = device_tree_root();
    for (const PortInfo& p : ports) {
        const AdapterFacts facts = adapter_facts(p.path, tree);
        list.push_back(Json{{"path", utf8(p.path)},
                            {"com", optional_number(p.com)},
                            {"transport", utf8(p.transport)},
                            {"description", utf8(p.description)},
                            {"usb_vid", optional_number(p.usb_vid)},
                            {"usb_pid", optional_number(p.usb_pid)},
                            {"manufacturer", utf8(p.manufacturer)},
                            {"product", utf8(p.product)},
                            {"serial", utf8(p.serial)},
                            {"by_id", utf8(p.by_id)},
                            {"driver", facts.driver.empty() ? Json(nullptr) : Json(utf8(facts.driver))},
                            {"latency_timer_ms", optional_number(facts.latency_timer_ms)},
                            {"hint", facts.hint.empty() ? Json(nullptr) : Json(utf8(facts.hint))}});
        human += printable(p.path) + "  " + (p.com ? "COM " + std::to_string(*p.com) : std::string("no COM number")) +
                 "  " + kind_of(p.transport);
        if (!p.description.empty()) human += "  \"" + printable(p.description) + "\"";
        if (p.usb_vid && p.usb_pid) {
            char ids[48];
            std::snprintf(ids, sizeof ids, "  USB vendor:product %04x:%04x", *p.usb_vid, *p.usb_pid);
            human += ids;
        }
        if (!p.manufacturer.empty()) human += "  made by " + printable(p.manufacturer);
        if (!p.product.empty()) human += "  product " + printable(p.product);
        if (!p.serial.empty()) human += "  serial number " + printable(p.serial);
        if (!facts.driver.empty()) human += "  driver \"" + printable(facts.driver) + "\"";
        if (facts.latency_timer_ms)
            human += "  USB latency timer " + std::to_string(*facts.latency_timer_ms) + " ms";
        if (!p.by_id.empty()) human += "\n    lasting name: " + printable(p.by_id);
        if (!facts.hint.empty()) human += "\n    hint: " + printable(facts.hint);
        human += "\n";
    }
    const bool any_unnumbered = std::any_of(ports.begin(), ports.end(), [](const PortInfo& p) { return !p.com; });
    human = ports.empty() ? std::string("No serial ports found.\n")
                          : kLegend + human + (any_unnumbered ? kNoNumber : "");

    // The per-user mapping, with the entries a UART_COM<N> variable overrides.
    const auto file = uart::ports_file::path();
    Json entries = Json::array();
    const auto mapping = uart::ports_file::read();
    if (!mapping.empty()) human += "COM mapping in " + printable(file.value_or("")) + ":\n";
    for (const auto& [com, device] : mapping) {
        const bool overridden = std::getenv(("UART_COM" + std::to_string(com)).c_str()) != nullptr;
        entries.push_back(Json{{"com", com}, {"device", utf8(device)}, {"overridden", overridden}});
        human += "  COM" + std::to_string(com) + "=" + printable(device) +
                 (overridden ? "  (UART_COM" + std::to_string(com) + " is set and wins)" : "") + "\n";
    }
    Json j = ok_object(ctx);
    j["ports"] = std::move(list);
    j["mapping_file"] = file ? Json(utf8(*file)) : Json(nullptr);
    j["mapping"] = std::move(entries);
    return success(ctx, j, human);
}

int run_assign(Context& ctx, int com, const std::string& device, bool force) {
    const std::string problem = device_problem(device);
    if (!problem.empty() && !force) {
        std::fprintf(stderr, "tovctl: the COM mapping was not written: %s: %s (give --force to store it anyway)\n",
                     printable(device).c_str(), problem.c_str());
        return 1;
    }
    if (const std::string why = assign_port(com, device); !why.empty()) {
        std::fprintf(stderr, "tovctl: the COM mapping was not written: %s\n", why.c_str());
        return 1;
    }
    // Read back: the mapping counts only once the serial layer would take it.
    const auto mapping = uart::ports_file::read();
    if (const auto it = mapping.find(com); it == mapping.end() || it->second != device) {
        std::fprintf(stderr, "tovctl: the COM mapping was written but does not read back as COM%d=%s\n", com,
                     printable(device).c_str());
        return 1;
    }
    const std::string file = uart::ports_file::path().value_or("");
    std::string human = "COM" + std::to_string(com) + "=" + printable(device) + " saved in " + printable(file) + "\n";
    const std::string variable = "UART_COM" + std::to_string(com);
    const bool overridden = std::getenv(variable.c_str()) != nullptr;
    if (!problem.empty())
        std::fprintf(stderr, "tovctl: warning: %s: %s; stored because of --force\n", printable(device).c_str(),
                     problem.c_str());
    if (overridden) human += "note: " + variable + " is set in this environment and wins over the file\n";
    Json j = ok_object(ctx);
    j["com"] = com;
    j["device"] = utf8(device);
    j["mapping_file"] = utf8(file);
    j["overridden"] = overridden;
    return success(ctx, j, human);
}

// --assign takes its two values as "N DEVICE"; the help shows them so,
// without CLI11's value count after them.
class AssignFormatter : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option* opt) const override {
        if (opt->get_name() == "--assign") return " " + opt->get_type_name();
        return CLI::Formatter::make_option_opts(opt);
    }
};

}  // namespace

void add_port_list(CLI::App& app, Commands& commands) {
    auto* sub = app.add_subcommand("ports", "list this PC's serial ports and their COM numbers");
    auto assign = std::make_shared<std::vector<std::string>>();
    sub->add_option("--assign", *assign,
                    "map COM N to DEVICE (such as " + device_naming().example + ") in the per-user mapping file (" +
                        device_naming().mapping_file + "), read when UART_COM<N> is not set")
        ->expected(2)
        ->type_name("N DEVICE");
    auto force = std::make_shared<bool>(false);
    sub->add_flag("--force", *force,
                  "with --assign: store DEVICE even when it does not exist yet or is not a terminal");
    sub->formatter(std::make_shared<AssignFormatter>());
    auto com = std::make_shared<int>(0);
    auto check = [assign, com] {
        if (assign->empty()) return;
        const auto n = parse_integer((*assign)[0], 1, 255);
        if (!n) throw UsageError("--assign: the COM number must be 1..255, not " + (*assign)[0]);
        std::string& device = (*assign)[1];
        if (has_control_bytes(device))
            throw UsageError("--assign: the device path holds a control character: " + printable(device));
        std::string why;
        const auto stored = assignable_device(device, why);
        if (!stored) throw UsageError("--assign: " + why);
        device = *stored;
        *com = static_cast<int>(*n);
    };
    commands.push_back({sub, PortUse::None, check, [assign, com, force](Context& ctx) {
                            return assign->empty() ? run_ports(ctx) : run_assign(ctx, *com, (*assign)[1], *force);
                        }});
}

}  // namespace tovctl
