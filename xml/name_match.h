// Name comparison shared by end-tag matching and path navigation.
#pragma once

#include <string_view>

namespace tovarek {

// Characters that end an element name inside a stored start tag or a path step.
inline bool EndsPathName(char16_t c) {
    return c == ' ' || c == '=' || c == '/' || c == '[' || c == ']';
}

inline char16_t FoldAscii(char16_t c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c + 32) : c;
}

// `pathName` begins with `name` and ends there or goes on with a blank, '=', '/', '[' or ']'.
// With `ignoreCase`, ASCII letters compare without case until the first character above 127,
// which both names then share; after it the rest compares exactly.
bool NameMatches(std::u16string_view pathName, std::u16string_view name, bool ignoreCase);

}  // namespace tovarek
