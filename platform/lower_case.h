// The one lower-casing rule behind every comparison that ignores letter case (blacklist names,
// file names, process names, own-path checks). Locale-independent and thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace tovarek {

char16_t LowerCaseChar(char16_t c);
std::u16string LowerCase(std::u16string_view text);

}  // namespace tovarek
