#include "console_text.h"

#include <cstdio>
#include <utility>

#include "settings.h"

namespace tq318::sim {
namespace {

constexpr std::size_t kSizeColumn = 41;  // offset of the size from the ")"

std::string disk_section(const FlashDisk& disk) {
  std::string out = "Files in Disk ";
  out += disk.letter();
  out += ":\r\n";
  for (std::size_t i = 0; i < disk.files().size(); ++i) out += dir_entry_text(i, disk.files()[i]) + "\r\n";
  out += "Total File number is " + std::to_string(disk.files().size()) + "\r\n";
  out += "Free space: " + std::to_string(disk.free());
  return out;
}

}  // namespace

std::string prompt_text(std::string_view model) { return "\r\n" + std::string(model) + ">"; }

std::string banner_text(std::string_view mode_code) {
  return "HALVERN Tovrane V1.2" + std::string(mode_code) + " repair console\r\n";
}

std::string ver_text(std::string_view model, bool udp) {
  return std::string(udp ? "\r\nTovrane_UDP for " : "\r\nTovrane for ") + std::string(model) +
         "\r\nFLASH MEMORY: 4MB\r\nVer. 1.23 build 003 Dec 06 2026";
}

std::string dir_entry_text(std::size_t index, const StoredFile& f) {
  char head[96];
  std::snprintf(head, sizeof head, "%zu) %-13s %04u/%02u/%02u %02u:%02u:%02u", index, f.name.c_str(),
                static_cast<unsigned>(f.year), static_cast<unsigned>(f.month), static_cast<unsigned>(f.day),
                static_cast<unsigned>(f.hour), static_cast<unsigned>(f.minute), static_cast<unsigned>(f.seconds2 * 2));
  std::string line = head;
  const std::size_t paren = line.find(')');
  if (line.size() < paren + kSizeColumn) line.append(paren + kSizeColumn - line.size(), ' ');
  char size[24];
  std::snprintf(size, sizeof size, "%05zX", f.data.size());
  return line + size;
}

std::string dir_text(const FlashDisk& a, const FlashDisk& b) {
  return "\r\n" + disk_section(a) + "\r\n" + disk_section(b);
}

std::string com_current_text(int port, const ComSetting& s) {
  return "\r\nCOM " + std::to_string(port) + " Current set is: " + std::to_string(s.baud) + "," +
         std::to_string(s.data_bits) + "," + std::to_string(s.parity) + "," + std::to_string(s.stop_bits);
}

std::string com_set_text(int port, const ComSetting& s) {
  const char p = parity_letter(s.parity);
  return "\r\nCOM " + std::to_string(port) + " Set to: " + std::to_string(s.baud) + "," + std::to_string(s.data_bits) +
         "," + std::string(1, p) + "," + std::to_string(s.stop_bits);
}

std::string disk_size_text(std::uint64_t a_kib, std::uint64_t b_kib) {
  return "\r\nSizeA=" + std::to_string(a_kib) + " SizeB=" + std::to_string(b_kib);
}

std::string not_enough_space_text(char disk, std::uint64_t need, std::uint64_t free) {
  return "\r\nNOT enough space on disk " + std::string(1, disk) + " (need " + std::to_string(need) + ", free " +
         std::to_string(free) + ")";
}

std::string image_report_text(std::size_t size, std::uint16_t crc) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(crc));
  return "\r\nImage received, " + std::to_string(size) + " bytes, CRC16=" + hex;
}

std::string no_image_answer(std::string_view prompt) {
  const std::string text = "\r\nNo OS image in memory, please upload it first";
  if (prompt.size() >= kBios1AnswerLength) return {};
  const std::size_t room = kBios1AnswerLength - prompt.size();
  if (text.size() + 2 <= room) return text + std::string(room - text.size() - 2, ' ') + "\r\n";
  return text.substr(0, room);
}

std::string fill_answer(std::string_view wording, const AnswerFields& fields) {
  auto hex = [](std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return std::string(text);
  };
  const std::pair<std::string_view, std::string> keys[] = {
      {"{prompt}", std::string(fields.prompt)},
      {"{size}", std::to_string(fields.size)},
      {"{crc}", hex(fields.crc)},
      {"{wrong-crc}", hex(static_cast<std::uint16_t>(fields.crc ^ 0x5A5Au))}};
  std::string out;
  for (std::size_t at = 0; at < wording.size();) {
    bool replaced = false;
    for (const auto& [key, value] : keys) {
      if (wording.substr(at, key.size()) == key) {
        out += value;
        at += key.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out += wording[at++];
  }
  return out;
}

}  // namespace tq318::sim
