#include "update/list_import.h"

#include "platform/code_page.h"
#include "platform/local_time.h"
#include "platform/path_text.h"
#include "store/blacklist.h"
#include "store/core_state.h"
#include "store/database.h"
#include "xml/xml_doc.h"
#include "xml/xml_file.h"
#include "xml/xml_navigate.h"

namespace tovarek {
namespace {

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
    result.bParsedAndOpened = true;

    bool stopped = false;
    {
        BlackmapWriter writer(db);
        while (FindChild(doc, u"File")) {
            if (stop && stop->load()) {
                stopped = true;
                break;
            }
            EnterElement(doc);
            // Each search starts behind the child found before it, so the order save, md5, size
            // is what the list must keep.
            std::u16string save = ReadField(doc, u"save", 0);
            std::u16string md5 = ReadField(doc, u"md5", 0);
            std::u16string size = ReadField(doc, u"size", 0);
            LeaveElement(doc);
            // SQLite texts are UTF-8 on this system, whatever the locale's code page.
            std::string name = TrimListValue(Utf16ToUtf8(save));
            std::string digest = Utf16ToUtf8(md5);
            if (name.empty() || TrimListValue(digest).empty()) continue;
            ++result.nRecords;
            // A digest that is no fingerprint could never match: refused like a duplicate.
            if (!NormalizeListDigest(digest)) continue;
            const RowOutcome row = writer.Add(digest, name, TrimListValue(Utf16ToUtf8(size)));
            // A failure that is not the record's own (locked, read-only, not a database, missing
            // table) would fail every later record the same way, each after its own busy wait:
            // the import stops at the first.
            if (row == RowOutcome::kFailed) {
                result.bDbFailed = true;
                break;
            }
            if (row == RowOutcome::kAdded) ++result.nRowsAdded;
        }
    }
    CloseDatabase(db);

    if (result.nRowsAdded > 0 || (!result.bDbFailed && !stopped)) app.m_bBlacklistStale.store(1);
    if (result.bDbFailed) return kImportDbFailed;
    if (stopped) return kImportStopped;
    app.SetListDate(FormatLocalTime(u"%Y-%m-%d %H:%M:%S", NowSeconds()));
    return 0;
}

}  // namespace tovarek
