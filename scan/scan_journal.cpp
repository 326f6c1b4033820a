#include "scan/scan_journal.h"

#include "platform/code_page.h"
#include "platform/journal.h"
#include "platform/name_escape.h"
#include "platform/path_text.h"

namespace tovarek {

void JournalFinding(const std::u16string& filePath, bool systemFile, const char* digest) {
    JournalRecord record;
    record.event = JournalEvent::kFound;
    record.path = Utf16ToPath(filePath);
    if (digest) record.md5.assign(digest, 32);
    // The message reads as the scan log's line: the name escaped, one line.
    record.message = Utf16ToUtf8(EscapeName(filePath)) + (systemFile ? "(系统文件，未处理)" : "");
    SendJournalRecord(record);
}

void JournalDeletion(const std::string& pathBytes, const std::string& md5) {
    JournalRecord record;
    record.event = JournalEvent::kDeleted;
    record.path = pathBytes;
    record.md5 = md5;
    record.message = Utf16ToUtf8(EscapeName(PathToUtf16(pathBytes))) + "(已删除)";
    SendJournalRecord(record);
}

}  // namespace tovarek
