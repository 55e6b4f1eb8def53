#include "cli_options.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>

namespace tq318::sim {
namespace {

template <typename T>
T number(std::string_view name, std::string_view text) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size())
    throw CliError("--" + std::string(name) + ": not a number: " + std::string(text));
  return value;
}

double real(std::string_view name, std::string_view text) {
  try {
    std::size_t used = 0;
    const double v = std::stod(std::string(text), &used);
    if (used == text.size() && v >= 0.0 && v <= 1.0) return v;
  } catch (const std::exception&) {
  }
  throw CliError("--" + std::string(name) + ": expected a probability 0..1: " + std::string(text));
}

std::uint8_t byte_value(std::string_view name, std::string_view text) {
  if (text.size() == 1) return static_cast<std::uint8_t>(text[0]);
  if (text.size() > 2 && text.substr(0, 2) == "0x") {
    unsigned v = 0;
    const auto [end, ec] = std::from_chars(text.data() + 2, text.data() + text.size(), v, 16);
    if (ec == std::errc{} && end == text.data() + text.size() && v <= 0xFF) return static_cast<std::uint8_t>(v);
  }
  throw CliError("--" + std::string(name) + ": expected one character or 0xNN: " + std::string(text));
}

struct Option {
  bool takes_value;
  std::string_view help;
  std::function<void(CliConfig&, std::string_view name, std::string_view value)> apply;
};

const std::map<std::string_view, Option>& options() {
  static const std::map<std::string_view, Option> table = {
      {"help", {false, "show this list", [](CliConfig& c, auto, auto) { c.help = true; }}},
      {"version", {false, "print the version and exit", [](CliConfig& c, auto, auto) { c.version = true; }}},
      {"model", {true, "MODEL  model in the prompt (TQ318-5314A)", [](CliConfig& c, auto, auto v) { c.options.model = v; }}},
      {"mode-code", {true, "XX  banner mode code, 2 characters (MS)", [](CliConfig& c, auto n, auto v) {
         if (v.size() != 2) throw CliError("--" + std::string(n) + ": expected 2 characters");
         c.options.mode_code = v;
       }}},
      {"password", {true, "TEXT  ask for this password at boot", [](CliConfig& c, auto, auto v) { c.options.password = std::string(v); }}},
      {"echo", {false, "echo typed characters", [](CliConfig& c, auto, auto) { c.options.echo = true; }}},
      {"baud", {true, "N  pace the line at N baud, 10 bits a byte (0: unpaced)", [](CliConfig& c, auto n, auto v) { c.options.baud = number<std::uint32_t>(n, v); }}},
      {"disk-a-kib", {true, "N  disk A capacity in KiB (1024)", [](CliConfig& c, auto n, auto v) { c.options.disk_a_kib = number<std::uint32_t>(n, v); }}},
      {"disk-b-kib", {true, "N  disk B capacity in KiB (3072)", [](CliConfig& c, auto n, auto v) { c.options.disk_b_kib = number<std::uint32_t>(n, v); }}},
      {"flash-dir", {true, "DIR  keep the disks in DIR/A and DIR/B", [](CliConfig& c, auto, auto v) { c.options.flash_dir = v; }}},
      {"restart-after-open", {true, "MS  play a power restart MS after the port is opened", [](CliConfig& c, auto n, auto v) { c.options.restart_after_open_ms = number<int>(n, v); }}},
      {"boot", {false, "play the boot sequence at start", [](CliConfig& c, auto, auto) { c.options.boot_on_start = true; }}},
      {"udp", {false, "\"ver\" reports Tovrane_UDP", [](CliConfig& c, auto, auto) { c.options.udp = true; }}},
      {"probe-data", {true, "TEXT  \"inp 30a\" answers data=TEXT (50)", [](CliConfig& c, auto, auto v) { c.options.probe_data = v; }}},
      {"seed", {true, "N  seed of the fault RNG (1)", [](CliConfig& c, auto n, auto v) { c.options.seed = number<std::uint64_t>(n, v); }}},
      {"link", {true, "PATH  symlink PATH to the port while running", [](CliConfig& c, auto, auto v) { c.link = v; }}},
      {"received", {true, "FILE  at the end, write every line the console received to FILE, one a line", [](CliConfig& c, auto, auto v) { c.received = v; }}},
      {"silent", {false, "fault: take commands, answer nothing", [](CliConfig& c, auto, auto) { c.faults.silent = true; }}},
      {"garbage", {true, "N  fault: N random bytes before each reply", [](CliConfig& c, auto n, auto v) { c.faults.garbage_before_reply = number<std::size_t>(n, v); }}},
      {"text-after-prompt", {true, "TEXT  fault: append TEXT after every prompt", [](CliConfig& c, auto, auto v) { c.faults.text_after_prompt = v; }}},
      {"long-reply", {true, "N  fault: pad each reply with N characters", [](CliConfig& c, auto n, auto v) { c.faults.long_reply_bytes = number<std::size_t>(n, v); }}},
      {"reply-delay", {true, "MS  fault: delay each reply", [](CliConfig& c, auto n, auto v) { c.faults.reply_delay_ms = number<std::uint32_t>(n, v); }}},
      {"byte-stream", {true, "MS  fault: after a lone CR send a byte every 20 ms for MS", [](CliConfig& c, auto n, auto v) { c.faults.byte_stream_ms = number<std::uint32_t>(n, v); }}},
      {"nak-block", {true, "N  fault: NAK block N (0 = header) ...", [](CliConfig& c, auto n, auto v) { c.faults.nak_block = number<int>(n, v); }}},
      {"nak-times", {true, "K  ... its first K tries", [](CliConfig& c, auto n, auto v) { c.faults.nak_times = number<int>(n, v); }}},
      {"nak-rate", {true, "P  fault: NAK any good block with probability P", [](CliConfig& c, auto n, auto v) { c.faults.nak_rate = real(n, v); }}},
      {"swallow-block", {true, "N  fault: do not answer block N ...", [](CliConfig& c, auto n, auto v) { c.faults.swallow_block = number<int>(n, v); }}},
      {"swallow-times", {true, "K  ... its first K tries", [](CliConfig& c, auto n, auto v) { c.faults.swallow_times = number<int>(n, v); }}},
      {"swallow-rate", {true, "P  fault: discard any block unanswered with probability P", [](CliConfig& c, auto n, auto v) { c.faults.swallow_rate = real(n, v); }}},
      {"lose-ack-block", {true, "N  fault: store block N but drop its ACK ...", [](CliConfig& c, auto n, auto v) { c.faults.lose_ack_block = number<int>(n, v); }}},
      {"lose-ack-times", {true, "K  ... the first K times", [](CliConfig& c, auto n, auto v) { c.faults.lose_ack_times = number<int>(n, v); }}},
      {"lose-ack-rate", {true, "P  fault: store any block but drop its ACK with probability P", [](CliConfig& c, auto n, auto v) { c.faults.lose_ack_rate = real(n, v); }}},
      {"adapter-latency", {true, "MS  a USB serial adapter: hand output to the pty in packets, a partial one MS after its first byte (0: none)", [](CliConfig& c, auto n, auto v) { c.options.adapter_latency_ms = number<std::uint32_t>(n, v); }}},
      {"adapter-packet", {true, "N  the adapter's packet size in bytes (62)", [](CliConfig& c, auto n, auto v) { c.options.adapter_packet = std::max<std::size_t>(1, number<std::size_t>(n, v)); }}},
      {"transfer-timeout", {true, "MS  give up receiving a file after MS of silence (10000)", [](CliConfig& c, auto n, auto v) { c.options.transfer_timeout_ms = number<std::uint32_t>(n, v); }}},
      {"other-byte-block", {true, "N  fault: answer block N with --other-byte", [](CliConfig& c, auto n, auto v) { c.faults.other_byte_block = number<int>(n, v); }}},
      {"other-byte", {true, "C  the byte for --other-byte-block (X; a character or 0xNN)", [](CliConfig& c, auto n, auto v) { c.faults.other_byte = byte_value(n, v); }}},
      {"hangup-after-block", {true, "N  fault: hang up right after acknowledging block N", [](CliConfig& c, auto n, auto v) { c.faults.hangup_after_block = number<int>(n, v); }}},
      {"bios1-answer", {true, "TEXT  answer \"bios1\" with TEXT ({prompt}); installs nothing", [](CliConfig& c, auto, auto v) { c.faults.bios1_answer = std::string(v); }}},
      {"upload-report", {true, "TEXT  report an upload with TEXT ({prompt} {size} {crc} {wrong-crc})", [](CliConfig& c, auto, auto v) { c.faults.upload_report = std::string(v); }}},
  };
  return table;
}

}  // namespace

