#include "store/blacklist.h"

#include <unistd.h>

#include "platform/code_page.h"
#include "platform/lower_case.h"
#include "store/core_state.h"
#include "store/database.h"

namespace tovarek {
namespace {

constexpr const char* kSelectSql = "select * from blackmap";
// The values are bound, so an apostrophe in a name is stored as it stands and never ends a
// literal. Column order is the table's: md5, name, intro (always empty), size.
constexpr const char* kInsertSql = "insert into blackmap values(?,?,'',?)";
// A fingerprint already stored would be refused by the primary key anyway; looking it up first
// keeps a repeated list cheap without holding the whole table in memory.
constexpr const char* kStoredSql = "select 1 from blackmap where md5=?";

constexpr int kSqliteTooBig = 18;
constexpr int kSqliteConstraint = 19;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Adds the rows of blackmap to `index`; the query's result code. The connection stays open.
int ReadBlackmap(Database& db, BlacklistMap& index) {
    QueryTable table;
    int rows = 0;
    int columns = 0;
    int rc = Query(db, kSelectSql, table, rows, columns);
    if (rows < 1 || columns <= 3) return rc;
    for (int r = 1; r <= rows; ++r) {
        std::map<int, std::string>& row = table[static_cast<unsigned>(r)];
        std::string md5 = std::move(row[0]);
        if (!NormalizeListDigest(md5)) continue;
        // SQLite hands out UTF-8 whatever the locale, so cells are decoded as UTF-8.
        BlacklistEntry entry;
        entry.name = LowerCase(Utf8ToUtf16(TrimListValue(row[1])));
        index[Utf8ToUtf16(md5)] = std::move(entry);
    }
    return rc;
}

void ReloadBlacklist(CoreState& app) {
    Database db;
    OpenDatabase(db);
    ReadBlackmap(db, app.m_mapBlacklist);
}

}  // namespace

std::string TrimListValue(std::string_view value) {
    while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
    while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
    return std::string(value);
}

bool NormalizeListDigest(std::string& digest) {
    digest = TrimListValue(digest);
    if (digest.size() != 32) return false;
    for (char& c : digest) {
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

int LoadBlacklistReadOnly(BlacklistMap& out) {
    out.clear();
    Database db;
    OpenDatabaseReadOnly(db);
    int rc = ReadBlackmap(db, out);
    if (rc != 0) out.clear();
    return rc;
}

void GetBlacklist(CoreState& app, BlacklistMap& out) {
    // One exchange: an import that marks the index stale during the reload leaves it stale.
    if (app.m_bBlacklistStale.exchange(0)) ReloadBlacklist(app);
    if (&out != &app.m_mapBlacklist) out = app.m_mapBlacklist;
}

void GetSharedBlacklist(CoreState& app, std::shared_ptr<const SharedBlacklist>& view) {
    bool reloaded = false;
    if (app.m_bBlacklistStale.exchange(0)) {
        ReloadBlacklist(app);
        reloaded = true;
    }
    if (view && !reloaded && view->byMd5.size() == app.m_mapBlacklist.size()) return;
    auto fresh = std::make_shared<SharedBlacklist>();
    fresh->byMd5 = app.m_mapBlacklist;
    for (const auto& [md5, entry] : fresh->byMd5) fresh->names.insert(entry.name);
    view = std::move(fresh);
}

BlackmapWriter::BlackmapWriter(Database& db) : m_db(db), m_key(1), m_values(3) {
    // The mode is taken only when no other connection holds the file, and given back at the end:
    // a user who may read the database but not write its folder cannot open a file in WAL mode.
    // A killed program loses nothing; a power loss can undo the commits since the last
    // checkpoint (the next list adds them again) but never corrupts the table.
    m_bSwitchedToWal = TrySetJournalMode(db, "wal");
    if (!m_bSwitchedToWal) return;
    Execute(db, "PRAGMA synchronous=NORMAL;", false);
    // Fewer, larger checkpoints (at most 64 MB of log instead of 4 MB): each one waits for the
    // disk, and a page changed by many commits is written back once.
    Execute(db, "PRAGMA wal_autocheckpoint=16000;", false);
    Execute(db, "PRAGMA cache_size=-65536;", false);
    Execute(db, "PRAGMA mmap_size=268435456;", false);
}

BlackmapWriter::~BlackmapWriter() {
    if (!m_bSwitchedToWal) return;
    // A reader that opened the file meanwhile (the blacklist reload, the settings) holds it only
    // for moments, so the mode is asked back a few times before the file is left in WAL until
    // the next import; at most half a second, without SQLite's busy wait or a log line.
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (TrySetJournalMode(m_db, "delete")) return;
        usleep(50 * 1000);
    }
}

RowOutcome BlackmapWriter::Add(const std::string& md5, const std::string& name,
                               const std::string& size) {
    m_key[0] = md5;
    bool stored = false;
    if (QueryExists(m_db, kStoredSql, m_key, stored) != 0) return RowOutcome::kFailed;
    if (stored) return RowOutcome::kRefused;
    m_values[0] = md5;
    m_values[1] = name;
    m_values[2] = size;
    int added = 0;
    if (Execute(m_db, kInsertSql, m_values, true, &added) != 0) return RowOutcome::kFailed;
    if (added > 0) return RowOutcome::kAdded;
    // Codes with which the table refuses one row for itself; any other failure is the
    // database's.
    const int code = m_db.LastStatementCode();
    return code == kSqliteConstraint || code == kSqliteTooBig ? RowOutcome::kRefused
                                                              : RowOutcome::kFailed;
}

}  // namespace tovarek
