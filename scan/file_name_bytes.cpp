#include "scan/file_name_bytes.h"

#include "platform/code_page.h"

namespace tovarek {

// The walk turns names into text through the ANSI code page, so the same conversion gives the
// bytes back for every name that code page can hold.
std::string FileNameBytes(std::u16string_view path) {
    return Utf16ToAnsi(path);
}

std::u16string FileNameText(std::string_view bytes) {
    return AnsiToUtf16(bytes);
}

}  // namespace tovarek
