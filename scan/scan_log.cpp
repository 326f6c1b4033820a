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

bool PathVanished(const std::u16string& filePath) {
    struct stat st;
    // lstat: a link that lost its target is still an entry of its own.
    return lstat(Utf16ToPath(filePath).c_str(), &st) != 0;
}

std::u16string ScanResultLine(const std::u16string& filePath, bool systemFile) {
    if (systemFile) return filePath + kSystemFileMark;
    return PathVanished(filePath) ? filePath + kVanishedMark : filePath;
}

std::string ScanLogPath(const std::u16string& moduleDir, int64_t startTime) {
    return LogFolderOf(Utf16ToPath(moduleDir)) + "sl" +
           Utf16ToPath(FormatLocalTime(u"%Y-%m-%d %H_%M_%S", startTime)) + ".log";
}

int WriteScanLog(const std::u16string& moduleDir, int64_t startTime,
                 const std::vector<ScanLogLine>& lines) {
    if (lines.empty()) return 0;
    std::string text;
    for (const ScanLogLine& line : lines) {
        // The file name as the bytes the file system holds, whatever the code page, escaped so
        // it can neither forge a line nor pass for another; the marks and notes in the code page.
        text += Utf16ToPath(EscapeName(line.filePath));
        if (line.systemFile) {
            text += Utf16ToAnsi(kSystemFileMark);
        } else if (line.vanished) {
            text += Utf16ToAnsi(kVanishedMark);
        }
        text += Utf16ToAnsi(line.note);
        text += "\r\n";
    }
    std::string path = ScanLogPath(moduleDir, startTime);
    return WriteLogFile(path, text, LogWrite::kReplace) ? 0 : -1;
}

}  // namespace tovarek
