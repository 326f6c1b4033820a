// The blacklist: table blackmap in Ravlin.db and its in-memory index in the application state.
// The index is used on the UI thread; only the stale flag crosses threads (it is atomic).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>

namespace tovarek {

class CoreState;

struct BlacklistEntry {
    std::u16string name;  // lower-cased file name from the list
    std::u16string spareText1;
    std::u16string spareText2;
    int32_t spareNum1 = 0;
    int32_t spareNum2 = 0;
};

// Keyed by the stored md5 text exactly as stored (case-sensitive, ordered by UTF-16 unit).
using BlacklistMap = std::map<std::u16string, BlacklistEntry>;

// Reloads the index from blackmap when it is stale, then replaces `out` with a copy of it.
// Always returns 0. Call on the thread that owns the index (the UI thread).
int GetBlacklist(CoreState& app, BlacklistMap& out);

// Reads the whole blackmap table of an existing Ravlin.db into `out`, opened read-only, for a
// one-shot user that must know whether it got a list (the command-line scan). Returns 0, or the
// SQLite code of the failure (kDbNotOpen when the file can't be opened); `out` is then empty.
// An empty table is success with an empty `out`.
int LoadBlacklistReadOnly(BlacklistMap& out);

// An immutable view of the index with its name index, shared by every user that holds it, so a
// periodic user need not copy 100,000 entries and rebuild the names each time. Never changed
// after it is built; any thread may read it.
struct SharedBlacklist {
    BlacklistMap byMd5;
    std::unordered_set<std::u16string> names;  // the entries' lower-cased names
};

// Brings the index up to date as GetBlacklist does, then makes `view` a view of it: kept when it
// already shows the current index, rebuilt (one copy) when it is empty or the index changed.
// The index only ever grows (table rows are never updated or deleted, a reload never removes
// an entry), so its size tells whether a view is current. Call on the index's thread.
void GetSharedBlacklist(CoreState& app, std::shared_ptr<const SharedBlacklist>& view);

}  // namespace tovarek
