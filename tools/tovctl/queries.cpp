// Subcommands that read or set the controller's settings: ip, mask, gateway,
// com, disksize, dir, free, ver, prompt.
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <memory>

#include "command.h"
#include "families.h"
#include "tovrane.h"

namespace tovctl {
namespace {

using Args = std::shared_ptr<std::vector<std::string>>;
using ValueGet = std::uint16_t (*)(std::uint8_t, char*, char*);

Json optional_number(std::int32_t v, std::int32_t unset) { return v == unset ? Json(nullptr) : Json(v); }

void add_value(CLI::App& app, Commands& commands, const char* name, const char* summary, std::string label,
               std::string key, ValueGet get, ValueGet set) {
    auto* sub = app.add_subcommand(name, summary);
    auto address = std::make_shared<std::string>();
    sub->add_option("ADDRESS", *address, "a dotted-decimal address to set")
        ->check(CLI::Validator(
            [](std::string& v) { return is_ipv4(v) ? std::string() : "not a dotted-decimal address: " + v; }, ""));
    commands.push_back({sub, PortUse::One, nullptr, [=](Context& ctx) {
                            char value[TOV_VALUE_MAX_IN + 1] = "";
                            std::snprintf(value, sizeof value, "%s", address->c_str());
                            const std::uint16_t code =
                                address->empty() ? get(ctx.port, value, ctx.r()) : set(ctx.port, value, ctx.r());
                            if (code != 0) return device_failure(ctx, code);
                            Json j = ok_object(ctx);
                            j[key] = utf8(value);
                            return success(ctx, j, label + ": " + value + "\n");
                        }});
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
        j["com"] = com;
        j["set_to"] = utf8(shown);
        return success(ctx, j, "COM " + std::to_string(com) + " set to: " + shown + "\n");
    }
    // Unknown fields stay at this marker and show as null / "?".
    constexpr std::int32_t kUnset = INT32_MIN;
    std::int32_t baud = kUnset, data = kUnset, parity = kUnset, stop = kUnset;
    const std::uint16_t code = TOV_Get_COM(ctx.port, com, &baud, &data, &parity, &stop, ctx.r());
    if (code != 0) return device_failure(ctx, code);
    // The console counts the disks in KiB.
    auto show = [](std::int32_t v) { return v == kUnset ? std::string("?") : std::to_string(v) + " KiB"; };
    Json j = ok_object(ctx);
    j["com"] = com;
    j["baud"] = optional_number(baud, kUnset);
    j["data_bits"] = optional_number(data, kUnset);
    j["parity"] = optional_number(parity, kUnset);
    j["stop_bits"] = optional_number(stop, kUnset);
    static constexpr const char* kParityNames[] = {"none", "even", "odd", "mark", "space"};
    const std::string parity_name =
        parity >= 0 && parity <= 4 ? " (" + std::string(kParityNames[parity]) + ")" : std::string();
    return success(ctx, j,
                   "COM " + std::to_string(com) + ": " + show(baud) + " baud, " + show(data) + " data bits, parity " +
                       show(parity) + parity_name + ", " + show(stop) + " stop bits\n");
}

void check_com(const std::vector<std::string>& a) {
    if (a.size() != 1 && a.size() != 5) throw UsageError("give N alone, or N BAUD DATA PARITY STOP");
    if (!parse_integer(a[0], 1, 255)) throw UsageError("not a COM port number (1..255): " + a[0]);
    if (a.size() == 5) {
        if (!parse_integer(a[1], 1, INT32_MAX)) throw UsageError("not a baud rate: " + a[1]);
        if (!parse_integer(a[2], 5, 8)) throw UsageError("data bits must be 5..8: " + a[2]);
        if (!parse_parity(a[3])) throw UsageError("parity must be n, e, o, m, s or 0..4: " + a[3]);
        if (!parse_integer(a[4], 1, 2)) throw UsageError("stop bits must be 1 or 2: " + a[4]);
    }
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
    // The console counts the disks in KiB.
    auto show = [](std::int32_t v) { return v == kUnset ? std::string("?") : std::to_string(v) + " KiB"; };
    Json j = ok_object(ctx);
    j["size_a"] = optional_number(a, kUnset);
    j["size_b"] = optional_number(b, kUnset);
    return success(ctx, j, "Disk A size: " + show(a) + "\nDisk B size: " + show(b) + "\n");
}

int run_dir(Context& ctx, char disk) {
    // One block per array: 100 entries of fixed-size text buffers, all empty.
    std::vector<char> words(3 * TOV_DIR_MAX_ENTRIES * TOV_DIR_WORD_SIZE, '\0');
    std::vector<char> size_texts(TOV_DIR_MAX_ENTRIES * TOV_DIR_SIZE_TEXT_SIZE, '\0');
    std::vector<char*> arrays[4];
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < TOV_DIR_MAX_ENTRIES; ++i)
            arrays[k].push_back(&words[(k * TOV_DIR_MAX_ENTRIES + i) * TOV_DIR_WORD_SIZE]);
    }
    for (int i = 0; i < TOV_DIR_MAX_ENTRIES; ++i) arrays[3].push_back(&size_texts[i * TOV_DIR_SIZE_TEXT_SIZE]);
    std::int32_t count = 0;
    const std::uint16_t code = TOV_Dir_Tovrane(ctx.port, disk, &count, arrays[0].data(), arrays[1].data(),
                                               arrays[2].data(), arrays[3].data(), ctx.r());
    if (code != 0) return device_failure(ctx, code);

    Json j = ok_object(ctx);
    j["disk"] = disk == 'b' ? "b" : "a";
    j["count"] = count;
    Json entries = Json::array();
    std::string human = std::string("Disk ") + (disk == 'b' ? 'B' : 'A') + ": " + std::to_string(count) + " file(s)\n";
    if (count > 0) {
        char head[160];
        std::snprintf(head, sizeof head, "%3s  %-13s %-8s %-8s %10s\n", "#", "NAME", "DATE", "TIME", "BYTES");
        human += head;
    }
    for (int i = 0; i < count && i < TOV_DIR_MAX_ENTRIES; ++i) {
        const std::string_view name = arrays[0][i];
        if (name.empty()) continue;  // the listing had no such entry
        const std::string_view size = arrays[3][i];
        const auto size_value = parse_integer(size, 0, INT32_MAX);
        entries.push_back(Json{{"index", i},
                               {"name", utf8(name)},
                               {"date", utf8(arrays[1][i])},
                               {"time", utf8(arrays[2][i])},
                               {"size", size_value ? Json(*size_value) : Json(nullptr)}});
        char line[160];
        std::snprintf(line, sizeof line, "%3d) %-13s %s %s %10s\n", i, arrays[0][i], arrays[1][i], arrays[2][i],
                      size.empty() ? "?" : arrays[3][i]);
        human += line;
    }
    j["entries"] = std::move(entries);
    return success(ctx, j, human);
}

