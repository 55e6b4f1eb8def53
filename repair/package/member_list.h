// The package's member list ("file.lst"): one member name a line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tq318::repair {

// Splits the list into lines. A line ends at a carriage return, a carriage
// return and line feed, a lone line feed (lists written on Linux), or the end
// of the text; the end characters are not part of the name. Nothing else is
// trimmed: blanks and letter case count. A final line end does not start an
// empty line.
std::vector<std::string> splitMemberLines(std::string_view text);

}  // namespace tq318::repair
