#include "protect/intercept_log.h"

#include "platform/code_page.h"
#include "platform/journal.h"
#include "platform/local_time.h"
#include "platform/log_file.h"
#include "platform/name_escape.h"
#include "platform/path_text.h"
#include "platform/program_folders.h"
#include "store/core_state.h"

namespace tovarek {

std::u16string BuildHistoryLine(int64_t now, std::u16string_view exeName) {
    std::u16string line = FormatLocalTime(u"[%Y-%m-%d %H:%M:%S]", now);
    line += u"终止进程：";
    line += EscapeName(exeName);
    return line;
}

std::u16string BuildSystemFileLine(int64_t now, std::u16string_view exePath) {
    std::u16string line = FormatLocalTime(u"[%Y-%m-%d %H:%M:%S]", now);
    line += kSystemFileNote;
    line += EscapeName(exePath);
    return line;
}

std::u16string BuildListFailureLine(int64_t now) {
    return FormatLocalTime(u"[%Y-%m-%d %H:%M:%S]", now) + u"列表读取失败，保护暂停";
}

std::string InterceptLogPath(const std::u16string& moduleDir, int64_t now) {
    // The folder is a path: encoded as it was decoded, whatever the log's code page.
    return LogFolderOf(Utf16ToPath(moduleDir)) + "pl" +
           Utf16ToPath(FormatLocalTime(u"%Y-%m-%d", now)) + ".log";
}

namespace {

// "[<local time>]" and then `text`. Built by appending: GCC 12 warns falsely (-Wrestrict) on
// the operator+ chain.
std::u16string Stamped(int64_t now, std::u16string_view text) {
    std::u16string line = u"[";
    line += FormatLocalTime(u"%Y-%m-%d %H:%M:%S", now);
    line += u"]";
    line += text;
    return line;
}

}  // namespace

void WriteInterceptLog(const CoreState& app, std::u16string_view exePath, int64_t now,
                       std::u16string_view note) {
    // One reading of the clock for both the stamp and the file, so a line written across
    // midnight still lands in the file of its own stamp's day.
    // The stamp in the code page, the path as the bytes the file system holds, escaped so that a
    // name can neither forge a line nor pass for another.
    std::string line = Utf16ToAnsi(Stamped(now, note));
    line += Utf16ToPath(EscapeName(exePath));
    line += "\r\n";
    WriteLogFile(InterceptLogPath(app.m_strModuleDir, now), line, LogWrite::kAppend);
}

void JournalInterception(std::u16string_view exePath, const char* digest, uint32_t pid,
                         int64_t now) {
    JournalRecord record;
    record.event = JournalEvent::kIntercepted;
    record.path = Utf16ToPath(exePath);
    if (digest) record.md5.assign(digest, 32);
    record.pid = pid;
    record.message = Utf16ToUtf8(Stamped(now, EscapeName(exePath)));
    SendJournalRecord(record);
}

}  // namespace tovarek
