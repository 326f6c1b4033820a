#include "update/list_import.h"

#include <unistd.h>

#include <vector>

#include "platform/code_page.h"
#include "platform/local_time.h"
#include "platform/path_text.h"
#include "store/core_state.h"
#include "store/database.h"
#include "xml/xml_doc.h"
#include "xml/xml_file.h"
#include "xml/xml_navigate.h"

namespace tovarek {
namespace {

// The values are bound, so an apostrophe in a name is stored as it stands and never ends a
// literal. Column order is the table's: md5, name, intro (always empty), size.
constexpr const char* kInsertSql = "insert into blackmap values(?,?,'',?)";
// A fingerprint already stored would be refused by the primary key anyway; looking it up first
// keeps a repeated list cheap without holding the whole table in memory.
constexpr const char* kStoredSql = "select 1 from blackmap where md5=?";

// One transaction per record is kept (a refused record must not undo the others), so the cost of
// a commit decides the speed of an import: in WAL mode with synchronous=NORMAL a commit appends to
// the log without waiting for the disk. A killed program loses nothing; a power loss can undo the
// commits since the last checkpoint (the next list adds them again) but never corrupts the table.
// The mode is taken only when no other connection holds the file, and given back at the end
// (LeaveManyCommits): a user who may read the database but not write its folder cannot open a
// file in WAL mode.
// Returns true when it switched the file to WAL (and so must give the mode back).
bool PrepareForManyCommits(Database& db) {
    if (!TrySetJournalMode(db, "wal")) return false;
    Execute(db, "PRAGMA synchronous=NORMAL;", false);
    // Fewer, larger checkpoints (at most 64 MB of log instead of 4 MB): each one waits for the
    // disk, and a page changed by many commits is written back once.
    Execute(db, "PRAGMA wal_autocheckpoint=16000;", false);
    Execute(db, "PRAGMA cache_size=-65536;", false);
    Execute(db, "PRAGMA mmap_size=268435456;", false);
    return true;
}

// A reader that opened the file meanwhile (the blacklist reload, the settings) holds it only for
// moments, so the mode is asked back a few times before the file is left in WAL until the next
// import; at most half a second, without SQLite's busy wait or a log line.
void LeaveManyCommits(Database& db) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (TrySetJournalMode(db, "delete")) return;
        usleep(50 * 1000);
    }
}

// Codes with which the table refuses one record for itself; any other failure is the database's.
bool IsRecordRefusal(int code) {
    return code == 19 /* SQLITE_CONSTRAINT */ || code == 18 /* SQLITE_TOOBIG */;
}

bool LoadDocument(XmlDoc& doc, int mode, std::u16string&& text) {
    if (mode == kImportText) {
        doc.m_strText = std::move(text);
        doc.m_strReport.clear();
        return ParseText(doc);
    }
    // The path's own bytes, whatever they are (see PathToUtf16).
    if (!LoadFile(doc.m_strText, Utf16ToPath(text), doc.m_strReport, doc.m_nOptions)) {
        return false;
    }
    return ParseText(doc);
}

}  // namespace

std::u16string ReadField(XmlDoc& doc, const char16_t* name, int kind) {
    std::u16string value;
    if (kind == 0) {
        if (FindChild(doc, name) && EnterElement(doc)) {
            value = ElementText(doc, doc.m_iPos);
            LeaveElement(doc);
        }
    } else if (kind == 1) {
        value = AttributeValue(doc, doc.m_iPosChild, name);
    }
    return value;
}

int ImportList(CoreState& app, int mode, std::u16string text, ImportOutcome* outcome,
               const std::atomic<bool>* stop) {
    ImportOutcome local;
    ImportOutcome& result = outcome ? *outcome : local;
    result = ImportOutcome{};
    if (mode != kImportText && mode != kImportFile) return 0;

    XmlDoc doc;
    // A document that does not parse cleanly is ignored whole: no row, no flag, no date.
    if (!LoadDocument(doc, mode, std::move(text))) return 0;

    Database db;
    OpenDatabase(db);
    // Without a connection nothing was stored, so the index needs no reload and the date would
    // claim an update that did not happen.
    if (!db.IsOpen()) {
        result.bDbFailed = true;
        return kImportDbFailed;
    }
    const bool switchedToWal = PrepareForManyCommits(db);
    result.bParsed = true;

    std::vector<std::string> key(1);
    std::vector<std::string> values(3);
    bool stopped = false;
    while (FindChild(doc, u"File")) {
        if (stop && stop->load()) {
            stopped = true;
            break;
        }
        EnterElement(doc);
        // Each search starts behind the child found before it, so the order save, md5, size is
        // what the list must keep.
        std::u16string save = ReadField(doc, u"save", 0);
        std::u16string md5 = ReadField(doc, u"md5", 0);
        std::u16string size = ReadField(doc, u"size", 0);
        LeaveElement(doc);
        if (save.empty() || md5.empty()) continue;
        // SQLite texts are UTF-8 on this system, whatever the locale's code page.
        key[0] = Utf16ToUtf8(md5);
        ++result.nRecords;
        // A failure here or below that is not the record's own (locked, read-only, not a
        // database, missing table) would fail every later record the same way, each after its
        // own busy wait: the import stops at the first.
        bool stored = false;
        if (QueryExists(db, kStoredSql, key, stored) != 0) {
            result.bDbFailed = true;
            break;
        }
        if (stored) continue;
        values[0] = key[0];
        values[1] = Utf16ToUtf8(save);
        values[2] = Utf16ToUtf8(size);
        int added = 0;
        if (Execute(db, kInsertSql, values, true, &added) != 0 ||
            (added == 0 && !IsRecordRefusal(db.m_nStatementCode))) {
            result.bDbFailed = true;
            break;
        }
        result.nRowsAdded += added;  // a refused record is simply not added
    }
    if (switchedToWal) LeaveManyCommits(db);
    CloseDatabase(db);

    if (result.nRowsAdded > 0 || (!result.bDbFailed && !stopped)) app.m_bBlacklistStale.store(1);
    if (result.bDbFailed) return kImportDbFailed;
    if (stopped) return kImportStopped;
    app.SetListDate(FormatLocalTime(u"%Y-%m-%d %H:%M:%S", NowSeconds()));
    return 0;
}

}  // namespace tovarek
