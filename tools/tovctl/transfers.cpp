// Subcommands that move files: load, del-all, update-os.
#include <memory>

#include "command.h"
#include "families.h"
#include "tovrane.h"

namespace tovctl {
namespace {

CLI::Validator readable(std::string what) {
    return CLI::Validator(
        [what](std::string& v) { return readable_file(v) ? std::string() : "cannot read " + what + " " + v; }, "");
}

struct LoadArgs {
    std::string file;
    std::string disk = "a";
    std::int32_t mode = 0;
    std::string name;
};

int run_load(Context& ctx, const LoadArgs& load) {
    const char disk = *parse_disk(load.disk);
    const std::uint16_t code = TOV_Load_File(ctx.port, load.file.c_str(), disk,
                                             load.name.empty() ? nullptr : load.name.c_str(), load.mode, ctx.r());
    if (code != 0) return device_failure(ctx, code);
    const std::string text = reply_line(ctx);
    Json j = ok_object(ctx);
    j["file"] = utf8(load.file);
    j["disk"] = disk == 'b' ? "b" : "a";
    j["reply"] = utf8(text);
    return success(ctx, j, "Loaded " + load.file + ": " + text + "\n");
}

int run_del_all(Context& ctx, char disk) {
    const std::uint16_t code = TOV_Del_All_Files(ctx.port, disk, ctx.r());
    if (code != 0) return device_failure(ctx, code);
    const std::string text = reply_line(ctx);
    Json j = ok_object(ctx);
    j["disk"] = disk == 'b' ? "b" : "a";
    j["reply"] = utf8(text);
    return success(ctx, j, std::string("Disk ") + (disk == 'b' ? "B" : "A") + ": " + text + "\n");
}

int run_update_os(Context& ctx, const std::string& image) {
    const std::uint16_t code = TOV_Update_Tovrane(ctx.port, image.c_str(), ctx.r());
    if (code != 0) return device_failure(ctx, code);
    const std::string text = reply_line(ctx);
    Json j = ok_object(ctx);
    j["image"] = utf8(image);
    j["reply"] = utf8(text);
    return success(ctx, j, "Updated from " + image + ": " + text + "\n");
}

}  // namespace

void add_transfers(CLI::App& app, Commands& commands) {
    {
        auto* sub = app.add_subcommand("load", "download a file to a flash disk (mode 1 loadr, 3 loadfirmware)");
        auto args = std::make_shared<LoadArgs>();
        sub->add_option("FILE", args->file, "the file to send")->required()->check(readable("file"));
        sub->add_option("--disk", args->disk, "a or b (default a)")->type_name("a|b")->check(disk_letter());
        sub->add_option("--mode", args->mode, "1 loadr, 3 loadfirmware, else load/loadb")->type_name("N");
        sub->add_option("--name", args->name, "the name to store it under")
            ->type_name("NAME")
            ->check(CLI::Validator([](std::string& v) { return v.empty() ? "--name takes a file name" : ""; }, ""));
        commands.push_back({sub, PortUse::One, nullptr, [args](Context& ctx) { return run_load(ctx, *args); }});
    }
    {
        auto* sub = app.add_subcommand("del-all", "delete every file of a flash disk");
        auto disk = std::make_shared<std::string>();
        sub->add_option("DISK", *disk, "a or b")->required()->check(disk_letter());
        commands.push_back(
            {sub, PortUse::One, nullptr, [disk](Context& ctx) { return run_del_all(ctx, *parse_disk(*disk)); }});
    }
    {
        auto* sub = app.add_subcommand("update-os", "send an operating-system image and install it");
        auto image = std::make_shared<std::string>();
        sub->add_option("IMAGE", *image, "the image file")->required()->check(readable("image"));
        commands.push_back({sub, PortUse::One, nullptr, [image](Context& ctx) { return run_update_os(ctx, *image); }});
    }
}

}  // namespace tovctl
