// Names and texts from files and the console are 8-bit bytes; shown or
// written as JSON they are taken as Latin-1.
#pragma once

#include <string>
#include <string_view>

namespace tq318::repair {

// Latin-1 bytes as UTF-8: every byte is one character.
std::string latin1ToUtf8(std::string_view latin1);

}  // namespace tq318::repair
