// tovctl: the command line over every export of the Tovrane library.
//
//   tovctl --port PORT [--json] [--trace FILE] SUBCOMMAND [ARGS]
//
// PORT is a COM number (7, COM7) or a device path; a path is given a free
// COM number in this process through UART_COM<N>. Arguments are checked
// before the port is opened, so a bad one sends nothing to the device.
// Exit status: 0 success, 1 the device or library reported a failure,
// 2 usage error, 3 the port could not be opened.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "json.h"
#include "ports.h"
#include "tovrane.h"
#include "uart.h"

namespace tovctl {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPort = 3;

constexpr std::uint32_t kBaud = 115200;
constexpr std::size_t kReplySize = TOV_DIR_REPLY_MIN;

struct Options {
    std::string port;
    std::string trace;
    bool json = false;
    bool help = false;
};

// What a subcommand handler works with.
struct Context {
    const Options& options;
    std::string_view name;  // the subcommand
    std::uint8_t port = 0;
    std::vector<char> reply = std::vector<char>(kReplySize, '\0');
    char* r() { return reply.data(); }
};

struct Subcommand {
    std::string_view name;
    std::string_view usage;    // arguments after the subcommand
    std::string_view summary;
    bool needs_port;
    // Checks the arguments before the port is opened; an error message or "".
    std::function<std::string(const std::vector<std::string>&)> check;
    std::function<int(Context&, const std::vector<std::string>&)> run;
};

// ---- Output ----

void print_out(const std::string& text) { std::fputs(text.c_str(), stdout); }

// One line of device text for a person: line ends and surrounding blanks removed.
std::string one_line(std::string_view text) {
    std::string out;
    for (char c : text) out += (c == '\r' || c == '\n' || c == '\t') ? ' ' : c;
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = out.find_last_not_of(' ');
    std::string trimmed = out.substr(first, last - first + 1);
    std::string squeezed;
    for (char c : trimmed) {
        if (c == ' ' && !squeezed.empty() && squeezed.back() == ' ') continue;
        squeezed += c;
    }
    return squeezed;
}

std::string_view code_meaning(unsigned code) {
    switch (code) {
        case UART_ERR_NOT_OPEN: return "port not open";
        case UART_ERR_BAD_PORT: return "no such COM port number";
        case UART_ERR_NO_DEVICE: return "no such device";
        case UART_ERR_PERMISSION: return "permission denied";
        case UART_ERR_BUSY: return "port in use";
        case UART_ERR_BAD_SETTINGS: return "line settings not supported";
        case UART_ERR_CONFIG: return "device refused the line settings";
        case UART_ERR_WRITE: return "write to the port failed";
        case UART_ERR_TIMEOUT: return "no complete reply in time";
        case UART_ERR_HANGUP: return "line hung up";
        case UART_ERR_TOO_LONG: return "reply too long";
        case UART_ERR_READ: return "read from the port failed";
        case UART_ERR_BAD_ARGUMENT: return "bad argument to the serial layer";
        case UART_ERR_OPEN_FAILED: return "opening the port failed";
        case TOV_ERR_NO_PROMPT: return "no prompt";
        case TOV_ERR_LINE_FAILED: return "port could not be read";
        case TOV_ERR_BLOCK_REFUSED: return "controller refused a block three times";
        case TOV_ERR_BAD_ANSWER: return "block answered with neither ACK nor NAK";
        case TOV_ERR_SILENT: return "no answer to a block";
        case TOV_ERR_WINDOW: return "progress window could not be created";
        case TOV_ERR_LOAD_FAILED: return "file transfer failed";
        case TOV_ERR_NO_FILE: return "file does not exist";
        case TOV_ERR_BAD_REPLY: return "unexpected reply";
        case TOV_ERR_TRANSFER_LINE: return "line failed during the transfer";
        case TOV_ERR_FILE_UNREADABLE: return "file cannot be read";
        case TOV_ERR_ARGUMENT: return "bad argument";
        case TOV_ERR_NO_DISK_B: return "listing has no disk B";
        case TOV_ERR_NO_TOTAL: return "listing has no file count";
        case TOV_ERR_MODEL: return "unsupported controller model";
        case TOV_ERR_SET_IP: case TOV_ERR_GET_IP: return "no \"IP=\" in the reply";
        case TOV_ERR_SET_MASK: case TOV_ERR_GET_MASK: return "no \"MASK=\" in the reply";
        case TOV_ERR_SET_GATEWAY: case TOV_ERR_GET_GATEWAY: return "no \"Gateway=\" in the reply";
        case TOV_ERR_DIR_REPLY: return "listing does not end with the prompt";
        case TOV_ERR_SET_COM: return "no \"Set to:\" in the reply";
        case TOV_ERR_GET_COM: return "no \"Current set is: \" in the reply";
        case TOV_ERR_DISK_SIZE: return "no \"SizeA=\" in the reply";
        default: return "failure";
    }
}

// A failure the library reported: its code and the text it left in the reply buffer.
int device_failure(Context& ctx, unsigned code) {
    const std::string text = one_line(std::string_view(ctx.r(), strnlen(ctx.r(), kReplySize)));
    std::fprintf(stderr, "tovctl %.*s: failed with code %u (%.*s): %s\n", static_cast<int>(ctx.name.size()),
                 ctx.name.data(), code, static_cast<int>(code_meaning(code).size()), code_meaning(code).data(),
                 text.c_str());
    if (ctx.options.json) {
        Json j;
        j.begin_object()
            .field("command", ctx.name)
            .field("ok", false)
            .field("code", std::int64_t{code})
            .field("meaning", code_meaning(code))
            .field("error", text)
            .end_object();
        print_out(j.text() + "\n");
    }
    return kExitFailed;
}

// Success output: the JSON object, or the human lines.
int success(Context& ctx, Json& j, const std::string& human) {
    if (ctx.options.json) {
        print_out(j.text() + "\n");
    } else {
        print_out(human);
    }
    return kExitOk;
}

Json ok_object(const Context& ctx) {
    Json j;
    j.begin_object().field("command", ctx.name).field("ok", true);
    return j;
}

// The console's reply as one line, without the prompt line at its end.
std::string reply_line(Context& ctx) {
    std::string_view text(ctx.r(), strnlen(ctx.r(), kReplySize));
    if (!text.empty() && text.back() == '>') {
        const auto line_end = text.find_last_of("\r\n");
        text = line_end == std::string_view::npos ? std::string_view{} : text.substr(0, line_end);
    }
    return one_line(text);
}

// ---- Argument checks ----

std::optional<long long> parse_integer(std::string_view text, long long min, long long max) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::size_t i = 0;
    bool negative = false;
    if (text[0] == '-') {
        negative = true;
        i = 1;
    }
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

// A dotted-decimal IPv4 address: four parts of 1 to 3 digits, each 0..255.
bool is_ipv4(std::string_view text) {
    int parts = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part = text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
        if (part.empty() || part.size() > 3 || !parse_integer(part, 0, 255) || part[0] == '-') return false;
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

// Parity: n e o m s (any case) or 0..4.
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

// The load subcommand's arguments.
struct LoadArgs {
    std::string file;
    char disk = 'a';
    std::int32_t mode = 0;
    std::optional<std::string> name;
};

std::variant<LoadArgs, std::string> parse_load(const std::vector<std::string>& args) {
    LoadArgs out;
    bool have_file = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto next = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        if (a == "--disk") {
            const auto v = next();
            const auto d = v ? parse_disk(*v) : std::nullopt;
            if (!d) return std::string("--disk takes a or b");
            out.disk = *d;
        } else if (a == "--mode") {
            const auto v = next();
            const auto m = v ? parse_integer(*v, INT32_MIN, INT32_MAX) : std::nullopt;
            if (!m) return std::string("--mode takes a whole number (1 loadr, 3 loadfirmware, else load/loadb)");
            out.mode = static_cast<std::int32_t>(*m);
        } else if (a == "--name") {
            const auto v = next();
            if (!v || v->empty()) return std::string("--name takes a file name");
            out.name = *v;
        } else if (a.starts_with("--")) {
            return "unknown option " + a;
        } else if (!have_file) {
            out.file = a;
            have_file = true;
        } else {
            return "unexpected argument " + a;
        }
    }
    if (!have_file) return std::string("missing FILE");
    if (!readable_file(out.file)) return "cannot read file " + out.file;
    return out;
}

std::string expect_count(const std::vector<std::string>& args, std::size_t min, std::size_t max) {
    if (args.size() < min) return "missing argument";
    if (args.size() > max) return "unexpected argument " + args[max];
    for (const auto& a : args) {
        if (a.starts_with("--")) return "unknown option " + a;
    }
    return {};
}

// ---- Handlers ----

using ValueGet = std::uint16_t (*)(std::uint8_t, char*, char*);

Subcommand value_command(std::string_view name, std::string_view label, std::string_view json_key, ValueGet get,
                         ValueGet set) {
    Subcommand s;
    s.name = name;
    s.usage = "[ADDRESS]";
    s.needs_port = true;
    s.check = [](const std::vector<std::string>& args) {
        if (auto e = expect_count(args, 0, 1); !e.empty()) return e;
        if (args.size() == 1 && !is_ipv4(args[0])) return "not a dotted-decimal address: " + args[0];
        return std::string();
    };
    s.run = [label, json_key, get, set](Context& ctx, const std::vector<std::string>& args) {
        char value[TOV_VALUE_MAX_IN + 1] = "";
        if (!args.empty()) std::snprintf(value, sizeof value, "%s", args[0].c_str());
        const std::uint16_t code = args.empty() ? get(ctx.port, value, ctx.r()) : set(ctx.port, value, ctx.r());
        if (code != 0) return device_failure(ctx, code);
        Json j = ok_object(ctx);
        j.field(json_key, std::string_view(value)).end_object();
        return success(ctx, j, std::string(label) + ": " + value + "\n");
    };
    return s;
}

int run_com(Context& ctx, const std::vector<std::string>& args) {
    const auto com = static_cast<std::int32_t>(*parse_integer(args[0], 1, 255));
    if (args.size() == 5) {
        const auto baud = static_cast<std::int32_t>(*parse_integer(args[1], 1, INT32_MAX));
        const auto data = static_cast<std::int32_t>(*parse_integer(args[2], 5, 8));
        const auto parity = *parse_parity(args[3]);
        const auto stop = static_cast<std::int32_t>(*parse_integer(args[4], 1, 2));
        const std::uint16_t code = TOV_Set_COM(ctx.port, com, baud, data, parity, stop, ctx.r());
        if (code != 0) return device_failure(ctx, code);
        const std::string text = reply_line(ctx);
        const auto pos = text.find("Set to:");
        const std::string set_to = pos == std::string::npos ? text : one_line(text.substr(pos + 7));
        const std::string shown = set_to.substr(0, set_to.find(' '));
        Json j = ok_object(ctx);
        j.field("com", std::int64_t{com}).field("set_to", std::string_view(shown)).end_object();
        return success(ctx, j, "COM " + std::to_string(com) + " set to: " + shown + "\n");
    }
    // Unknown fields stay at this marker and show as null / "?".
    constexpr std::int32_t kUnset = INT32_MIN;
    std::int32_t baud = kUnset, data = kUnset, parity = kUnset, stop = kUnset;
    const std::uint16_t code = TOV_Get_COM(ctx.port, com, &baud, &data, &parity, &stop, ctx.r());
    if (code != 0) return device_failure(ctx, code);
    auto opt = [](std::int32_t v) { return v == kUnset ? std::nullopt : std::optional<std::int64_t>(v); };
    auto show = [](std::int32_t v) { return v == kUnset ? std::string("?") : std::to_string(v); };
    Json j = ok_object(ctx);
    j.field("com", std::int64_t{com})
        .field("baud", opt(baud))
        .field("data_bits", opt(data))
        .field("parity", opt(parity))
        .field("stop_bits", opt(stop))
        .end_object();
    static constexpr std::string_view kParityNames[] = {"none", "even", "odd", "mark", "space"};
    const std::string parity_name =
        parity >= 0 && parity <= 4 ? " (" + std::string(kParityNames[parity]) + ")" : std::string();
    return success(ctx, j,
                   "COM " + std::to_string(com) + ": " + show(baud) + " baud, " + show(data) + " data bits, parity " +
                       show(parity) + parity_name + ", " + show(stop) + " stop bits\n");
}

int run_disksize(Context& ctx, const std::vector<std::string>& args) {
    if (args.size() == 2) {
        const auto a = static_cast<std::int32_t>(*parse_integer(args[0], 0, INT32_MAX));
        const auto b = static_cast<std::int32_t>(*parse_integer(args[1], 0, INT32_MAX));
        const std::uint16_t code = TOV_Set_DiskSize(ctx.port, a, b, ctx.r());
        if (code != 0) return device_failure(ctx, code);
    }
    // Read back what the controller now holds (after a set: its own reply).
    constexpr std::int32_t kUnset = INT32_MIN;
    std::int32_t a = kUnset, b = kUnset;
    const std::uint16_t code = TOV_Get_DiskSize(ctx.port, &a, &b, ctx.r());
    if (code != 0) return device_failure(ctx, code);
    auto opt = [](std::int32_t v) { return v == kUnset ? std::nullopt : std::optional<std::int64_t>(v); };
    auto show = [](std::int32_t v) { return v == kUnset ? std::string("?") : std::to_string(v); };
    Json j = ok_object(ctx);
    j.field("size_a", opt(a)).field("size_b", opt(b)).end_object();
    return success(ctx, j, "Disk A size: " + show(a) + "\nDisk B size: " + show(b) + "\n");
}

int run_dir(Context& ctx, const std::vector<std::string>& args) {
    const char disk = args.empty() ? 'a' : *parse_disk(args[0]);
    // One block per array: 100 entries of fixed-size text buffers, all empty.
    std::vector<char> words(3 * TOV_DIR_MAX_ENTRIES * TOV_DIR_WORD_SIZE, '\0');
    std::vector<char> size_texts(TOV_DIR_MAX_ENTRIES * TOV_DIR_SIZE_TEXT_SIZE, '\0');
    std::vector<char*> arrays[4];
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < TOV_DIR_MAX_ENTRIES; ++i) {
            arrays[k].push_back(&words[(k * TOV_DIR_MAX_ENTRIES + i) * TOV_DIR_WORD_SIZE]);
        }
    }
    for (int i = 0; i < TOV_DIR_MAX_ENTRIES; ++i) arrays[3].push_back(&size_texts[i * TOV_DIR_SIZE_TEXT_SIZE]);
    std::int32_t count = 0;
    const std::uint16_t code = TOV_Dir_Tovrane(ctx.port, disk, &count, arrays[0].data(), arrays[1].data(),
                                               arrays[2].data(), arrays[3].data(), ctx.r());
    if (code != 0) return device_failure(ctx, code);

    const char disk_name = disk == 'b' ? 'B' : 'A';
    Json j = ok_object(ctx);
    j.field("disk", std::string_view(disk == 'b' ? "b" : "a")).field("count", std::int64_t{count});
    j.key("entries").begin_array();
    std::string human = "Disk " + std::string(1, disk_name) + ": " + std::to_string(count) + " file(s)\n";
    for (int i = 0; i < count && i < TOV_DIR_MAX_ENTRIES; ++i) {
        const std::string_view name = arrays[0][i];
        if (name.empty()) continue;  // the listing had no such entry
        const std::string_view size = arrays[3][i];
        const auto size_value = parse_integer(size, 0, INT32_MAX);
        j.begin_object()
            .field("index", std::int64_t{i})
            .field("name", name)
            .field("date", std::string_view(arrays[1][i]))
            .field("time", std::string_view(arrays[2][i]))
            .field("size", size_value ? std::optional<std::int64_t>(*size_value) : std::nullopt)
            .end_object();
        char line[160];
        std::snprintf(line, sizeof line, "%3d) %-13s %s %s %10s\n", i, arrays[0][i], arrays[1][i], arrays[2][i],
                      size.empty() ? "?" : arrays[3][i]);
        human += line;
    }
    j.end_array().end_object();
    return success(ctx, j, human);
}

