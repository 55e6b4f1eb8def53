// The command line: global options, the subcommand table, checks before the
// port is opened, and the dispatch. A bad argument sends nothing to the device.
#include "cli.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command.h"
#include "console.h"
#include "families.h"
#include "port_assign.h"
#include "port_naming.h"
#include "uart.h"

#ifndef TQ318_KIT_VERSION
#error "TQ318_KIT_VERSION must be defined by the build"
#endif

namespace tovctl {

namespace {

// Closes the port when the subcommand is done, however it ends.
class PortSession {
public:
    explicit PortSession(std::uint8_t port) : port_(port) {}
    ~PortSession() { Close_Com(port_); }
    PortSession(const PortSession&) = delete;
    PortSession& operator=(const PortSession&) = delete;

private:
    std::uint8_t port_;
};

// Empty when `file` can be appended to (it is created if need be), else why not.
std::string trace_unwritable(const std::string& file) {
    std::FILE* f = std::fopen(file.c_str(), "a");
    if (f == nullptr) return std::strerror(errno);
    std::fclose(f);
    return {};
}

// One line saying what is wrong, one saying where the help is.
int usage_error(const std::string& message, const CLI::App& shown) {
    const std::string text = one_line(message);
    const std::string help = shown.get_parent() != nullptr ? "tovctl " + shown.get_name() + " --help" : "tovctl --help";
    std::fprintf(stderr, "tovctl: %s\nsee '%s'\n", text.c_str(), help.c_str());
    return kExitUsage;
}

}  // namespace

int run(int argc, char** argv) {
    CLI::App app("Drives a TQ-318 controller's console through the Tovrane library.", "tovctl");
    app.fallthrough();  // global options also after the subcommand
    // "/tmp/x.hex" is a path, not an option "/tmp" (CLI11's default on Windows;
    // subcommands take it over from here).
    app.allow_windows_style_options(false);
    app.require_subcommand(1);
    app.set_version_flag("--version", "tovctl " TQ318_KIT_VERSION);
    Options options;
    app.add_option("--port", options.ports,
                   "a COM number (7 or COM7; UART_COM<N> names its device, else the mapping file, else " +
                       device_naming().default_device + ")\nor a device path such as " + device_naming().example +
                       "; repeat it to repair several controllers at once")
        ->type_name("PORT");
    app.add_flag("--json", options.json, "print results as JSON (repairs: one object per event)");
    app.add_option("--trace", options.trace, "record a timestamped transcript of the line in FILE")
        ->type_name("FILE");
    app.footer("'tovctl SUBCOMMAND --help' describes one subcommand.\n"
               "Exit status: 0 success (a repair: verified), 1 device or library failure, 2 usage error,\n"
               "3 port not opened, 4 package or image refused before the device was touched.");

    Commands commands;
    add_queries(app, commands);
    add_transfers(app, commands);
    add_port_list(app, commands);
    add_repairs(app, commands, options);
    add_history(app, commands, options);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        const auto chosen = app.get_subcommands();
        if (chosen.empty()) {
            // The first word that is no option's value names the subcommand that was meant.
            for (int i = 1; i < argc; ++i) {
                const std::string_view a = argv[i];
                if (a == "--port" || a == "--trace") {
                    ++i;
                } else if (!a.starts_with("-")) {
                    return usage_error("unknown subcommand " + std::string(a), app);
                }
            }
        }
        return usage_error(e.what(), chosen.empty() ? app : *chosen.front());
    }
    const Command* command = nullptr;
    for (const auto& c : commands) {
        if (c.app->parsed()) command = &c;
    }
    if (command == nullptr) return usage_error("missing subcommand", app);
    try {
        if (command->check) command->check();
        if (command->port == PortUse::One && options.ports.size() > 1)
            throw UsageError(command->app->get_name() + " takes one --port");
        if (command->port != PortUse::None && options.ports.empty()) throw UsageError("--port is required");
        if (command->port == PortUse::Several) {
            // Every port is checked before anything runs; one controller takes one process.
            std::string error;
            if (!check_ports(options.ports, error)) throw UsageError(error);
        }
        if (!options.trace.empty()) {
            if (const std::string e = trace_unwritable(options.trace); !e.empty())
                throw UsageError("--trace " + options.trace + ": " + e);
        }
    } catch (const UsageError& e) {
        return usage_error(e.what(), *command->app);
    }
    // A transcript that was asked for and cannot be written must not be lost in silence.
    if (options.trace.empty()) {
        if (const char* t = std::getenv("UART_TRACE"); t != nullptr && *t != '\0') {
            if (const std::string e = trace_unwritable(t); !e.empty())
                std::fprintf(stderr, "tovctl: UART_TRACE=%s: %s; no trace is recorded\n", t, e.c_str());
        }
    }

    Context ctx{options, command->app->get_name()};
    // A repair opens its port(s) itself, after the package was checked.
    if (command->port != PortUse::One) return command->run(ctx);

    std::string error;
    const auto port = resolve_port(options.ports.front(), error);
    if (!port) return usage_error(error, *command->app);
    if (!options.trace.empty()) set_variable("UART_TRACE", options.trace);
    if (const int status = open_port(options.ports.front(), *port); status != kExitOk) return status;
    PortSession session(*port);
    ctx.port = *port;
    return command->run(ctx);
}

}  // namespace tovctl
