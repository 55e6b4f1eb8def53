// The wizard's small file and path routines on Windows (8-bit paths, the
// system's code page).
#pragma once

#include <string>

namespace pelorim {

// Blanks removed at both ends, then one pair of enclosing double quotes dropped.
std::string unquotedText(const std::string& text);

// True when `path` (quotes and blanks around it allowed, one trailing "\"
// ignored) names a file that can be opened for reading; a folder gives false.
// Never fails.
bool fileCanBeOpened(const std::string& path);

// The system's short form of an existing path (GetShortPathNameA, 300
// characters); the path unchanged when there is none.
std::string shortPathOf(const std::string& path);

// The characters before the first NUL, or the whole text when there is none.
std::string textBeforeNul(const std::string& text);

// Deletes the file `name` from the folder `windowsFolder` (the value of
// Windir) when it can be opened there, its attributes cleared first. Does
// nothing when the folder is empty or `name` is not a bare file name, so no
// other path is ever built. Throws FileError when the reset or the delete fails.
void killWinTemp(const std::string& name, const std::string& windowsFolder);

}  // namespace pelorim