int run_free(Context& ctx, const std::vector<std::string>& args) {
    const char disk = args.empty() ? 'a' : *parse_disk(args[0]);
    char text[TOV_FREE_TEXT_SIZE] = "";
    const std::uint16_t code = TOV_Get_FreeSize(ctx.port, disk, text, ctx.r());
    if (code != 0) return device_failure(ctx, code);
    Json j = ok_object(ctx);
    j.field("disk", std::string_view(disk == 'b' ? "b" : "a")).field("free", std::string_view(text)).end_object();
    return success(ctx, j, std::string("Free space on disk ") + (disk == 'b' ? "B" : "A") + ": " + text + "\n");
}

int run_ver(Context& ctx, const std::vector<std::string>&) {
    char model[TOV_MODEL_SIZE] = "", date[TOV_BUILD_DATE_SIZE] = "", flash[TOV_FLASH_SIZE] = "";
    std::int32_t flag = 0;
    const std::int32_t result = TOV_Get_Tovrane_Version(ctx.port, model, date, flash, &flag, ctx.r());
    // The result is the version or a failure code; only a success writes the build date.
    if (date[0] == '\0') return device_failure(ctx, static_cast<unsigned>(result));
    Json j = ok_object(ctx);
    j.field("version", std::int64_t{result})
        .field("model", std::string_view(model))
        .field("build_date", std::string_view(date))
        .field("flash", std::string_view(flash))
        .field("port_probe_flag", std::int64_t{flag})
        .end_object();
    return success(ctx, j,
                   "Version: " + std::to_string(result) + "\nModel: " + model + "\nBuild date: " + date +
                       "\nFlash memory: " + flash + "\nPort probe flag: " + std::to_string(flag) + "\n");
}

