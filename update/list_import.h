// The daily list import: one list document into rows of blackmap, then the blacklist index is
// marked for a reload and the list date is set. Runs on the download worker's thread (or the
// command line); it opens its own database connection and keeps nothing between calls.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

namespace tovarek {

class CoreState;
class XmlDoc;

// What one import did, for callers that report it (the command line); the worker ignores it.
struct ImportOutcome {
    bool bParsedAndOpened = false;  // the document parsed cleanly and the database opened
    bool bDbFailed = false;  // the database failed (see ImportList); the import stopped there
    int nRecords = 0;        // File records with both save and md5 that were reached
    int nRowsAdded = 0;      // of those, rows the table took
};

constexpr int kImportText = 0;  // `text` is the document itself
constexpr int kImportFile = 1;  // `text` is the path of a document file

// ImportList's result when the database failed under it.
constexpr int kImportDbFailed = -1;
// ImportList's result when `stop` was set before the last record.
constexpr int kImportStopped = -2;

// Mode 0 (the text moves into the document, so a large list is not copied) or 1 as above; any
// other mode does nothing. A document that does not parse cleanly changes nothing at all and
// returns 0. Values lose the white space around them and the digest is lower-cased; each record
// with a non-empty save and md5 whose digest is 32 hex digits and not stored yet is inserted in
// its own transaction; any other (a duplicate, a digest that is no fingerprint) is refused. Then
// app.m_bBlacklistStale becomes 1 and the list date local time "%Y-%m-%d %H:%M:%S"; returns 0.
// A failure of the database itself (it cannot be opened, is not a database, is read-only, stays
// busy past its busy time) stops the import at once: the list date keeps its value, the stale
// flag is set only when rows were added before, and the result is kImportDbFailed. The file is
// left in rollback-journal mode whenever no other connection holds it.
// With `stop`, the import looks at it before each record and, once it is set, ends after the
// record in hand (the program is ending): the list date keeps its value, the stale flag is set
// when rows were added, and the result is kImportStopped.
int ImportList(CoreState& app, int mode, std::u16string text, ImportOutcome* outcome = nullptr,
               const std::atomic<bool>* stop = nullptr);

// Kind 0: the text of the current element's next child named `name` (searched behind the child
// position); kind 1: the attribute `name` of the element at the child position. Empty when there
// is no such child or attribute. The positions end as they were, except the child position,
// which moves onto a child that was found.
std::u16string ReadField(XmlDoc& doc, const char16_t* name, int kind);

}  // namespace tovarek
