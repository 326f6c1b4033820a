// The blacklist: table blackmap in Ravlin.db and its in-memory index in the application state.
// The index is built off the thread that asks for it where it can be, and handed out whole as one
// immutable shared object; the stale flag crosses threads (it is atomic).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
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

// Keyed by the digest text; a copy of the index for a user that must own one, and the way an
// index is built by hand.
using BlacklistMap = std::map<std::u16string, BlacklistEntry>;

// The index (store/scan_list.h), shared by every user that holds it (the scan page, the
// protection pass), so no user keeps a copy of its own; never changed after it is built.
class ScanList;
using BlacklistView = std::shared_ptr<const ScanList>;

// Brings the index up to date when it is stale and hands out the current one in `view`. Rows are
// taken by the rule of the import: digest trimmed and lower-cased, a row whose digest is then not
// 32 hex digits left out. Returns 0, or the code of a reload that failed (the list is not a
// regular file, is damaged, stayed locked): the stale flag then stays set, so the next call tries
// again, and `view` is the index as it was before, null when no load has succeeded yet. Any
// thread; reloads run one at a time, and a holder's view never changes under it. `keepGoing`
// (optional) is asked while a reload reads: false gives the reload up, as a failure (kDbGaveUp),
// so a user that is told to stop need not wait for a long list.
int GetSharedBlacklist(CoreState& app, BlacklistView& view,
                       const std::function<bool()>& keepGoing = {});

// As GetSharedBlacklist, then replaces `out` with a copy of the index (empty when none could be
// loaded), for a user that must own its list.
int GetBlacklist(CoreState& app, BlacklistMap& out);

// Reads the whole blackmap table of an existing Ravlin.db into `out`, opened read-only, by the
// index's rules. Returns 0, or the
// SQLite code of the failure (kDbNotOpen when the file can't be opened); `out` is then empty.
// An empty table is success with an empty `out`.
int LoadBlacklistReadOnly(BlacklistMap& out);

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
