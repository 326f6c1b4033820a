#include "store/blacklist.h"

#include "platform/code_page.h"
#include "platform/lower_case.h"
#include "store/core_state.h"
#include "store/database.h"

namespace tovarek {
namespace {

// Adds the rows of blackmap to `index`; the query's result code.
int ReadBlackmap(Database& db, BlacklistMap& index) {
    QueryTable table;
    int rows = 0;
    int columns = 0;
    int rc = Query(db, "select * from blackmap", table, rows, columns);
    CloseDatabase(db);
    if (rows < 1 || columns <= 3) return rc;
    for (int r = 1; r <= rows; ++r) {
        std::map<int, std::string>& row = table[static_cast<unsigned>(r)];
        // SQLite hands out UTF-8 whatever the locale, so cells are decoded as UTF-8.
        BlacklistEntry entry;
        entry.name = LowerCase(Utf8ToUtf16(row[1]));
        index[Utf8ToUtf16(row[0])] = std::move(entry);
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
