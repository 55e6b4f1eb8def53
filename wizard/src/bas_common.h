// The wizard's small file and path routines, for Linux paths ("/").
#pragma once

#include <QString>

namespace pelorim {

// Blanks removed at both ends, then one pair of enclosing double quotes dropped.
QString unquotedText(const QString& text);

// True when `path` (quotes and blanks around it allowed, one trailing "/" or
// "\" ignored) names something that can be opened for reading and is not a
// folder. Never fails and never blocks (a FIFO counts as openable).
bool fileCanBeOpened(const QString& path);

// There are no short path names on Linux: the path comes back unchanged.
QString shortPathOf(const QString& path);

// The characters before the first NUL, or the whole text when there is none.
QString textBeforeNul(const QString& text);

// Deletes the file `name` from the folder `windowsFolder` if it can be opened
// there: clears its read-only state (u+w) first. Does nothing when the folder
// is empty, is the root of the file system, or `name` is not a bare file name,
// so it never builds a path at "/". Throws FileError when the delete fails.
void killWinTemp(const QString& name, const QString& windowsFolder);

}  // namespace pelorim
