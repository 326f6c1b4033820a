#include "update/list_import.h"

#include <unordered_set>
#include <vector>

#include "store/core_state.h"
#include "platform/code_page.h"
#include "platform/local_time.h"
#include "store/database.h"
#include "xml/xml_doc.h"
#include "xml/xml_file.h"
#include "xml/xml_navigate.h"

namespace tovarek {
namespace {

// The values are bound, so an apostrophe in a name is stored as it stands and never ends a
// literal. Column order is the table's: md5, name, intro (always empty), size.
constexpr const char* kInsertSql = "insert into blackmap values(?,?,'',?)";

// One transaction per record is kept (a refused record must not undo the others), so the cost of
// a commit decides the speed of an import: in WAL mode with synchronous=NORMAL a commit appends to
// the log without waiting for the disk. A killed program loses nothing; a power loss can undo the
// commits since the last checkpoint (the next list adds them again) but never corrupts the table.
// journal_mode is stored in the file; synchronous is per connection.
void PrepareForManyCommits(Database& db) {
    Execute(db, "PRAGMA journal_mode=WAL;", false);
    Execute(db, "PRAGMA synchronous=NORMAL;", false);
    // Fewer, larger checkpoints (at most 64 MB of log instead of 4 MB): each one waits for the
    // disk, and a page changed by many commits is written back once. The log goes when the last
    // connection closes.
    Execute(db, "PRAGMA wal_autocheckpoint=16000;", false);
    Execute(db, "PRAGMA cache_size=-65536;", false);
    Execute(db, "PRAGMA mmap_size=268435456;", false);
}

// The fingerprints the table holds, byte for byte as the primary key compares them.
std::unordered_set<std::string> StoredFingerprints(Database& db) {
    std::unordered_set<std::string> out;
    QueryTable table;
    int rows = 0;
    int columns = 0;
    if (Query(db, "select md5 from blackmap", table, rows, columns) != 0 || columns < 1) return out;
    out.reserve(static_cast<size_t>(rows));
    for (int r = 1; r <= rows; ++r) out.insert(std::move(table[static_cast<unsigned>(r)][0]));
    return out;
}

bool LoadDocument(XmlDoc& doc, int mode, std::u16string_view text) {
    if (mode == kImportText) {
        doc.m_strText.assign(text);
        doc.m_strReport.clear();
        return ParseText(doc);
    }
    // Paths are byte strings in the locale's code page, as the command line hands them over.
    if (!LoadFile(doc.m_strText, Utf16ToAnsi(text), doc.m_strReport, doc.m_nOptions)) {
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

int ImportList(CoreState& app, int mode, std::u16string_view text, ImportOutcome* outcome) {
    ImportOutcome local;
    ImportOutcome& result = outcome ? *outcome : local;
    result = ImportOutcome{};
    if (mode != kImportText && mode != kImportFile) return 0;

    XmlDoc doc;
    // A document that does not parse cleanly is ignored whole: no row, no flag, no date.
    if (!LoadDocument(doc, mode, text)) return 0;

    Database db;
    OpenDatabase(db);
    // Without a connection nothing was stored, so the index needs no reload and the date would
    // claim an update that did not happen.
    if (!db.IsOpen()) return 0;
    PrepareForManyCommits(db);
    result.bParsed = true;

    std::unordered_set<std::string> stored = StoredFingerprints(db);
    std::vector<std::string> values(3);
    while (FindChild(doc, u"File")) {
        EnterElement(doc);
        // Each search starts behind the child found before it, so the order save, md5, size is
        // what the list must keep.
        std::u16string save = ReadField(doc, u"save", 0);
        std::u16string md5 = ReadField(doc, u"md5", 0);
        std::u16string size = ReadField(doc, u"size", 0);
        if (!save.empty() && !md5.empty()) {
            // SQLite texts are UTF-8 on this system, whatever the locale's code page.
            values[0] = Utf16ToUtf8(md5);
            ++result.nRecords;
            // A fingerprint already stored would be refused by the primary key anyway; skipping
            // its transaction keeps a repeated list cheap. Anything else the table decides.
            if (!stored.contains(values[0])) {
                values[1] = Utf16ToUtf8(save);
                values[2] = Utf16ToUtf8(size);
                int added = 0;
                // A refused record is simply not added.
                Execute(db, kInsertSql, values, true, &added);
                if (added > 0) stored.insert(values[0]);
                result.nRowsAdded += added;
            }
        }
        LeaveElement(doc);
    }

    app.m_bBlacklistStale.store(1);
    app.SetListDate(FormatLocalTime(u"%Y-%m-%d %H:%M:%S", NowSeconds()));
    CloseDatabase(db);
    return 0;
}

}  // namespace tovarek