int run_free(Context& ctx, char disk) {
    char text[TOV_FREE_TEXT_SIZE] = "";
    const std::uint16_t code = TOV_Get_FreeSize(ctx.port, disk, text, ctx.r());
    if (code != 0) return device_failure(ctx, code);
    Json j = ok_object(ctx);
    j["disk"] = disk == 'b' ? "b" : "a";
    j["free"] = utf8(text);
    // The console gives the free space in bytes; a text that is no number is shown as it came.
    const auto bytes = parse_integer(text, 0, LLONG_MAX);
    return success(ctx, j, std::string("Free space on disk ") + (disk == 'b' ? "B" : "A") + ": " + text +
                               (bytes ? " bytes" : "") + "\n");
}

// The library's version number joins the major version (one digit), the
// minor version (one or two) and the build number (three): 123003 is
// Tovrane 1.23 build 003. A number too short for that is shown as it is.
std::string version_text(std::int32_t number) {
    const std::string digits = std::to_string(number);
    if (number < 0 || digits.size() < 5 || digits.size() > 6) return digits;
    return "Tovrane " + digits.substr(0, 1) + "." + digits.substr(1, digits.size() - 4) + " build " +
           digits.substr(digits.size() - 3) + " (" + digits + ")";
}

int run_ver(Context& ctx) {
    char model[TOV_MODEL_SIZE] = "", date[TOV_BUILD_DATE_SIZE] = "", flash[TOV_FLASH_SIZE] = "";
    std::int32_t flag = 0;
    const std::int32_t result = TOV_Get_Tovrane_Version(ctx.port, model, date, flash, &flag, ctx.r());
    // The result is the version or a failure code; only a success writes the build date.
    if (date[0] == '\0') return device_failure(ctx, static_cast<unsigned>(result));
    Json j = ok_object(ctx);
    j["version"] = result;
    j["model"] = utf8(model);
    j["build_date"] = utf8(date);
    j["flash"] = utf8(flash);
    j["port_probe_flag"] = flag;
    return success(ctx, j,
                   "Version: " + version_text(result) + "\nModel: " + model + "\nBuild date: " + date +
                       "\nFlash memory: " + flash + "\nPort probe flag: " + std::to_string(flag) +
                       (flag != 0 ? " (\"inp 30a\" read data=50, or the model is q-5312ax or KX2000)"
                                  : " (\"inp 30a\" did not read data=50)") + "\n");
}

