// One name shown as what it is, on one line: the characters that could break the line, drive a
// terminal or reorder the text around them are written as escapes ("\n", "\x1b", "\u202e"), and
// the backslash itself as "\\", so every escaped text reads back to one name. Pure functions,
// thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace tovarek {

enum class EscapeRule {
    // Backslash, line feed, carriage return and tab only: the string escapes of a desktop entry.
    kDesktopEntry,
    // Those, every other control character (C0, DEL, C1), the line and paragraph separators
    // U+2028 and U+2029, and the bidirectional controls U+202A-U+202E and U+2066-U+2069: what
    // the program shows or writes of a name (lists, pop-up, logs, the command-line tool).
    kDisplay,
};

// `bytes` read as UTF-8 where they are well-formed; other bytes are kept as they are.
std::string EscapeName(std::string_view bytes, EscapeRule rule = EscapeRule::kDisplay);

// The same for text, by the display rule; unpaired surrogates (bytes a path could not decode)
// are kept as they are.
std::u16string EscapeName(std::u16string_view text);

// Whether EscapeName would change `bytes`: md5sum starts the line of such a name with a
// backslash, and so does the command-line tool.
bool NeedsEscape(std::string_view bytes);

inline const char* EscapedLineMark(std::string_view bytes) {
    return NeedsEscape(bytes) ? "\\" : "";
}

}  // namespace tovarek