int run_prompt(Context& ctx, const std::vector<std::string>& args) {
    std::uint16_t timeout = 200;
    if (args.size() == 2) timeout = static_cast<std::uint16_t>(*parse_integer(args[1], 1, 65535));
    const std::uint16_t code = TOV_GetPrompt(ctx.port, timeout, '>');
    if (code != 0) {
        std::snprintf(ctx.r(), kReplySize, "no prompt within %u ms of silence", timeout);
        return device_failure(ctx, code);
    }
    Json j = ok_object(ctx);
    j.field("prompt", true).end_object();
    return success(ctx, j, "Prompt received\n");
}

int run_load(Context& ctx, const std::vector<std::string>& args) {
    const LoadArgs load = std::get<LoadArgs>(parse_load(args));
    const std::uint16_t code = TOV_Load_File(ctx.port, load.file.c_str(), load.disk,
                                             load.name ? load.name->c_str() : nullptr, load.mode, ctx.r());
    if (code != 0) return device_failure(ctx, code);
    const std::string text = reply_line(ctx);
    Json j = ok_object(ctx);
    j.field("file", std::string_view(load.file))
        .field("disk", std::string_view(load.disk == 'b' ? "b" : "a"))
        .field("reply", std::string_view(text))
        .end_object();
    return success(ctx, j, "Loaded " + load.file + ": " + text + "\n");
}

