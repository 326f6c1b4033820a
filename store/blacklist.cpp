#include "store/blacklist.h"

#include <stdlib.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "platform/code_page.h"
#include "platform/lower_case.h"
#include "store/core_state.h"
#include "store/database.h"

namespace tovarek {
namespace {

// A table this long is read by two connections at once, each half on a thread of its own.
constexpr int64_t kRowsWorthASecondReader = 20000;

// Rows of blackmap, decoded (SQLite hands out UTF-8 whatever the locale; names lower-cased), and
// an order of them by fingerprint: by the first four units packed into one number, the whole text
// only where those agree, equal fingerprints in row order.
struct DecodedRows {
    struct Key {
        uint64_t prefix;
        uint32_t row;
    };
    std::vector<std::u16string> md5s;
    std::vector<std::u16string> names;
    std::vector<Key> order;
    int rc = 0;
};

void ReadRows(Database& db, const std::string& where, DecodedRows& out) {
    out.rc = QueryRows(db, "select md5, name from blackmap" + where,
                       [&out](int, const char* const* cells) {
                           out.md5s.push_back(Utf8ToUtf16(cells[0]));
                           out.names.push_back(LowerCase(Utf8ToUtf16(cells[1])));
                       });
    if (out.rc != 0) return;
    out.order.resize(out.md5s.size());
    for (uint32_t i = 0; i < out.order.size(); ++i) {
        const std::u16string& m = out.md5s[i];
        uint64_t prefix = 0;
        for (size_t k = 0; k < 4; ++k) prefix = prefix << 16 | (k < m.size() ? m[k] : 0);
        out.order[i] = {prefix, i};
    }
    std::sort(out.order.begin(), out.order.end(),
              [&out](const DecodedRows::Key& a, const DecodedRows::Key& b) {
                  if (a.prefix != b.prefix) return a.prefix < b.prefix;
                  const int c = out.md5s[a.row].compare(out.md5s[b.row]);
                  return c < 0 || (c == 0 && a.row < b.row);
              });
}

// Adds the rows of blackmap to `index`, a later row replacing an earlier one with the same
// fingerprint; the query's result code (the index is left as it was on a failure). The rows are
// sorted here, so the index is built from its end instead of searched for every row, and a long
// table is read in two halves at once: 100,000 rows load several times faster.
int ReadBlackmap(Database& db, BlacklistMap& index) {
    std::string last;
    int rc = QueryRows(db, "select max(rowid) from blackmap",
                       [&last](int, const char* const* cells) { last = cells[0]; });
    DecodedRows low, high;
    if (rc == 0) {
        const int64_t split = atoll(last.c_str()) / 2;
        if (split >= kRowsWorthASecondReader / 2) {
            std::thread second([&high, split] {
                Database other;
                OpenDatabaseReadOnly(other);
                ReadRows(other, " where rowid > " + std::to_string(split), high);
            });
            ReadRows(db, " where rowid <= " + std::to_string(split), low);
            second.join();
        } else {
            ReadRows(db, "", low);
        }
        rc = low.rc != 0 ? low.rc : high.rc;
    }
    CloseDatabase(db);
    if (rc != 0) return rc;
    // The halves merged, the lower rows first among equal fingerprints.
    auto a = low.order.begin(), b = high.order.begin();
    while (a != low.order.end() || b != high.order.end()) {
        const bool fromLow = b == high.order.end() ||
                             (a != low.order.end() && low.md5s[a->row] <= high.md5s[b->row]);
        DecodedRows& part = fromLow ? low : high;
        const uint32_t row = (fromLow ? a++ : b++)->row;
        BlacklistEntry entry;
        entry.name = std::move(part.names[row]);
        index.insert_or_assign(index.end(), std::move(part.md5s[row]), std::move(entry));
    }
    return rc;
}

void ReloadBlacklist(CoreState& app) {
    Database db;
    OpenDatabase(db);
    ReadBlackmap(db, app.m_mapBlacklist);
}

}  // namespace

int LoadBlacklistReadOnly(BlacklistMap& out) {
    out.clear();
    Database db;
    OpenDatabaseReadOnly(db);
    int rc = ReadBlackmap(db, out);
    if (rc != 0) out.clear();
    return rc;
}

int GetBlacklist(CoreState& app, BlacklistMap& out) {
    // One exchange: an import that marks the index stale during the reload leaves it stale.
    if (app.m_bBlacklistStale.exchange(0)) ReloadBlacklist(app);
    if (&out != &app.m_mapBlacklist) out = app.m_mapBlacklist;
    return 0;
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

}  // namespace tovarek
