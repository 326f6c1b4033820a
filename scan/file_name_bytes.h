// File names as the scan shows them (UTF-16) and as the file system holds them (bytes). Every
// place in the scan's callers that turns a shown path back into bytes (deleting a finding,
// testing that it still exists, writing it to the scan log, resolving a root) goes through
// these two, so the text of a name and the bytes it came from stay one pair. Thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace tovarek {

// The bytes of `path` for system calls and logs.
std::string FileNameBytes(std::u16string_view path);

// The shown text of file-system bytes.
std::u16string FileNameText(std::string_view bytes);

}  // namespace tovarek
