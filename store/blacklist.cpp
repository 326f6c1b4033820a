#include "store/blacklist.h"

#include "store/core_state.h"
#include "platform/code_page.h"
#include "platform/lower_case.h"
#include "store/database.h"

namespace tovarek {
namespace {

void ReloadBlacklist(CoreState& app) {
    Database db;
    OpenDatabase(db);
    QueryTable table;
    int rows = 0;
    int columns = 0;
    Query(db, "select * from blackmap", table, rows, columns);
    CloseDatabase(db);
    if (rows < 1 || columns <= 3) return;
    for (int r = 1; r <= rows; ++r) {
        std::map<int, std::string>& row = table[static_cast<unsigned>(r)];
        // SQLite hands out UTF-8 whatever the locale, so cells are decoded as UTF-8.
        BlacklistEntry entry;
        entry.name = LowerCase(Utf8ToUtf16(row[1]));
        app.m_mapBlacklist[Utf8ToUtf16(row[0])] = std::move(entry);
    }
}

}  // namespace

int GetBlacklist(CoreState& app, BlacklistMap& out) {
    if (app.m_bBlacklistStale.load()) {
        ReloadBlacklist(app);
        app.m_bBlacklistStale.store(0);
    }
    if (&out != &app.m_mapBlacklist) out = app.m_mapBlacklist;
    return 0;
}

void GetSharedBlacklist(CoreState& app, std::shared_ptr<const SharedBlacklist>& view) {
    bool reloaded = false;
    if (app.m_bBlacklistStale.load()) {
        ReloadBlacklist(app);
        app.m_bBlacklistStale.store(0);
        reloaded = true;
    }
    if (view && !reloaded && view->byMd5.size() == app.m_mapBlacklist.size()) return;
    auto fresh = std::make_shared<SharedBlacklist>();
    fresh->byMd5 = app.m_mapBlacklist;
    for (const auto& [md5, entry] : fresh->byMd5) fresh->names.insert(entry.name);
    view = std::move(fresh);
}

}  // namespace tovarek
