#include "ports_file.h"

#include <charconv>

namespace uart::ports_file {

namespace {

// The COM number a line assigns, and where its device starts.
std::optional<std::pair<int, std::string_view>> assignment(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.starts_with("COM")) return std::nullopt;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 3) return std::nullopt;
    int port = 0;
    const char* first = line.data() + 3;
    const char* last = line.data() + eq;
    const auto [end, ec] = std::from_chars(first, last, port);
    if (ec != std::errc{} || end != last || port < 1 || port > 255) return std::nullopt;
    return std::pair{port, line.substr(eq + 1)};
}

}  // namespace

std::map<int, std::string> parse(std::string_view text) {
    std::map<int, std::string> mapping;
    if (truncated(text)) {
        // The line the limit cuts could name another device than it says.
        text = text.substr(0, kMaxBytes);
        text = text.substr(0, text.rfind('\n') == std::string_view::npos ? 0 : text.rfind('\n') + 1);
    }
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (const auto a = assignment(line); a && !a->second.empty()) {
            mapping[a->first] = std::string(a->second);
        }
    }
    return mapping;
}

std::map<int, std::string> read() {
    const auto file = path();
    if (!file) return {};
    return parse(file_text(*file).value_or(""));
}

std::string with_assignment(std::string_view text, int port, std::string_view device) {
    const std::string line = "COM" + std::to_string(port) + "=" + std::string(device);
    std::string out;
    bool placed = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view old = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const auto a = assignment(old);
        if (a && a->first == port) {
            if (!placed) out += line + "\n";
            placed = true;
        } else {
            out.append(old);
            out += '\n';
        }
    }
    if (!placed) out += line + "\n";
    return out;
}

}  // namespace uart::ports_file
