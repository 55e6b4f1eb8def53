#include "port_assign.h"

#include <filesystem>
#include <system_error>

#include "atomic_file.h"
#include "ports_file.h"

namespace tovctl {

namespace {

namespace fs = std::filesystem;

}  // namespace

bool has_control_bytes(const std::string& device) {
    for (const char c : device) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f) return true;
    }
    return false;
}

std::string assign_port(int port, const std::string& device) {
    if (port < 1 || port > 255) return "COM number " + std::to_string(port) + " is not 1..255";
    std::string why;
    if (!assignable_device(device, why)) return why;
    if (has_control_bytes(device)) return "the device path holds a control character";
    const auto file = uart::ports_file::path();
    if (!file) return device_naming().no_mapping_place + ": no place for the mapping file";
    std::error_code ec;
    fs::create_directories(fs::path(*file).parent_path(), ec);
    if (ec) return fs::path(*file).parent_path().string() + ": " + ec.message();
    const auto text = uart::ports_file::file_text(*file);
    if (!text) return *file + ": not a mapping file (not a regular file, or unreadable)";
    if (uart::ports_file::truncated(*text))
        return *file + ": over 64 KiB; only its first 64 KiB are read, so it is not rewritten (shorten it first)";
    return write_atomically(*file, uart::ports_file::with_assignment(*text, port, device));
}

}  // namespace tovctl
