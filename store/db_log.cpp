#include "store/db_log.h"

#include "platform/code_page.h"
#include "platform/log_file.h"
#include "platform/module_info.h"
#include "platform/program_folders.h"

namespace tovarek {

std::string ToCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

void LogDbError(const std::string& messageUtf8, bool enabled) {
    if (!enabled) return;
    std::string text = Utf16ToAnsi(Utf8ToUtf16(messageUtf8));
    WriteLogFile(LogFolderOf(ModuleDir()) + "dberr.log", ToCrLf(text), LogWrite::kAppend);
}

}  // namespace tovarek
