// The kit every subcommand family shares: the success and failure output,
// the argument parsers and the resolution and opening of a port.
#include "command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "console.h"
#include "port_assign.h"
#include "port_naming.h"
#include "ports_file.h"
#include "ports.h"
#include "tovrane.h"
#include "tq318/repair/outcome.h"
#include "uart.h"

namespace tovctl {

// The library's error text names no command as "(null)" (callers of the
// library read it so); a person is told "no command" instead.
std::string readable_error(std::string text) {
    static constexpr std::string_view kUnnamed = "(null) Error!";
    if (text.starts_with(kUnnamed)) text.replace(0, kUnnamed.size(), "Error! (no command)");
    return text;
}

namespace {
// Whether the port's line has hung up: the serial adapter was pulled out or
// the far end went away. The flag reads nothing and waits for nothing.
bool line_hung_up(std::uint8_t port) {
    if (port == 0) return false;
    char unused[UART_TEXT_CAPACITY];
    std::uint16_t scratch = 0;
    return Receive_Cmd(port, unused, 0, UART_FLAG_LINE_STATE, &scratch) == UART_ERR_HANGUP;
}
}  // namespace

int device_failure(Context& ctx, unsigned code) {
    if (code == UART_ERR_HANGUP || line_hung_up(ctx.port)) {
        // Whatever the library's code, the cause is the line: say so, not the code's meaning.
        std::fprintf(stderr, "tovctl %s: %s (failed with code %u)\n", ctx.name.c_str(),
                     tq318::repair::kAdapterDisconnectedText, code);
        if (ctx.options.json) {
            print_json(Json{{"command", ctx.name},
                            {"ok", false},
                            {"code", code},
                            {"meaning", std::string(code_meaning(UART_ERR_HANGUP))},
                            {"disconnected", true},
                            {"error", tq318::repair::kAdapterDisconnectedText}});
        }
        return kExitFailed;
    }
    const std::string text = readable_error(one_line(std::string_view(ctx.r(), strnlen(ctx.r(), kReplySize))));
    const std::string_view meaning = code_meaning(code);
    std::fprintf(stderr, "tovctl %s: failed with code %u (%.*s): %s\n", ctx.name.c_str(), code,
                 static_cast<int>(meaning.size()), meaning.data(), text.c_str());
    if (ctx.options.json) {
        print_json(Json{{"command", ctx.name},
                        {"ok", false},
                        {"code", code},
                        {"meaning", std::string(meaning)},
                        {"error", utf8(text)}});
    }
    return kExitFailed;
}

int success(Context& ctx, const Json& j, const std::string& human) {
    if (ctx.options.json) {
        print_json(j);
    } else {
        std::fputs(human.c_str(), stdout);
    }
    return kExitOk;
}

Json ok_object(const Context& ctx) { return Json{{"command", ctx.name}, {"ok", true}}; }

std::string reply_line(Context& ctx) {
    std::string_view text(ctx.r(), strnlen(ctx.r(), kReplySize));
    if (!text.empty() && text.back() == '>') {
        const auto line_end = text.find_last_of("\r\n");
        text = line_end == std::string_view::npos ? std::string_view{} : text.substr(0, line_end);
    }
    return one_line(text);
}

std::optional<long long> parse_integer(std::string_view text, long long min, long long max) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::size_t i = 0;
    const bool negative = text[0] == '-';
    if (negative) i = 1;
    if (i >= text.size()) return std::nullopt;
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    if (negative) value = -value;
    if (value < min || value > max) return std::nullopt;
    return value;
}

bool is_ipv4(std::string_view text) {
    int parts = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part = text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
        if (part.empty() || part.size() > 3 || part[0] == '-' || !parse_integer(part, 0, 255)) return false;
        ++parts;
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return parts == 4;
}

std::optional<char> parse_disk(std::string_view text) {
    if (text == "a" || text == "A") return 'a';
    if (text == "b" || text == "B") return 'b';
    return std::nullopt;
}

