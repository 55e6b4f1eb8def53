// The controller's network and COM port settings, and parsing their console forms.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tq318/simulator.h"

namespace tq318::sim {

inline constexpr int kComPorts = 8;  // the controller's COM 1..8

struct Settings {
  std::string ip = "192.168.1.1";
  std::string mask = "255.255.255.0";
  std::string gateway = "192.168.1.254";
  std::array<ComSetting, kComPorts> com{};
};

// "192.168.001.010" -> "192.168.1.10"; nullopt unless four decimal fields of
// 1..3 digits each, 0..255.
std::optional<std::string> normalize_ipv4(std::string_view text);

// A whole decimal number in [lo, hi], nothing else.
std::optional<std::uint32_t> parse_number(std::string_view text, std::uint32_t lo, std::uint32_t hi);

// Parity as a letter n/e/o/m/s (either case) or a digit 0..4 -> 0..4.
std::optional<std::uint32_t> parse_parity(std::string_view text);
char parity_letter(std::uint32_t parity);

// "BAUD DATA PARITY STOP" words -> a setting; nullopt when a value is out of
// range (baud 50..4000000, data 5..8, stop 1..2).
std::optional<ComSetting> parse_com_setting(const std::vector<std::string_view>& words);

// Splits on blanks and tabs, dropping empty words.
std::vector<std::string_view> split_words(std::string_view line);

}  // namespace tq318::sim
