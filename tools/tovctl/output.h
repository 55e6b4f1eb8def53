// What tovctl prints: JSON objects (device text is Latin-1 bytes, turned into
// UTF-8 strings), one-line device texts and the meaning of a result code.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace tovctl {

using Json = nlohmann::ordered_json;

// Latin-1 bytes as a UTF-8 string: every byte is one character.
std::string utf8(std::string_view latin1);

// The object on one line of standard output, flushed.
void print_json(const Json& object);

// One line of device text for a person: line ends and surrounding blanks removed.
std::string one_line(std::string_view text);

// A console's reply quoted exactly but on one line: the line ends around it
// removed, those within it one blank, blanks kept (a blank after the prompt
// is the reason it is no prompt), control bytes escaped as printable() does.
std::string reply_line(std::string_view text);

// Bytes from files or devices for a terminal, so nothing read can steer it:
// control bytes (below 0x20, 0x7f) and bytes that are not UTF-8 shown as
// "\x1b" and so on, the C1 controls and the bidirectional controls as "\u009b".
std::string printable(std::string_view bytes);

std::string_view code_meaning(unsigned code);

}  // namespace tovctl
