// wait, repair-firmware and repair-os on one port: the engine driven with a
// printing front end, the library's UI put in tovctl's hands, and a record of
// every repair.
#include "repair.h"

#include "console.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "direct_console.h"
#include "families.h"
#include "reporter.h"
#include "tq318/repair/engine.h"
#include "tq318/repair/prompt_check.h"
#include "tq318/repair/session.h"
#include "uart.h"

namespace tovctl {
namespace {

namespace repair = tq318::repair;
using SystemClock = std::chrono::system_clock;

constexpr const char* kConsolePassword = "quorvelstand83";
// The prompt follows the banner after the controller's last boot step.
constexpr std::chrono::seconds kPromptAfterBanner{10};
// How long the probe before a repair's first command waits for the prompt.
constexpr std::chrono::milliseconds kProbeLimit{1500};

std::string bare_name(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// A front end that shows nothing: the package check and the wait.
class QuietFrontEnd final : public repair::FrontEnd {
public:
    void message(std::string_view text) override { messages.emplace_back(text); }
    void pause(std::chrono::milliseconds) override {}
    bool ended() const override { return stop_requested(); }
    std::vector<std::string> messages;
};

repair::FirmwareRequest firmware_request(const RepairArgs& args, std::uint8_t port, const std::string& mode_code) {
    repair::FirmwareRequest request;
    request.port = port;
    request.packagePath = args.file;
    request.packageBareName = bare_name(args.file);
    request.modeCode = mode_code;
    if (!args.disk.empty()) request.disk = *parse_disk(args.disk);
    return request;
}

std::string hex_of(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
    return out;
}

std::optional<std::string> bytes_of(const std::string& hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const auto digit = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
        const int hi = digit(hex[i]), lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

// A child's package: the parent's checked work folder, verified by hash.
repair::CheckedPackage adopt_checked(const RepairArgs& args) {
    constexpr std::uintmax_t kManifestLimit = 16 << 20;
    std::error_code ec;
    repair::CheckedPackage refused;
    refused.path = args.file;
    refused.messages = {"HEX file Error !!"};
    refused.refusal = "the parent's check of the package could not be read";
    if (std::filesystem::file_size(args.checked, ec) > kManifestLimit || ec) return refused;
    std::ifstream in(args.checked, std::ios::binary);
    const Json j = Json::parse(in, nullptr, false);
    if (!j.is_object() || !j.contains("members") || !j["members"].is_array()) return refused;
    std::vector<repair::MemberRecord> expected;
    for (const auto& m : j["members"]) {
        const auto name = bytes_of(m.value("name", std::string()));
        if (!name || !m.contains("size") || !m["size"].is_number_unsigned()) return refused;
        expected.push_back({*name, m["size"].get<std::uint64_t>(), m.value("sha256", std::string()), false, {}});
    }
    const auto folder = bytes_of(j.value("folder", std::string()));
    if (!folder) return refused;
    return repair::adoptCheckedPackage(firmware_request(args, 0, ""), *folder, j.value("sha256", std::string()),
                                       expected);
}

const char* result_name(repair::Outcome::Result r) {
    switch (r) {
        case repair::Outcome::Result::Verified: return "verified";
        case repair::Outcome::Result::Unproven: return "unproven";
        case repair::Outcome::Result::Abandoned: return "abandoned";
        default: return "failed";
    }
}

// The disk the request names: --disk, else the banner's mode code; 0 without either.
char asked_disk(const RepairArgs& args, const repair::Detection& d) {
    if (!args.disk.empty()) return *parse_disk(args.disk);
    if (d.found) return d.modeCode == "MS" ? 'a' : 'b';
    return 0;
}

Json optional_code(const std::optional<uint16_t>& code) { return code ? Json(*code) : Json(nullptr); }

Json strings(const std::vector<std::string>& list) {
    Json out = Json::array();
    for (const auto& s : list) out.push_back(utf8(s));
    return out;
}

Json result_json(const RepairArgs& args, const repair::Outcome& o, int status, const repair::Detection& d) {
    Json members = Json::array();
    for (const auto& m : o.members) {
        members.push_back(Json{{"name", utf8(m.name)},
                               {"size", m.size},
                               {"sha256", m.sha256},
                               {"sent", m.sent},
                               {"load_code", optional_code(m.loadCode)}});
    }
    Json j{{"event", event_name(repair::EventKind::Result)},
           {"command", args.command()},
           {"ok", o.succeeded()},
           {"result", result_name(o.result)},
           {"exit", status},
           {"path", utf8(o.path)},
           {"sha256", o.sha256},
           {"device_touched", o.deviceTouched}};
    if (d.found) {
        j["banner"] = utf8(d.banner);
        j["mode_code"] = utf8(d.modeCode);
    }
    if (args.firmware) {
        const char disk = o.disk != 0 ? o.disk : asked_disk(args, d);
        j["disk"] = disk == 0 ? Json(nullptr) : Json(std::string(1, disk));
        j["load_mode"] = o.loadMode;
        j["members"] = std::move(members);
        j["verification"] = Json{{"attempted", o.verification.attempted},
                                 {"passed", o.verification.passed},
                                 {"listing_code", optional_code(o.verification.listingCode)},
                                 {"lines", strings(o.verification.lines)}};
    } else {
        j["update_code"] = optional_code(o.updateCode);
        j["image_crc"] = o.imageCrc;
        j["running_after_restart"] = utf8(o.runningAfterRestart);
        j["unproven"] = utf8(o.unproven);
        j["reason"] = utf8(o.reason);
    }
    j["messages"] = strings(o.messages);
    j["failure"] = utf8(o.failureText);
    if (!o.disks.empty()) j["disks"] = utf8(o.disks);
    return j;
}

Style style_for(const Options& options) {
    if (options.json) return Style::Json;
    return stdout_is_terminal() ? Style::Terminal : Style::Lines;
}

// The session of one port; the record's start is `started`.
repair::SessionRequest session_for(const RepairArgs& args, std::uint8_t port, const std::string& mode_code,
                                   SystemClock::time_point started) {
    repair::SessionRequest session;
    session.frontEnd = "tovctl";
    session.firmware = args.firmware;
    session.firmwareRequest = firmware_request(args, port, mode_code);
    session.osRequest = {port, args.file, kConsolePassword};  // asked again after the restart
    session.started = started;
    return session;
}

int repair_one(const Options& options, const RepairArgs& args, const repair::CheckedPackage& checked) {
    const auto started = SystemClock::now();
    std::string error;
    const auto port = resolve_port(options.ports.front(), error);
    if (!port) {
        std::fprintf(stderr, "tovctl: %s\n", error.c_str());
        repair::recordRefusal(session_for(args, 0, "", started), checked,
                              "the port " + options.ports.front() + " names no serial port: " + error);
        return kExitUsage;
    }
    if (!options.trace.empty()) set_variable("UART_TRACE", options.trace);
    if (const int status = open_port(options.ports.front(), *port); status != kExitOk) {
        repair::recordRefusal(session_for(args, *port, "", started), checked,
                              "the port " + options.ports.front() + " could not be opened");
        return status;
    }
    struct Closer {
        std::uint8_t port;
        ~Closer() { Close_Com(port); }
    } closer{*port};

    Reporter reporter(style_for(options));
    reporter.set_total_bytes(checked.bytesToSend);
    std::optional<bool> answer;
    if (!args.on_full_disk.empty()) answer = args.on_full_disk == "yes";
    const bool may_ask = reporter.style() == Style::Terminal && stdin_is_terminal();
    LibraryUi ui(reporter, answer, may_ask);
    tovrane::ui::set_active_ui(&ui);
    struct UiReset {
        ~UiReset() { tovrane::ui::set_active_ui(nullptr); }
    } ui_reset;

    EngineFrontEnd fe(reporter);
    DirectConsole console;
    repair::Detection detection;
    if (args.wait) {
        reporter.show(repair::statusEvent(repair::Step::Other,
                                          "Set the switch's DIP switch to repair mode and restart its power; "
                                          "waiting for the controller (up to " +
                                              std::to_string(args.wait_timeout) + " s)..."));
        detection = repair::detect({*port, kConsolePassword, std::chrono::seconds(args.wait_timeout)}, fe, console);
        if (!detection.found) {
            if (stop_requested()) {
                std::fprintf(stderr, "tovctl %s: stopped while waiting for the power restart\n",
                             args.command().c_str());
            } else if (detection.disconnected) {
                std::fprintf(stderr, "tovctl %s: %s\n", args.command().c_str(), repair::kAdapterDisconnectedText);
            } else {
                std::fprintf(stderr, "tovctl %s: no power restart seen within %u s\n", args.command().c_str(),
                             args.wait_timeout);
            }
            const int status = stop_requested() ? stop_exit_status() : kExitFailed;
            if (options.json)
                print_json(Json{{"event", event_name(repair::EventKind::Result)},
                                {"command", args.command()},
                                {"ok", false},
                                {"result", stop_requested() ? "abandoned" : "failed"}, {"exit", status},
                                {"failure", stop_requested()              ? "stopped by " + stop_signal_name()
                                            : detection.disconnected ? std::string(repair::kAdapterDisconnectedText)
                                                                     : std::string("no power restart seen")}});
            return status;
        }
        if (!repair::awaitPrompt(*port, console, detection.received, kPromptAfterBanner)) {
            std::fprintf(stderr, "tovctl %s: the banner came but no prompt followed it within %lld s\n",
                         args.command().c_str(), static_cast<long long>(kPromptAfterBanner.count()));
        }
    }
    // The session probes the prompt first, runs the repair, notes a stop and
    // writes the record.
    repair::SessionRequest session = session_for(args, *port, detection.modeCode, started);
    if (detection.found) session.banner = detection.banner;
    session.probe = kProbeLimit;
    session.stopCause = [] { return stop_requested() ? "stopped by " + stop_signal_name() : std::string(); };
    session.afterRepair = [] { Uart_Stop_Next_Send(0); };  // a stop request no block took is withdrawn
    const repair::SessionResult r = repair::runSession(session, checked, fe, console);
    if (r.end == repair::SessionResult::End::StoppedBeforeStart) {
        std::fprintf(stderr, "tovctl %s: stopped by %s before the repair began\n", args.command().c_str(),
                     stop_signal_name().c_str());
        return stop_exit_status();
    }
    const repair::Outcome& o = r.outcome;
    if (r.end == repair::SessionResult::End::Unready) {
        std::fprintf(stderr, "tovctl %s: %s\n", args.command().c_str(), r.problem.c_str());
        reporter.result(result_json(args, o, kExitFailed, detection));
        return kExitFailed;
    }
    if (!o.succeeded() && !o.failureText.empty()) fe.event(repair::messageEvent(o.failureText));
    const int status = stop_requested() ? stop_exit_status()
                       : o.succeeded()  ? kExitOk
                       : o.result == repair::Outcome::Result::Unproven ? kExitUnproven
                       : (!o.deviceTouched && o.result == repair::Outcome::Result::Failed) ? kExitRefused
                                                                                           : kExitFailed;
    reporter.result(result_json(args, o, status, detection));
    return status;
}

int run_wait(Context& ctx, unsigned timeout) {
    stop_on_signals();
    QuietFrontEnd fe;
    DirectConsole console;
    // What to do goes to standard error, the mode code and its meaning to standard output.
    std::fprintf(stderr, "tovctl wait: set the switch's DIP switch to repair mode and restart its power "
                         "(waiting up to %u s for the controller)\n", timeout);
    const repair::Detection d = repair::detect({ctx.port, kConsolePassword, std::chrono::seconds(timeout)}, fe, console);
    if (!d.found) {
        if (stop_requested()) {
            std::fputs("tovctl wait: stopped\n", stderr);
        } else if (d.disconnected) {
            std::fprintf(stderr, "tovctl wait: %s\n", repair::kAdapterDisconnectedText);
        } else {
            std::fprintf(stderr, "tovctl wait: no power restart seen within %u s\n", timeout);
        }
        if (ctx.options.json)
            print_json(Json{{"command", "wait"}, {"ok", false},
                            {"error", stop_requested() ? "stopped" : d.disconnected ? "disconnected" : "time-out"}});
        return stop_requested() ? stop_exit_status() : kExitFailed;
    }
    // The banner is not the end of the restart: a command sent before the
    // prompt that follows it is not heard.
    if (!repair::awaitPrompt(ctx.port, console, d.received, kPromptAfterBanner)) {
        std::fprintf(stderr, "tovctl wait: the banner came but no prompt followed it within %lld s\n",
                     static_cast<long long>(kPromptAfterBanner.count()));
        if (ctx.options.json) print_json(Json{{"command", "wait"}, {"ok", false}, {"error", "no prompt after the banner"}});
        return kExitFailed;
    }
    Json j = ok_object(ctx);
    j["mode_code"] = utf8(d.modeCode);
    j["banner"] = utf8(d.banner);
    return success(ctx, j, utf8(d.modeCode) + " (mode code; loads to disk " + (d.modeCode == "MS" ? "A" : "B") + ")\n");
}

CLI::Validator yes_no() {
    return CLI::Validator(
        [](std::string& v) { return v == "yes" || v == "no" ? std::string() : "answer yes or no: " + v; }, "");
}

void add_repair(CLI::App& app, Commands& commands, const Options& options, bool firmware) {
    auto args = std::make_shared<RepairArgs>();
    args->firmware = firmware;
    CLI::App* sub = nullptr;
    if (firmware) {
        sub = app.add_subcommand("repair-firmware",
                                 "the wizard's firmware repair: check and authenticate PACKAGE, empty both disks,\n"
                                 "download every member, verify the listing, restart the controller");
        sub->add_option("PACKAGE", args->file, "the firmware package (.hex)")->required();
        sub->add_option("--disk", args->disk,
                        "the disk to load to; with --wait the banner's mode code picks it (MS: a, else b)\n"
                        "unless this overrides it. When the free-space probe fails the controller\n"
                        "picks the disk itself, as in the wizard.")
            ->type_name("a|b")
            ->check(disk_letter());
        sub->add_option("--on-full-disk", args->on_full_disk,
                        "the answer to the library's \"Delete all files!!\" question when a disk is full;\n"
                        "asked on a terminal, else no")
            ->type_name("yes|no")
            ->check(yes_no());
    } else {
        sub = app.add_subcommand("repair-os", "the wizard's operating-system repair: send IMAGE, install it, restart");
        sub->add_option("IMAGE", args->file, "the operating-system image")->required();
    }
    if (firmware) {
        // Given by a several-port repair to its children; not for users.
        sub->add_option("--checked", args->checked, "the parent's check of the package")->group("");
    }
    sub->add_flag("--from-parent", args->child, "run as a several-port repair's child")->group("");
    sub->add_flag("--wait", args->wait, "first wait for the controller's power restart and read its banner");
    sub->add_option("--wait-timeout", args->wait_timeout, "how long --wait waits (default 300)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1, 86400));
    sub->footer("Several --port options repair that many controllers at once, one process each.\n"
                "Exit status: 0 verified, 1 repair failed, 2 usage error, 3 port not opened,\n"
                "4 refused before the device was touched, 5 (repair-os) installed and running after\n"
                "the restart but not verified: the controller reported no CRC16 for the image,\n"
                "so its content was not compared, 128+N stopped by signal N (130 Ctrl-C,\n"
                "143 SIGTERM, 129 SIGHUP): the repair stops before its next console line or block,\n"
                "the controller is brought back to its prompt, the record says \"abandoned\";\n"
                "a second signal does not cut that short.");
    auto check = [args] {
        if (args->firmware && !args->wait && args->disk.empty())
            throw UsageError("--disk is required without --wait: the mode code that picks the disk comes only "
                             "with the banner at a power restart");
    };
    auto run = [args, &options](Context&) {
        stop_on_signals(!args->child);
        const PrivateTemp temp;  // every work folder lands in it, and goes with it
        const repair::CheckedPackage checked = check_package(*args);
        if (stop_requested()) return stop_exit_status();  // nothing was sent
        if (!checked.accepted()) return report_refused(options, *args, checked);
        if (options.ports.size() > 1) return repair_many(options, *args, checked);
        return repair_one(options, *args, checked);
    };
    commands.push_back({sub, PortUse::Several, check, run});
}

}  // namespace

std::vector<std::string> RepairArgs::child_args() const {
    std::vector<std::string> out{command(), file};
    if (wait) out.insert(out.end(), {"--wait", "--wait-timeout", std::to_string(wait_timeout)});
    if (!disk.empty()) out.insert(out.end(), {"--disk", disk});
    if (firmware) out.insert(out.end(), {"--on-full-disk", on_full_disk.empty() ? "no" : on_full_disk});
    if (!checked.empty()) out.insert(out.end(), {"--checked", checked});
    out.push_back("--from-parent");
    return out;
}

repair::CheckedPackage check_package(const RepairArgs& args) {
    if (!args.firmware) return repair::checkImage({0, args.file, {}});
    if (!args.checked.empty()) return adopt_checked(args);
    return repair::checkPackage(firmware_request(args, 0, ""));
}

std::string write_check_manifest(const repair::CheckedPackage& checked) {
    if (checked.folder.empty()) return {};
    Json members = Json::array();
    for (const auto& m : checked.members)
        members.push_back(Json{{"name", hex_of(m.name)}, {"size", m.size}, {"sha256", m.sha256}});
    const Json j{{"folder", hex_of(checked.folder.string())}, {"sha256", checked.sha256}, {"members", members}};
    // Beside the work folder, in the same private temporary folder.
    std::filesystem::path path = checked.folder;
    path += ".checked";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << j.dump() << "\n";
    out.close();
    return out ? path.string() : std::string();
}

int report_refused(const Options& options, const RepairArgs& args, const repair::CheckedPackage& check) {
    // A refused run is recorded as every other, once for every port it named.
    const auto started = SystemClock::now();
    for (const auto& port_text : options.ports) {
        std::string unused;
        repair::recordRefusal(session_for(args, resolve_port(port_text, unused).value_or(0), "", started), check);
    }
    std::string why;
    for (const auto& m : check.messages) why += (why.empty() ? "" : "; ") + one_line(m);
    std::fprintf(stderr, "tovctl %s: %s refused before the device was touched: %s\n", args.command().c_str(),
                 args.file.c_str(), why.c_str());
    // Why, on the line after the message.
    if (!check.refusal.empty()) std::fprintf(stderr, "  %s\n", utf8(check.refusal).c_str());
    if (options.json)
        print_json(Json{{"event", event_name(repair::EventKind::Result)}, {"command", args.command()}, {"ok", false},
                        {"result", "refused"},
                        {"exit", kExitRefused}, {"path", utf8(args.file)}, {"device_touched", false},
                        {"messages", strings(check.messages)}, {"reason", utf8(check.refusal)}});
    return kExitRefused;
}

void add_repairs(CLI::App& app, Commands& commands, Options& options) {
    {
        auto* sub = app.add_subcommand("wait",
                                       "wait for the controller's power restart (log in at \"password:\", read the\n"
                                       "banner) and print the mode code; exit 1 at the time-out");
        auto timeout = std::make_shared<unsigned>(300);
        sub->add_option("--timeout", *timeout, "seconds (default 300)")->type_name("SECONDS")->check(CLI::Range(1, 86400));
        commands.push_back({sub, PortUse::One, nullptr, [timeout](Context& ctx) { return run_wait(ctx, *timeout); }});
    }
    add_repair(app, commands, options, true);
    add_repair(app, commands, options, false);
}

}  // namespace tovctl
