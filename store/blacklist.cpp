#include "store/blacklist.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/code_page.h"
#include "platform/lower_case.h"
#include "platform/lower_hex.h"
#include "store/core_state.h"
#include "store/database.h"
#include "store/scan_list.h"

namespace tovarek {
namespace {

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

// A stored digest in normal form as two numbers, normalized in `scratch` first when it has to
// change (nearly every stored one is already); false when it is then no digest at all.
bool StoredDigest(const char* cell, std::string& scratch, uint64_t& high, uint64_t& low) {
    std::string_view md5 = cell;
    if (md5.size() == 32 && LowerHex64(md5.data(), high) && LowerHex64(md5.data() + 16, low))
        return true;
    scratch = md5;
    return NormalizeListDigest(scratch) && LowerHex64(scratch.data(), high) &&
           LowerHex64(scratch.data() + 16, low);
}

std::string_view Trimmed(std::string_view value) {
    while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
    while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
    return value;
}

}  // namespace

std::string TrimListValue(std::string_view value) {
    return std::string(Trimmed(value));
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
    ScanList list;
    const int rc = LoadScanListReadOnly(list);
    list.CopyTo(out);
    return rc;
}

int ReadScanList(Database& db, ScanList& out, const std::function<bool()>& keepGoing) {
    // One row in table order: its fingerprint's value and where its name lies in `text`.
    struct Row {
        uint64_t high, low;
        uint32_t nameStart, nameLength;
    };
    std::vector<Row> rows;
    std::u16string text;
    out.Clear();
    // Room for every row at once: growing by doubling copied the rows over and over.
    std::string count;
    int rc = QueryRows(
        db, "select count(*) from blackmap",
        [&count](int, const char* const* cells) { count = cells[0]; }, keepGoing);
    if (rc == 0) {
        const size_t expected = static_cast<size_t>(std::max(0LL, atoll(count.c_str())));
        rows.reserve(expected);
        text.reserve(expected * 16);
    }
    if (rc == 0)
        rc = QueryRows(
            db, "select md5,name from blackmap order by rowid",
            [&](int columns, const char* const* cells) {
                if (columns < 2) return;
                std::string normalized;
                Row row;
                if (!StoredDigest(cells[0], normalized, row.high, row.low)) return;
                // Most names are ASCII: widened and lower-cased in place, one pass and no
                // copy (appending a range of chars built a temporary string for every row).
                const std::string_view name = Trimmed(cells[1]);
                const size_t start = text.size();
                bool ascii = true;
                for (char c : name) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
                if (ascii) {
                    text.resize(start + name.size());
                    char16_t* out = text.data() + start;
                    for (char c : name) *out++ = c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
                } else {
                    text += Utf8ToUtf16(name);
                    for (size_t i = start; i < text.size(); ++i) text[i] = LowerCaseChar(text[i]);
                }
                row.nameStart = static_cast<uint32_t>(start);
                row.nameLength = static_cast<uint32_t>(text.size() - start);
                rows.push_back(row);
            },
            keepGoing);
    if (rc != 0) return rc;
    // By fingerprint, the latest row of a fingerprint stored more than once. Rows arrived in
    // table order, so where their names lie breaks ties.
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        if (a.high != b.high) return a.high < b.high;
        if (a.low != b.low) return a.low < b.low;
        return a.nameStart < b.nameStart;
    });
    size_t kept = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i + 1 < rows.size() && rows[i].high == rows[i + 1].high &&
            rows[i].low == rows[i + 1].low)
            continue;
        rows[kept++] = rows[i];
    }
    rows.resize(kept);
    out.m_digests.reserve(kept);
    out.m_names.Reserve(kept, text.size());
    const std::u16string_view names = text;
    for (const Row& row : rows) {
        out.m_digests.push_back({row.high, row.low});
        out.m_names.Add(names.substr(row.nameStart, row.nameLength));
    }
    out.Seal();
    return 0;
}

int LoadScanListReadOnly(ScanList& out) {
    Database db;
    OpenDatabaseReadOnly(db);
    return ReadScanList(db, out);
}

int GetSharedBlacklist(CoreState& app, BlacklistView& view,
                       const std::function<bool()>& keepGoing) {
    int rc = 0;
    bool loaded;
    {
        std::lock_guard hold(app.m_blacklistMutex);
        loaded = app.m_pBlacklist != nullptr;
    }
    // Without an index yet, a first load another thread is running is waited for: it may have
    // cleared the flag already, and its result is the only list there is.
    if (app.m_bBlacklistStale.load() || !loaded) {
        std::lock_guard reloading(app.m_reloadMutex);
        // One exchange: an import that marks the index stale during the reload leaves it stale.
        if (app.m_bBlacklistStale.exchange(0)) {
            auto entries = std::make_shared<ScanList>();
            {
                Database db;
                OpenDatabase(db);
                rc = ReadScanList(db, *entries, keepGoing);
            }
            if (rc == 0) {
                BlacklistView fresh = std::move(entries);
                std::lock_guard swap(app.m_blacklistMutex);
                app.m_pBlacklist = std::move(fresh);
            } else {
                // Not read is not empty: the next user tries again.
                app.m_bBlacklistStale.store(1);
            }
        }
    }
    std::lock_guard hold(app.m_blacklistMutex);
    view = app.m_pBlacklist;
    // Nothing was ever asked of the table (a state never marked stale): an empty list.
    if (!view && rc == 0) view = std::make_shared<const ScanList>();
    return rc;
}

int GetBlacklist(CoreState& app, BlacklistMap& out) {
    BlacklistView view;
    const int rc = GetSharedBlacklist(app, view);
    if (view)
        view->CopyTo(out);
    else
        out.clear();
    return rc;
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
