// Every byte of text that reaches a terminal or a report passes through
// here: file names may hold any bytes, and libtiff quotes them in its
// messages, so a name must neither move the cursor nor break a line.
#pragma once

#include <string>
#include <string_view>

namespace quorvex::cli {

// The text as one safe line: control characters (C0, DEL and the C1 range
// U+0080..U+009F) and bytes that are not part of valid UTF-8 are written as
// \xNN, one per byte, and a backslash as \\, so the shown text reads back
// to the exact bytes. Valid UTF-8 in any script stays as it is.
std::string printable(std::string_view text);

// Only the bytes that are not valid UTF-8 written as \xNN (a backslash as
// \\ when there are any): for JSON, whose writer escapes control
// characters itself but can only carry UTF-8.
std::string validUtf8(std::string_view text);

bool isValidUtf8(std::string_view text);

}  // namespace quorvex::cli
