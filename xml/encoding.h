// Conversions between named encodings (the names of the code page name table) and the search for
// the encoding a document declares. Pure functions, thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tovarek {

// Converts `sourceLength` units of `source` (bytes; 16-bit units for UTF-16; 32-bit units for
// UTF-32) from `sourceName` to `targetName`. Returns the units the result has (bytes, 16-bit or
// 32-bit units by the target), writing them to `target` only when it is not null and `capacity`
// holds them all; -1 when `target` is given but too small (nothing is written). 0 when the pair
// is not served: an encoding without a converter on this system. *lost is set when characters had
// no form in the target or the source held invalid sequences (they become '?' or U+FFFD).
// Unknown names mean the ANSI code page.
int64_t ConvertEncoding(std::u16string_view targetName, std::u16string_view sourceName,
                        const void* source, size_t sourceLength, void* target, size_t capacity,
                        bool* lost = nullptr);

// Whether text in `name` can be converted on this system at all.
bool IsEncodingSupported(std::u16string_view name);

// The encoding named by the XML declaration at the very start of `text` ("encoding" attribute),
// or by an HTML <meta http-equiv="Content-Type" content="...; charset=X"> inside <html> before
// </head>. Empty when the text declares none.
std::u16string FindDeclaredEncoding(std::u16string_view text);

}  // namespace tovarek
