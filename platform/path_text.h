// Lossless text of file names. Linux names are bytes and need not be valid UTF-8; a path that
// crosses the system boundary (walk, /proc, deletion, logs, command-line output) is decoded so
// that every byte comes back: valid UTF-8 as its characters, every other byte b as the lone
// surrogate U+DC80 + b. Encoding turns those surrogates back into their bytes, so
// Utf16ToPath(PathToUtf16(bytes)) == bytes for any bytes. Pure and thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace tovarek {

// Bytes of a path -> UTF-16 text, lossless.
std::u16string PathToUtf16(std::string_view bytes);

// UTF-16 text -> bytes of a path: U+DC80..U+DCFF become the bytes 0x80..0xFF, everything else
// is UTF-8. A lone surrogate outside that range has no byte form and becomes '?'.
std::string Utf16ToPath(std::u16string_view text);

// Text holding paths for the terminal (ravlin-cli's output): the exact bytes of Utf16ToPath when
// the ANSI code page is UTF-8; else each escaped byte as itself and the rest in the code page's
// own form ('?' for what has none). Logs write their paths with Utf16ToPath instead.
std::string Utf16ToAnsiPath(std::u16string_view text);

}  // namespace tovarek
