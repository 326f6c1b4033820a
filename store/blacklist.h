// The blacklist: table blackmap in Ravlin.db and its in-memory index in the application state.
// The index is used on the UI thread; only the stale flag crosses threads (it is atomic).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace tovarek {

class CoreState;
class Database;

// The statement that makes the table in a new database file.
constexpr const char* kCreateBlackmapSql =
    "create table blackmap(md5 varchar(33) PRIMARY KEY,name varchar(50),intro text,size "
    "varchar(20));";

// A list value as it is kept: without the white space around it (a pretty-printed list puts line
// breaks and indentation there).
std::string TrimListValue(std::string_view value);

// A digest as it is kept: trimmed and lower-cased; false when it is then not 32 hex digits (it
// could never match a fingerprint).
bool NormalizeListDigest(std::string& digest);

struct BlacklistEntry {
    std::u16string name;  // lower-cased file name from the list
    std::u16string spareText1;
    std::u16string spareText2;
    int32_t spareNum1 = 0;
    int32_t spareNum2 = 0;
};

// Keyed by the stored md5 text exactly as stored (case-sensitive, ordered by UTF-16 unit).
using BlacklistMap = std::map<std::u16string, BlacklistEntry>;

// Reloads the index from blackmap when it is stale, then replaces `out` with a copy of it. Rows
// are taken by the rule of the import: digest trimmed and lower-cased, a row whose digest is then
// not 32 hex digits left out. Call on the thread that owns the index (the UI thread). Returns 0,
// or the SQLite code of a reload that failed: the index is then left as it was and stays stale,
// so the next call tries again, and `out` is the index as it was.
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

enum class RowOutcome {
    kAdded,
    kRefused,  // the table refuses this row for itself (already stored, too large)
    kFailed,   // the database failed; every later row would fail the same way
};

// Adds list rows to blackmap over one open connection, each row in its own transaction (a refused
// row must not undo the others). While it lives the file is in WAL mode with synchronous=NORMAL
// when no other connection holds it, so a commit appends to the log without waiting for the disk;
// the rollback journal is asked back when it ends. One thread; not copyable.
class BlackmapWriter {
public:
    explicit BlackmapWriter(Database& db);
    ~BlackmapWriter();
    BlackmapWriter(const BlackmapWriter&) = delete;
    BlackmapWriter& operator=(const BlackmapWriter&) = delete;

    // Values in UTF-8, as the list gave them after trimming; the digest already normalized.
    RowOutcome Add(const std::string& md5, const std::string& name, const std::string& size);

private:
    Database& m_db;
    bool m_bSwitchedToWal = false;
    std::vector<std::string> m_key;
    std::vector<std::string> m_values;
};

}  // namespace tovarek
