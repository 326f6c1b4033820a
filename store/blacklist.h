// The blacklist: table blackmap in Ravlin.db and its in-memory index in the application state.
// The index is used on the UI thread; only the stale flag crosses threads (it is atomic).
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace tovarek {

class CRavlinApp;

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
int GetBlacklist(CRavlinApp& app, BlacklistMap& out);

}  // namespace tovarek
