// What the program remembers of the last daily list it took, in a table of its own in Ravlin.db
// (one row): the list's serial, below which no list is taken again, and the ETag and
// Last-Modified of its download, sent back so an unchanged list costs a 304. Each call runs on
// the connection it is handed, on the caller's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tovarek {

class Database;

struct ListState {
    std::optional<uint64_t> lastSerial;  // none before the first signed list
    std::string strEtag;                 // empty: none known
    std::string strLastModified;
};

// Fills `out` (empty when nothing is stored yet). The table is made when missing. Returns 0 or
// the SQLite code; `out` is then empty.
int ReadListState(Database& db, ListState& out);

// Replaces the stored row with `state`. Returns 0 or the SQLite code.
int WriteListState(Database& db, const ListState& state);

}  // namespace tovarek
