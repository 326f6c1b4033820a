// The daily list import: one list document into rows of blackmap, then the blacklist index is
// marked for a reload and the list date is set. Runs on the download worker's thread (or the
// command line); it opens its own database connection and keeps nothing between calls.
#pragma once

#include <string>
#include <string_view>

namespace tovarek {

class CoreState;
class XmlDoc;

// What one import did, for callers that report it (the command line); the worker ignores it.
struct ImportOutcome {
    bool bParsed = false;  // the document parsed cleanly and the database opened
    int nRecords = 0;      // File records with both save and md5
    int nRowsAdded = 0;    // of those, rows the table took
};

constexpr int kImportText = 0;  // `text` is the document itself
constexpr int kImportFile = 1;  // `text` is the path of a document file

// Mode 0 or 1 as above; any other mode does nothing. A document that does not parse cleanly, or a
// database that cannot be opened, changes nothing at all. Otherwise each record with a non-empty
// save and md5 is inserted in its own transaction (one the table refuses, such as a fingerprint
// already stored, is skipped), then app.m_bBlacklistStale becomes 1 and the list date
// local time "%Y-%m-%d %H:%M:%S". Returns 0 in every case.
int ImportList(CoreState& app, int mode, std::u16string_view text,
               ImportOutcome* outcome = nullptr);

// Kind 0: the text of the current element's next child named `name` (searched behind the child
// position); kind 1: the attribute `name` of the element at the child position. Empty when there
// is no such child or attribute. The positions end as they were, except the child position,
// which moves onto a child that was found.
std::u16string ReadField(XmlDoc& doc, const char16_t* name, int kind);

}  // namespace tovarek