int run_del_all(Context& ctx, const std::vector<std::string>& args) {
    const char disk = *parse_disk(args[0]);
    const std::uint16_t code = TOV_Del_All_Files(ctx.port, disk, ctx.r());
    if (code != 0) return device_failure(ctx, code);
    const std::string text = reply_line(ctx);
    Json j = ok_object(ctx);
    j.field("disk", std::string_view(disk == 'b' ? "b" : "a")).field("reply", std::string_view(text)).end_object();
    return success(ctx, j, std::string("Disk ") + (disk == 'b' ? "B" : "A") + ": " + text + "\n");
}

int run_update_os(Context& ctx, const std::vector<std::string>& args) {
    const std::uint16_t code = TOV_Update_Tovrane(ctx.port, args[0].c_str(), ctx.r());
    if (code != 0) return device_failure(ctx, code);
    const std::string text = reply_line(ctx);
    Json j = ok_object(ctx);
    j.field("image", std::string_view(args[0])).field("reply", std::string_view(text)).end_object();
    return success(ctx, j, "Updated from " + args[0] + ": " + text + "\n");
}

int run_ports(Context& ctx, const std::vector<std::string>&) {
    const std::vector<PortInfo> ports = list_ports();
    Json j = ok_object(ctx);
    j.key("ports").begin_array();
    std::string human;
    for (const PortInfo& p : ports) {
        j.begin_object()
            .field("path", std::string_view(p.path))
            .field("com", p.com ? std::optional<std::int64_t>(*p.com) : std::nullopt)
            .field("transport", std::string_view(p.transport))
            .field("description", std::string_view(p.description))
            .field("usb_vid", p.usb_vid ? std::optional<std::int64_t>(*p.usb_vid) : std::nullopt)
            .field("usb_pid", p.usb_pid ? std::optional<std::int64_t>(*p.usb_pid) : std::nullopt)
            .field("manufacturer", std::string_view(p.manufacturer))
            .field("product", std::string_view(p.product))
            .field("serial", std::string_view(p.serial))
            .field("by_id", std::string_view(p.by_id))
            .end_object();
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
    j.end_array().end_object();
    if (ports.empty()) human = "No serial ports found.\n";
    return success(ctx, j, human);
}

// ---- The table ----

std::vector<Subcommand> subcommands() {
    std::vector<Subcommand> list;
    auto ip = value_command("ip", "IP address", "ip", TOV_Get_IP, TOV_Set_IP);
    ip.summary = "read the controller's IP address, or set it";
    list.push_back(ip);
    auto mask = value_command("mask", "Network mask", "mask", TOV_Get_Mask, TOV_Set_Mask);
    mask.summary = "read the network mask, or set it";
    list.push_back(mask);
    auto gw = value_command("gateway", "Gateway", "gateway", TOV_Get_Gateway, TOV_Set_Gateway);
    gw.summary = "read the default gateway, or set it";
    list.push_back(gw);

    list.push_back({"com", "N [BAUD DATA PARITY STOP]",
                    "read the settings of the controller's COM port N, or set them\n"
                    "      (PARITY: n e o m s or 0..4; DATA 5..8; STOP 1 or 2)",
                    true,
                    [](const std::vector<std::string>& a) {
                        if (auto e = expect_count(a, 1, 5); !e.empty()) return e;
                        if (a.size() != 1 && a.size() != 5) return std::string("give N alone, or N BAUD DATA PARITY STOP");
                        if (!parse_integer(a[0], 1, 255)) return "not a COM port number (1..255): " + a[0];
                        if (a.size() == 5) {
                            if (!parse_integer(a[1], 1, INT32_MAX)) return "not a baud rate: " + a[1];
                            if (!parse_integer(a[2], 5, 8)) return "data bits must be 5..8: " + a[2];
                            if (!parse_parity(a[3])) return "parity must be n, e, o, m, s or 0..4: " + a[3];
                            if (!parse_integer(a[4], 1, 2)) return "stop bits must be 1 or 2: " + a[4];
                        }
                        return std::string();
                    },
                    run_com});
    list.push_back({"disksize", "[A B]", "read the sizes of flash disks A and B, or set them", true,
                    [](const std::vector<std::string>& a) {
                        if (auto e = expect_count(a, 0, 2); !e.empty()) return e;
                        if (a.size() == 1) return std::string("give both sizes, A and B");
                        for (const auto& s : a) {
                            if (!parse_integer(s, 0, INT32_MAX)) return "not a size: " + s;
                        }
                        return std::string();
                    },
                    run_disksize});
    auto disk_check = [](bool required) {
        return [required](const std::vector<std::string>& a) {
            if (auto e = expect_count(a, required ? 1 : 0, 1); !e.empty()) return e;
            if (!a.empty() && !parse_disk(a[0])) return "disk must be a or b: " + a[0];
            return std::string();
        };
    };
    list.push_back({"dir", "[a|b]", "list the files of a flash disk (default a)", true, disk_check(false), run_dir});
    list.push_back({"free", "[a|b]", "show the free space of a flash disk (default a)", true, disk_check(false), run_free});
    list.push_back({"ver", "", "show the Tovrane version, model, build date and flash memory", true,
                    [](const std::vector<std::string>& a) { return expect_count(a, 0, 0); }, run_ver});
    list.push_back({"prompt", "[--timeout MS]", "send a carriage return and wait for the prompt (default 200 ms)", true,
                    [](const std::vector<std::string>& a) {
                        if (a.empty()) return std::string();
                        if (a.size() != 2 || a[0] != "--timeout") return std::string("expected --timeout MS");
                        if (!parse_integer(a[1], 1, 65535)) return "not a time-out in ms (1..65535): " + a[1];
                        return std::string();
                    },
                    run_prompt});
    list.push_back({"load", "FILE [--disk a|b] [--mode N] [--name NAME]",
                    "download a file to a flash disk (mode 1 loadr, 3 loadfirmware)", true,
                    [](const std::vector<std::string>& a) {
                        const auto r = parse_load(a);
                        return std::holds_alternative<std::string>(r) ? std::get<std::string>(r) : std::string();
                    },
                    run_load});
    list.push_back({"del-all", "a|b", "delete every file of a flash disk", true, disk_check(true), run_del_all});
    list.push_back({"update-os", "IMAGE", "send an operating-system image and install it", true,
                    [](const std::vector<std::string>& a) {
                        if (auto e = expect_count(a, 1, 1); !e.empty()) return e;
                        if (!readable_file(a[0])) return "cannot read image " + a[0];
                        return std::string();
                    },
                    run_update_os});
    list.push_back({"ports", "", "list this PC's serial ports and their COM numbers", false,
                    [](const std::vector<std::string>& a) { return expect_count(a, 0, 0); }, run_ports});
    return list;
}

void print_general_help(const std::vector<Subcommand>& subs, std::FILE* to) {
    std::fputs(
        "usage: tovctl --port PORT [--json] [--trace FILE] SUBCOMMAND [ARGS]\n"
        "\n"
        "Drives a TQ-318 controller's console through the Tovrane library.\n"
        "PORT: a COM number (7 or COM7; UART_COM<N> names its device, else /dev/ttyS<N-1>)\n"
        "      or a device path such as /dev/ttyUSB0.\n"
        "  --json        print the result as one JSON object\n"
        "  --trace FILE  record a timestamped transcript of the line in FILE\n"
        "\nsubcommands:\n",
        to);
    for (const auto& s : subs) {
        std::fprintf(to, "  %.*s%s%.*s\n      %.*s\n", static_cast<int>(s.name.size()), s.name.data(),
                     s.usage.empty() ? "" : " ", static_cast<int>(s.usage.size()), s.usage.data(),
                     static_cast<int>(s.summary.size()), s.summary.data());
    }
    std::fputs("\n'tovctl SUBCOMMAND --help' describes one subcommand.\n"
               "Exit status: 0 success, 1 device or library failure, 2 usage error, 3 port not opened.\n",
               to);
}

void print_sub_usage(const Subcommand& s, std::FILE* to) {
    std::fprintf(to, "usage: tovctl %s%.*s %.*s\n  %.*s\n", s.needs_port ? "--port PORT [--json] [--trace FILE] " : "[--json] ",
                 static_cast<int>(s.name.size()), s.name.data(), static_cast<int>(s.usage.size()), s.usage.data(),
                 static_cast<int>(s.summary.size()), s.summary.data());
}

int usage_error(const std::string& message, const Subcommand* s, const std::vector<Subcommand>& subs) {
    std::fprintf(stderr, "tovctl: %s\n", message.c_str());
    if (s != nullptr) {
        print_sub_usage(*s, stderr);
    } else {
        print_general_help(subs, stderr);
    }
    return kExitUsage;
}

// The COM number for PORT: a number, COM<n>, or a device path mapped through UART_COM<N>.
std::optional<std::uint8_t> resolve_port(const std::string& port_text, std::string& error) {
    std::string_view text = port_text;
    if (text.size() > 3 && (text.substr(0, 3) == "COM" || text.substr(0, 3) == "com")) text.remove_prefix(3);
    if (const auto n = parse_integer(text, 1, 255)) return static_cast<std::uint8_t>(*n);
    if (port_text.empty() || port_text.find('/') == std::string::npos) {
        error = "not a COM number (1..255) or a device path: " + port_text;
        return std::nullopt;
    }
    if (const auto n = com_number_for(port_text)) {
        const std::string var = "UART_COM" + std::to_string(*n);
        if (std::getenv(var.c_str()) != nullptr) return static_cast<std::uint8_t>(*n);
    }
    for (int n = 1; n <= 255; ++n) {
        const std::string var = "UART_COM" + std::to_string(n);
        if (std::getenv(var.c_str()) == nullptr) {
            ::setenv(var.c_str(), port_text.c_str(), 1);
            return static_cast<std::uint8_t>(n);
        }
    }
    error = "every COM number is taken by a UART_COM<N> variable";
    return std::nullopt;
}

int open_failure(const std::string& port_text, std::uint8_t port, std::uint16_t code) {
    char path[512] = "";
    Uart_Device_Path(port, path, sizeof path);
    std::fprintf(stderr, "tovctl: cannot open %s (COM %u, %s): %.*s (uart code %u)\n", port_text.c_str(), port, path,
                 static_cast<int>(code_meaning(code).size()), code_meaning(code).data(), code);
    if (code == UART_ERR_PERMISSION) {
        std::fputs("  Your user may not use serial ports. Join the dialout group:\n"
                   "    sudo usermod -aG dialout $USER\n"
                   "  then log out and in again.\n",
                   stderr);
    } else if (code == UART_ERR_BUSY) {
        std::fputs("  The port is in use by another program (a terminal, the wizard, another tovctl). Close it first.\n",
                   stderr);
    } else if (code == UART_ERR_NO_DEVICE) {
        std::fputs("  No such device: is the adapter plugged in? 'tovctl ports' lists the serial ports.\n", stderr);
    }
    return kExitPort;
}

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

int run(int argc, char** argv) {
    const std::vector<Subcommand> subs = subcommands();
    Options options;
    std::optional<std::string> sub_name;
    std::vector<std::string> sub_args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--json") {
            options.json = true;
        } else if (a == "--help" || a == "-h") {
            options.help = true;
        } else if (a == "--port" || a == "--trace") {
            if (i + 1 >= argc) return usage_error(a + " needs a value", nullptr, subs);
            (a == "--port" ? options.port : options.trace) = argv[++i];
        } else if (a.starts_with("--port=")) {
            options.port = a.substr(7);
        } else if (a.starts_with("--trace=")) {
            options.trace = a.substr(8);
        } else if (!sub_name && !a.starts_with("-")) {
            sub_name = a;
        } else if (!sub_name) {
            return usage_error("unknown option " + a, nullptr, subs);
        } else {
            sub_args.push_back(a);
        }
    }
    if (!sub_name) {
        if (options.help) {
            print_general_help(subs, stdout);
            return kExitOk;
        }
        return usage_error("missing subcommand", nullptr, subs);
    }
    const Subcommand* sub = nullptr;
    for (const auto& s : subs) {
        if (s.name == *sub_name) sub = &s;
    }
    if (sub == nullptr) return usage_error("unknown subcommand " + *sub_name, nullptr, subs);
    if (options.help) {
        print_sub_usage(*sub, stdout);
        return kExitOk;
    }
    if (const std::string e = sub->check(sub_args); !e.empty()) return usage_error(e, sub, subs);

    Context ctx{options, sub->name};
    if (!sub->needs_port) return sub->run(ctx, sub_args);

    if (options.port.empty()) return usage_error("--port is required", sub, subs);
    std::string error;
    const auto port = resolve_port(options.port, error);
    if (!port) return usage_error(error, sub, subs);
    if (!options.trace.empty()) ::setenv("UART_TRACE", options.trace.c_str(), 1);
    if (const std::uint16_t code = Open_Com(*port, kBaud, 8, 0, 0); code != 0) {
        return open_failure(options.port, *port, code);
    }
    PortSession session(*port);
    ctx.port = *port;
    return sub->run(ctx, sub_args);
}

}  // namespace
}  // namespace tovctl

int main(int argc, char** argv) {
    const int status = tovctl::run(argc, argv);
    std::fflush(stdout);
    return status;
}
