// Console commands: settings, queries, and the commands that start a transfer.
#include <algorithm>
#include <cctype>

#include "console.h"
#include "console_text.h"
#include "crc16.h"

namespace tq318::sim {
namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

constexpr std::uint32_t kMaxDiskKib = 1u << 20;  // 1 GiB per disk

}  // namespace

void Console::run_command(const std::string& line, Millis now) {
  const auto words = split_words(line);
  if (words.empty()) {
    if (line.empty() && faults_.byte_stream_ms > 0 && !faults_.silent) {
      // A lone CR answered by a slow trickle of noise before the prompt.
      Millis start = now_;
      if (!steps_.empty()) start = std::max({start, steps_.back().due, steps_.back().stream_until});
      Step stream{start, ".", std::nullopt, start + faults_.byte_stream_ms, false};
      pending_bytes_ += stream.bytes.size();
      steps_.push_back(std::move(stream));
    }
    reply("");
    return;
  }
  const std::string word = lower(words[0]);
  const std::vector<std::string_view> args(words.begin() + 1, words.end());
  if (std::find(faults_.mute_commands.begin(), faults_.mute_commands.end(), word) !=
      faults_.mute_commands.end()) {
    return;  // taken, never answered
  }

  if (word == "ip") return cmd_address(words[0], settings_.ip, "IP=", args);
  if (word == "mask") return cmd_address(words[0], settings_.mask, "MASK=", args);
  if (word == "gateway") return cmd_address(words[0], settings_.gateway, "Gateway=", args);
  if (word == "setcom") return cmd_setcom(args);
  if (word == "disksize") return cmd_disksize(args);
  if (word == "dir") return reply(dir_text(disk_a_, disk_b_));
  if (word == "ver") return reply(ver_text(options_.model, options_.udp));
  if (word == "inp") {
    const bool probe = !args.empty() && lower(args[0]) == "30a";
    return reply("\r\ndata=" + (probe ? options_.probe_data : std::string("00")));
  }
  if (word == "load" || word == "loadr") return begin_transfer(Target::disk_a, now);
  if (word == "loadb") return begin_transfer(Target::disk_b, now);
  if (word == "loadfirmware") return begin_transfer(options_.mode_code == "MS" ? Target::disk_a : Target::disk_b, now);
  if (word == "upload") return begin_transfer(Target::image, now);
  if (word == "bios1") return cmd_bios1();
  if (word == "del" || word == "delb") {
    delete_disk_ = word == "delb" ? 'B' : 'A';
    mode_ = Mode::confirm_delete;
    return reply("\r\nDelete all files in disk " + std::string(1, delete_disk_) + " (Y/N)?", false);
  }
  if (word == "reset") return power_restart(now);
  reply("\r\nUnknown command: " + std::string(words[0]));
}

void Console::cmd_address(std::string_view, std::string& value, std::string_view key,
                          const std::vector<std::string_view>& args) {
  if (args.size() > 1) return reply("\r\nInvalid address");
  if (args.size() == 1) {
    auto address = normalize_ipv4(args[0]);
    if (!address) return reply("\r\nInvalid address");
    value = *address;
  }
  reply("\r\n" + std::string(key) + value);
}

void Console::cmd_setcom(const std::vector<std::string_view>& args) {
  const auto port = args.empty() ? std::nullopt : parse_number(args[0], 1, kComPorts);
  if (!port || (args.size() != 1 && args.size() != 5)) return reply("\r\nInvalid setting");
  ComSetting& current = settings_.com[*port - 1];
  if (args.size() == 1) return reply(com_current_text(static_cast<int>(*port), current));
  const auto setting = parse_com_setting({args.begin() + 1, args.end()});
  if (!setting) return reply("\r\nInvalid setting");
  current = *setting;
  reply(com_set_text(static_cast<int>(*port), current));
}

void Console::cmd_disksize(const std::vector<std::string_view>& args) {
  if (args.size() == 2) {
    const auto a = parse_number(args[0], 1, kMaxDiskKib);
    const auto b = parse_number(args[1], 1, kMaxDiskKib);
    if (!a || !b) return reply("\r\nInvalid size");
    disk_a_.set_capacity(std::uint64_t{*a} * 1024);
    disk_b_.set_capacity(std::uint64_t{*b} * 1024);
  } else if (!args.empty()) {
    return reply("\r\nInvalid size");
  }
  reply(disk_size_text(disk_a_.capacity() / 1024, disk_b_.capacity() / 1024));
}

void Console::cmd_bios1() {
  if (faults_.bios1_answer) return reply_raw(fill_answer(*faults_.bios1_answer, {.prompt = prompt()}));
  if (!image_in_memory_) {
    return reply(no_image_answer(prompt_text(options_.model)));
  }
  image_installed_ = true;
  reply("\r\nInstalling image ... done.", false);
  reply("\r\nTovrane image installed", true, kInstallPauseMs);
}

}  // namespace tq318::sim
