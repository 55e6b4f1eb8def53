// The texts the console prints (see simulator/CONSOLE.md), as pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "flash_disk.h"
#include "tq318/simulator.h"

namespace tq318::sim {

inline constexpr std::string_view kBootNoise = "\r\nTQ-318 boot loader\r\nChecking flash ... ok\r\n";
inline constexpr std::string_view kPasswordPrompt = "password:";
inline constexpr std::string_view kLoginIncorrect = "\r\nLogin incorrect\r\n";
inline constexpr std::string_view kReadyToReceive = "\r\nReady to receive file !";
inline constexpr std::size_t kBios1AnswerLength = 50;

std::string prompt_text(std::string_view model);                 // "\r\n" + model + ">"
std::string banner_text(std::string_view mode_code);              // "HALVERN Tovrane V1.2" + code + " repair console\r\n"
std::string ver_text(std::string_view model, bool udp);
std::string dir_text(const FlashDisk& a, const FlashDisk& b);
// One listing line without its line end: the size's first digit stands 41
// characters after the ")".
std::string dir_entry_text(std::size_t index, const StoredFile& file);
std::string com_current_text(int port, const ComSetting& s);     // "\r\nCOM N Current set is: 115200,8,0,1"
std::string com_set_text(int port, const ComSetting& s);         // "\r\nCOM N Set to: 9600,8,n,1"
std::string disk_size_text(std::uint64_t a_kib, std::uint64_t b_kib);
std::string not_enough_space_text(char disk, std::uint64_t need, std::uint64_t free);
std::string image_report_text(std::size_t size, std::uint16_t crc);
// The answer to "bios1" without an image: with the prompt exactly 50 characters
// (the prompt is not included here). Empty when the prompt alone is 50 or longer.
std::string no_image_answer(std::string_view prompt);
// A worded answer of the fault knobs with its fields filled in: "{prompt}"
// the prompt, "{size}" the image's size, "{crc}" its CRC-16/XMODEM as four
// upper-case hex digits, "{wrong-crc}" four that are not its CRC. Any other
// text is kept as it is.
struct AnswerFields { std::string_view prompt; std::size_t size = 0; std::uint16_t crc = 0; };
std::string fill_answer(std::string_view wording, const AnswerFields& fields);

}  // namespace tq318::sim
