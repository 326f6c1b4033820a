#include "scan/scan_log.h"

#include <sys/stat.h>

#include "platform/code_page.h"
#include "platform/local_time.h"
#include "platform/log_file.h"
#include "platform/name_escape.h"
#include "platform/path_text.h"
#include "platform/program_folders.h"

namespace tovarek {
namespace {

constexpr char16_t kVanishedMark[] = u"(已删除)";
constexpr char16_t kSystemFileMark[] = u"(系统文件，未处理)";

}  // namespace

std::u16string ScanResultLine(const std::u16string& filePath, bool systemFile) {
    if (systemFile) return filePath + kSystemFileMark;
    struct stat st;
    // lstat: a link that lost its target is still an entry of its own.
    if (lstat(Utf16ToPath(filePath).c_str(), &st) == 0) return filePath;
    return filePath + kVanishedMark;
}

std::string ScanLogPath(const std::u16string& moduleDir, int64_t startTime) {
    return LogFolderOf(Utf16ToPath(moduleDir)) + "sl" +
           Utf16ToPath(FormatLocalTime(u"%Y-%m-%d %H_%M_%S", startTime)) + ".log";
}

int WriteScanLog(const std::u16string& moduleDir, int64_t startTime,
                 const std::vector<std::u16string>& lines,
                 const std::vector<std::u16string>& notes) {
    if (lines.empty()) return 0;
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::u16string& safe = lines[i];
        // The file name as the bytes the file system holds, whatever the code page; the page's
        // own marks in the code page.
        std::u16string_view mark;
        for (std::u16string_view m :
             {std::u16string_view(kVanishedMark), std::u16string_view(kSystemFileMark)}) {
            if (safe.size() >= m.size() && safe.compare(safe.size() - m.size(), m.size(), m) == 0) {
                mark = m;
            }
        }
        // Escaped, so a name can neither forge a line nor pass for another.
        text +=
            Utf16ToPath(EscapeName(std::u16string_view(safe).substr(0, safe.size() - mark.size())));
        text += Utf16ToAnsi(mark);
        if (i < notes.size()) text += Utf16ToAnsi(notes[i]);
        text += "\r\n";
    }
    std::string path = ScanLogPath(moduleDir, startTime);
    return WriteLogFile(path, text, LogWrite::kReplace) ? 0 : -1;
}

}  // namespace tovarek