int run_prompt(Context& ctx, unsigned timeout) {
    const std::uint16_t code = TOV_GetPrompt(ctx.port, static_cast<std::uint16_t>(timeout), '>');
    if (code != 0) {
        std::snprintf(ctx.r(), kReplySize, "no prompt within %u ms of silence", timeout);
        return device_failure(ctx, code);
    }
    Json j = ok_object(ctx);
    j["prompt"] = true;
    return success(ctx, j, "Prompt received\n");
}

}  // namespace

void add_queries(CLI::App& app, Commands& commands) {
    add_value(app, commands, "ip", "read the controller's IP address, or set it", "IP address", "ip", TOV_Get_IP,
              TOV_Set_IP);
    add_value(app, commands, "mask", "read the network mask, or set it", "Network mask", "mask", TOV_Get_Mask,
              TOV_Set_Mask);
    add_value(app, commands, "gateway", "read the default gateway, or set it", "Gateway", "gateway",
              TOV_Get_Gateway, TOV_Set_Gateway);

    {
        auto* sub = app.add_subcommand("com",
                                       "read the settings of the controller's COM port N, or set them\n"
                                       "(PARITY: n e o m s or 0..4; DATA 5..8; STOP 1 or 2)");
        Args args = std::make_shared<std::vector<std::string>>();
        sub->add_option("N_BAUD_DATA_PARITY_STOP", *args, "N alone reads; all five set")->required()->expected(1, 5);
        commands.push_back({sub, PortUse::One, [args] { check_com(*args); },
                            [args](Context& ctx) { return run_com(ctx, *args); }});
    }
    {
        auto* sub = app.add_subcommand("disksize", "read the sizes of flash disks A and B, or set them");
        Args args = std::make_shared<std::vector<std::string>>();
        sub->add_option("SIZES", *args, "the sizes of disk A and disk B to set")
            ->expected(0, 2)
            ->check(whole_number(0, INT32_MAX, "a size"));
        commands.push_back({sub, PortUse::One,
                            [args] {
                                if (args->size() == 1) throw UsageError("give both sizes, A and B");
                            },
                            [args](Context& ctx) { return run_disksize(ctx, *args); }});
    }
    for (const auto& [name, summary, fn] :
         {std::tuple{"dir", "list the files of a flash disk (default a)", &run_dir},
          std::tuple{"free", "show the free space of a flash disk (default a)", &run_free}}) {
        auto* sub = app.add_subcommand(name, summary);
        auto disk = std::make_shared<std::string>("a");
        sub->add_option("DISK", *disk, "a or b")->check(disk_letter());
        commands.push_back({sub, PortUse::One, nullptr,
                            [disk, fn = fn](Context& ctx) { return fn(ctx, *parse_disk(*disk)); }});
    }
    {
        auto* sub = app.add_subcommand("ver", "show the Tovrane version, model, build date and flash memory");
        commands.push_back({sub, PortUse::One, nullptr, run_ver});
    }
    {
        auto* sub = app.add_subcommand("prompt", "send a carriage return and wait for the prompt (default 200 ms)");
        auto timeout = std::make_shared<unsigned>(200);
        sub->add_option("--timeout", *timeout, "milliseconds of silence (1..65535)")
            ->type_name("MS")
            ->check(CLI::Range(1, 65535));
        commands.push_back({sub, PortUse::One, nullptr, [timeout](Context& ctx) { return run_prompt(ctx, *timeout); }});
    }
}

}  // namespace tovctl
