#include "trace.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>

#include "platform.h"

namespace uart::trace {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::mutex g_mutex;
std::unique_ptr<std::FILE, FileCloser> g_file;
std::string g_file_name;

const char* direction_mark(Direction d) {
    switch (d) {
        case Direction::Sent: return "->";
        case Direction::Received: return "<-";
        case Direction::Dropped: return "<- (dropped)";
        case Direction::Note: return "--";
    }
    return "??";
}

bool is_text(std::span<const std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) {
        if (b == '\r' || b == '\n' || b == '\t') continue;
        if (b < 0x20 || b > 0x7e) return false;
    }
    return true;
}

std::string time_stamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(now);
    const auto micros = duration_cast<microseconds>(now.time_since_epoch()).count() % 1000000;
    std::tm tm{};
    local_time(secs, tm);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%06lld", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<long long>(micros));
    return buf;
}

void write_line(std::string_view device, Direction d, const std::string& body) {
    std::lock_guard lock(g_mutex);
    if (!g_file) return;
    std::fprintf(g_file.get(), "%s %.*s %s %s\n", time_stamp().c_str(),
                 static_cast<int>(device.size()), device.data(), direction_mark(d), body.c_str());
    std::fflush(g_file.get());
}

}  // namespace

void start_from_environment() {
    const char* name = std::getenv("UART_TRACE");
    std::lock_guard lock(g_mutex);
    if (name == nullptr || *name == '\0') return;
    if (g_file && g_file_name == name) return;
    g_file.reset(std::fopen(name, "a"));
    g_file_name = g_file ? name : "";
}

std::string format_bytes(std::span<const std::uint8_t> bytes) {
    std::string out;
    char hex[8];
    if (is_text(bytes)) {
        out += '"';
        for (std::uint8_t b : bytes) {
            switch (b) {
                case '\r': out += "\\r"; break;
                case '\n': out += "\\n"; break;
                case '\t': out += "\\t"; break;
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                default: out += static_cast<char>(b);
            }
        }
        out += '"';
        return out;
    }
    std::snprintf(hex, sizeof hex, "[%zu]", bytes.size());
    out += hex;
    for (std::uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, " %02x", b);
        out += hex;
    }
    return out;
}

void record(std::string_view device, Direction direction, std::span<const std::uint8_t> bytes) {
    {
        std::lock_guard lock(g_mutex);
        if (!g_file || bytes.empty()) return;
    }
    write_line(device, direction, format_bytes(bytes));
}

void note(std::string_view device, std::string_view text) {
    write_line(device, Direction::Note, std::string(text));
}

}  // namespace uart::trace