std::optional<std::int32_t> parse_parity(std::string_view text) {
    static constexpr std::string_view kLetters = "neoms";
    if (text.size() == 1) {
        const char c = static_cast<char>(text[0] | 0x20);
        if (const auto pos = kLetters.find(c); pos != std::string_view::npos) return static_cast<std::int32_t>(pos);
    }
    if (const auto n = parse_integer(text, 0, 4)) return static_cast<std::int32_t>(*n);
    return std::nullopt;
}

bool readable_file(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), R_OK) == 0;
}

CLI::Validator disk_letter() {
    return CLI::Validator(
        [](std::string& value) { return parse_disk(value) ? std::string() : "disk must be a or b: " + value; },
        "");
}

CLI::Validator whole_number(long long min, long long max, std::string what) {
    return CLI::Validator(
        [min, max, what](std::string& value) {
            return parse_integer(value, min, max) ? std::string() : "not " + what + ": " + value;
        },
        "");
}

std::optional<std::uint8_t> resolve_port(const std::string& port_text, std::string& error) {
    const auto named = name_port(port_text, error);
    if (!named) return std::nullopt;
    if (named->number) return named->number;
    const auto chosen = number_for_path(port_text);
    if (!chosen) {
        error = "every COM number is taken by a UART_COM<N> variable or the mapping file";
        return std::nullopt;
    }
    // Set in this process alone: a repair of several ports checks them with
    // check_ports, which changes nothing its children inherit.
    if (!chosen->variable_set) set_variable("UART_COM" + std::to_string(chosen->number), port_text);
    return chosen->number;
}

int open_port(const std::string& port_text, std::uint8_t port) {
    const std::uint16_t code = Open_Com(port, 115200, 8, 0, 0);
    if (code == 0) return kExitOk;
    char path[512] = "";
    Uart_Device_Path(port, path, sizeof path);
    std::string meaning(code_meaning(code));
    // A regular file or /dev/null takes no line settings because it is no
    // terminal at all: say so rather than blame the settings.
    if (code == UART_ERR_CONFIG || code == UART_ERR_OPEN_FAILED) {
        const std::string problem = device_problem(path);
        if (!problem.empty()) meaning = "not a serial device (" + problem + ")";
    }
    // A device path was given: the COM number it was lent is tovctl's own
    // business. A COM number names its device, or says that it has none.
    std::string where;
    if (port_text.find('/') == std::string::npos) {
        const std::string var = "UART_COM" + std::to_string(port);
        const char* value = std::getenv(var.c_str());
        const auto file = uart::ports_file::path();
        if (value != nullptr && *value == '\0') {
            where = " (COM " + std::to_string(port) + ", " + var + " is set but empty)";
        } else if (value == nullptr && file && !uart::ports_file::file_text(*file)) {
            where = " (COM " + std::to_string(port) + ", the mapping file " + printable(*file) +
                    " cannot be read: not a regular file, or no permission)";
        } else {
            where = " (COM " + std::to_string(port) + ", " + printable(path) + ")";
        }
    }
    std::fprintf(stderr, "tovctl: cannot open %s%s: %.*s (uart code %u)\n", port_text.c_str(), where.c_str(),
                 static_cast<int>(meaning.size()), meaning.data(), code);
    if (code == UART_ERR_PERMISSION) {
        std::fputs(device_naming().permission_hint.c_str(), stderr);
    } else if (code == UART_ERR_BUSY) {
        std::fputs("  The port is in use by another program (a terminal, the wizard, another tovctl). Close it first.\n",
                   stderr);
    } else if (code == UART_ERR_NO_DEVICE) {
        std::fputs("  No such device: is the adapter plugged in? 'tovctl ports' lists the serial ports.\n", stderr);
    }
    return kExitPort;
}

}  // namespace tovctl
