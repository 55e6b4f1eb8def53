// The package's member list ("file.lst"): one member name a line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pelorim {

// Splits the list into lines. A line ends at a carriage return, a carriage
// return and line feed, a lone line feed (lists written on Linux), or the end
// of the text; the end characters are not part of the name. Nothing else is
// trimmed: blanks and letter case count. A final line end does not start an
// empty line.
std::vector<std::string> split_member_lines(std::string_view text);

// A name that would land outside the work folder if used as a file name:
// absolute, holding "/" or "\", ".", "..", or holding a NUL byte.
// The empty line is allowed (it names no member and is skipped).
bool is_unsafe_member_name(std::string_view name);

}  // namespace pelorim
