#include "store/blacklist.h"

#include <algorithm>
#include <vector>

#include "platform/code_page.h"
#include "platform/lower_case.h"
#include "store/core_state.h"
#include "store/database.h"

namespace tovarek {
namespace {

// Adds the rows of blackmap to `index`, a later row replacing an earlier one with the same
// fingerprint; the query's result code (the index is left as it was on a failure). The rows
// are read in table order and sorted here, so a fresh index is built from its end instead of
// searched for every row: 100,000 rows load several times faster.
int ReadBlackmap(Database& db, BlacklistMap& index) {
    std::vector<std::u16string> md5s;
    std::vector<std::u16string> names;
    int rc = QueryRows(db, "select md5, name from blackmap", [&](int, const char* const* cells) {
        // SQLite hands out UTF-8 whatever the locale.
        md5s.push_back(Utf8ToUtf16(cells[0]));
        names.push_back(LowerCase(Utf8ToUtf16(cells[1])));
    });
    CloseDatabase(db);
    if (rc != 0) return rc;
    // Sorted by the first four units packed into one number, the whole text only where those
    // agree; equal fingerprints keep their row order, so the later row wins as it always has.
    struct Key {
        uint64_t prefix;
        uint32_t row;
    };
    std::vector<Key> order(md5s.size());
    for (uint32_t i = 0; i < order.size(); ++i) {
        uint64_t prefix = 0;
        for (size_t k = 0; k < 4; ++k)
            prefix = prefix << 16 | (k < md5s[i].size() ? md5s[i][k] : 0);
        order[i] = {prefix, i};
    }
    std::sort(order.begin(), order.end(), [&md5s](const Key& a, const Key& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        const int c = md5s[a.row].compare(md5s[b.row]);
        return c < 0 || (c == 0 && a.row < b.row);
    });
    auto hint = index.empty() ? index.end() : index.begin();
    for (const Key& k : order) {
        BlacklistEntry entry;
        entry.name = std::move(names[k.row]);
        hint = index.insert_or_assign(hint, std::move(md5s[k.row]), std::move(entry));
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