CliConfig parse_cli(const std::vector<std::string_view>& args) {
  CliConfig config;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg.substr(0, 2) != "--") throw CliError("unexpected argument: " + std::string(arg));
    arg.remove_prefix(2);
    std::string_view name = arg;
    std::optional<std::string_view> value;
    if (const auto eq = arg.find('='); eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    const auto it = options().find(name);
    if (it == options().end()) throw CliError("unknown option: --" + std::string(name));
    const Option& opt = it->second;
    if (opt.takes_value && !value) {
      if (i + 1 >= args.size()) throw CliError("--" + std::string(name) + " needs a value");
      value = args[++i];
    } else if (!opt.takes_value && value) {
      throw CliError("--" + std::string(name) + " takes no value");
    }
    opt.apply(config, name, value.value_or(""));
  }
  return config;
}

std::string cli_help() {
  std::string out =
      "Usage: tq318-sim [options]\n"
      "Plays a TQ-318 controller console on a pseudo-terminal until SIGINT or SIGTERM.\n"
      "Prints \"device: /dev/pts/N\" and \"UART_COM1=/dev/pts/N\"; SIGUSR1 plays a power restart.\n\n";
  for (const auto& [name, opt] : options()) {
    std::string_view help = opt.help;
    std::string left = "  --" + std::string(name);
    if (opt.takes_value) {
      const auto space = help.find("  ");
      left += " " + std::string(help.substr(0, space));
      help.remove_prefix(space + 2);
    }
    if (left.size() < 32) left.append(32 - left.size(), ' ');
    out += left + " " + std::string(help) + "\n";
  }
  return out;
}

}  // namespace tq318::sim
