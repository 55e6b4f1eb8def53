#include "settings.h"

#include <algorithm>
#include <charconv>

namespace tq318::sim {

std::optional<std::uint32_t> parse_number(std::string_view text, std::uint32_t lo, std::uint32_t hi) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size() || value < lo || value > hi) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

std::optional<std::string> normalize_ipv4(std::string_view text) {
  std::string out;
  for (int field = 0; field < 4; ++field) {
    const auto dot = text.find('.');
    const std::string_view part = field < 3 ? text.substr(0, dot) : text;
    if (field < 3 && dot == std::string_view::npos) return std::nullopt;
    if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return std::nullopt;
    const auto value = parse_number(part, 0, 255);
    if (!value) return std::nullopt;
    if (field > 0) out += '.';
    out += std::to_string(*value);
    if (field < 3) text.remove_prefix(dot + 1);
  }
  return out;
}

std::optional<std::uint32_t> parse_parity(std::string_view text) {
  if (text.size() != 1) return std::nullopt;
  switch (text[0]) {
    case 'n': case 'N': case '0': return 0;
    case 'e': case 'E': case '1': return 1;
    case 'o': case 'O': case '2': return 2;
    case 'm': case 'M': case '3': return 3;
    case 's': case 'S': case '4': return 4;
    default: return std::nullopt;
  }
}

char parity_letter(std::uint32_t parity) {
  constexpr std::string_view letters = "neoms";
  return parity < letters.size() ? letters[parity] : '?';
}

std::optional<ComSetting> parse_com_setting(const std::vector<std::string_view>& words) {
  if (words.size() != 4) return std::nullopt;
  const auto baud = parse_number(words[0], 50, 4000000);
  const auto data = parse_number(words[1], 5, 8);
  const auto parity = parse_parity(words[2]);
  const auto stop = parse_number(words[3], 1, 2);
  if (!baud || !data || !parity || !stop) return std::nullopt;
  return ComSetting{*baud, *data, *parity, *stop};
}

std::vector<std::string_view> split_words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

}  // namespace tq318::sim
