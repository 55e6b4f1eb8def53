// The kit every subcommand family shares: the global options, the context a
// handler runs in, usage errors, exit codes, the success and failure output,
// argument parsers and the resolution of a port to its COM number.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "output.h"

namespace tovctl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitPort = 3;
inline constexpr int kExitRefused = 4;
// repair-os: the image was installed and the controller runs after its
// restart, but nothing compared the image's content (its report gave no
// CRC). Not 0, which needs proof; not 1, since repeating the repair would
// prove no more: a script checks the controller another way.
inline constexpr int kExitUnproven = 5;

inline constexpr std::size_t kReplySize = 2048;

struct Options {
    std::vector<std::string> ports;
    std::string trace;
    bool json = false;
};

// What a subcommand handler works with.
struct Context {
    const Options& options;
    std::string name;        // the subcommand
    std::uint8_t port = 0;   // the open COM number (0: not opened by the dispatcher)
    std::vector<char> reply = std::vector<char>(kReplySize, '\0');
    char* r() { return reply.data(); }
};

// A usage error found after parsing.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class PortUse { None, One, Several };

struct Command {
    CLI::App* app = nullptr;
    PortUse port = PortUse::One;
    // Checks what CLI11 cannot before the port is opened; throws UsageError.
    std::function<void()> check;
    std::function<int(Context&)> run;
};
using Commands = std::vector<Command>;

// Output of a handler.
int device_failure(Context& ctx, unsigned code);
int success(Context& ctx, const Json& j, const std::string& human);
Json ok_object(const Context& ctx);
std::string reply_line(Context& ctx);

// Argument checks.
std::optional<long long> parse_integer(std::string_view text, long long min, long long max);
bool is_ipv4(std::string_view text);
std::optional<char> parse_disk(std::string_view text);
std::optional<std::int32_t> parse_parity(std::string_view text);
bool readable_file(const std::string& path);
// CLI11 validators built on them.
CLI::Validator disk_letter();
CLI::Validator whole_number(long long min, long long max, std::string what);

// The COM number for PORT: a number, COM<n>, or a device path mapped through UART_COM<N>.
std::optional<std::uint8_t> resolve_port(const std::string& port_text, std::string& error);
// Opens `port` for the console; on failure prints why and returns kExitPort.
int open_port(const std::string& port_text, std::uint8_t port);

}  // namespace tovctl
