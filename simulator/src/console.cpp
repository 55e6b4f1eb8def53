// Console core: time, scheduling of output, line assembly, boot and login.
#include "console.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "console_text.h"

namespace tq318::sim {
namespace {

std::filesystem::path disk_dir(const std::string& flash_dir, const char* letter) {
  if (flash_dir.empty()) return {};
  return std::filesystem::path(flash_dir) / letter;
}

std::string trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return std::string(s.substr(first, last - first + 1));
}

}  // namespace

Console::Console(SimulatorOptions options, Millis now)
    : options_(std::move(options)),
      disk_a_('A', std::uint64_t{options_.disk_a_kib} * 1024, disk_dir(options_.flash_dir, "A")),
      disk_b_('B', std::uint64_t{options_.disk_b_kib} * 1024, disk_dir(options_.flash_dir, "B")),
      rng_(options_.seed),
      now_(now) {}

void Console::power_restart(Millis now) {
  now_ = std::max(now_, now);
  steps_.clear();
  pending_bytes_ = 0;
  line_.clear();
  assembler_.reset();
  image_in_memory_ = false;  // the uploaded image lives in RAM
  mode_ = Mode::booting;
  ++boots_;
  schedule(0, std::string(kBootNoise));
  if (options_.password) {
    schedule(kBootPauseMs, std::string(kPasswordPrompt), Mode::password);
  } else {
    schedule(2 * kBootPauseMs, banner_text(options_.mode_code));
    schedule(kBootPauseMs, prompt(), Mode::command);
  }
}

void Console::feed(std::span<const std::uint8_t> bytes, Millis now) {
  advance(now);
  for (std::uint8_t b : bytes) take_byte(b, now_);
}

void Console::feed(std::string_view text, Millis now) {
  feed(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), now);
}

std::string Console::take_output(Millis now) {
  advance(now);
  return std::exchange(out_, {});
}

std::optional<Millis> Console::next_due() const {
  std::optional<Millis> due;
  if (!steps_.empty()) due = steps_.front().due;
  if (mode_ == Mode::transfer) {
    const Millis deadline = transfer_.last_activity + kTransferTimeoutMs;
    due = due ? std::min(*due, deadline) : deadline;
  }
  return due;
}

std::optional<Millis> Console::next_output_due() const {
  if (steps_.empty()) return std::nullopt;
  return steps_.front().due;
}

void Console::advance(Millis now) {
  now_ = std::max(now_, now);
  if (mode_ == Mode::transfer && now_ >= transfer_.last_activity + kTransferTimeoutMs) {
    // The sender went away: drop the partial file and go back to the prompt.
    assembler_.reset();
    transfer_ = Transfer{};
    mode_ = Mode::command;
    reply("");
  }
  while (!steps_.empty() && steps_.front().due <= now_) {
    Step& step = steps_.front();
    out_ += step.bytes;
    if (step.then) mode_ = *step.then;
    if (step.hang_up) hang_up_ = true;
    if (step.stream_until > 0 && step.due + kStreamIntervalMs < step.stream_until) {
      step.due += kStreamIntervalMs;
      continue;
    }
    pending_bytes_ -= std::min(pending_bytes_, step.bytes.size());
    steps_.pop_front();
  }
}

void Console::schedule(Millis delay, std::string bytes, std::optional<Mode> then) {
  Millis start = now_;
  if (!steps_.empty()) start = std::max({start, steps_.back().due, steps_.back().stream_until});
  // A backlog the line cannot drain (a peer that keeps sending while nobody
  // reads) loses the new text, never the mode changes.
  if (steps_.size() >= kMaxPendingSteps || pending_bytes_ + bytes.size() > kMaxPendingBytes) {
    if (!then) return;
    bytes.clear();
  }
  pending_bytes_ += bytes.size();
  steps_.push_back(Step{start + delay, std::move(bytes), then});
}

std::string Console::prompt() const { return prompt_text(options_.model) + faults_.text_after_prompt; }

std::string Console::garbage(std::size_t n) {
  static constexpr std::string_view alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string out(std::min(n, kMaxFaultBytes), ' ');
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  for (char& c : out) c = alphabet[pick(rng_)];
  return out;
}

void Console::reply(std::string_view body, bool with_prompt, Millis extra_delay) {
  if (faults_.silent) return;
  std::string text = garbage(faults_.garbage_before_reply);
  text += body;
  if (with_prompt) {
    const std::size_t pad = std::min(faults_.long_reply_bytes, kMaxFaultBytes);
    for (std::size_t i = 0; i < pad; ++i) text += static_cast<char>('0' + i % 10);
    text += prompt();
  }
  schedule(faults_.reply_delay_ms + extra_delay, std::move(text));
}

void Console::reply_raw(std::string text) {
  if (faults_.silent) return;
  schedule(faults_.reply_delay_ms, std::move(text));
}

void Console::take_byte(std::uint8_t byte, Millis now) {
  switch (mode_) {
    case Mode::booting:
      return;  // the controller is not listening yet
    case Mode::transfer:
      transfer_.last_activity = now;
      if (auto block = assembler_.push(byte, now)) take_block(*block);
      return;
    case Mode::password:
    case Mode::command:
    case Mode::confirm_delete:
      break;
  }
  const bool echo = options_.echo && mode_ != Mode::password;
  if (byte == '\r') {
    end_line(now);
  } else if (byte == '\n' || byte == 0) {
    // a line feed after the CR, and the zero byte after "bios1", are ignored
  } else if (byte == 0x08 || byte == 0x7F) {
    if (!line_.empty()) {
      line_.pop_back();
      if (echo) schedule(0, "\b \b");
    }
  } else if (line_.size() < kMaxLine) {
    line_ += static_cast<char>(byte);
    if (echo) schedule(0, std::string(1, static_cast<char>(byte)));
  }
}

void Console::end_line(Millis now) {
  std::string line = std::exchange(line_, {});
  lines_.emplace_back(now, line);
  if (lines_.size() > kMaxLines) lines_.pop_front();
  switch (mode_) {
    case Mode::password:
      check_password(line);
      break;
    case Mode::confirm_delete:
      confirm_delete(line);
      break;
    case Mode::command:
      if (!faults_.silent) run_command(line, now);
      break;
    case Mode::booting:
    case Mode::transfer:
      break;
  }
}

void Console::check_password(const std::string& line) {
  mode_ = Mode::booting;
  if (!options_.password || line == *options_.password) {
    schedule(kBootPauseMs, banner_text(options_.mode_code));
    schedule(kBootPauseMs, prompt(), Mode::command);
  } else {
    schedule(0, std::string(kLoginIncorrect));
    schedule(kBootPauseMs, std::string(kPasswordPrompt), Mode::password);
  }
}

void Console::confirm_delete(const std::string& line) {
  mode_ = Mode::command;
  const std::string answer = trim(line);
  std::string word = answer;
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (std::find(faults_.mute_commands.begin(), faults_.mute_commands.end(), word) !=
      faults_.mute_commands.end()) {
    return;  // the answer taken, never answered
  }
  if (answer == "Y" || answer == "y") {
    disk(delete_disk_).erase_all();
    reply("\r\nAll files deleted");
  } else {
    reply("\r\nCancelled");
  }
}

}  // namespace tq318::sim
