#include "store/database.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include "platform/program_folders.h"
#include "store/blacklist.h"
#include "store/db_log.h"

namespace tovarek {

struct DatabaseAccess {
    static Database::Connection& Of(Database& db) { return db.m_conn; }
};

namespace {

auto& C(Database& db) {
    return DatabaseAccess::Of(db);
}

constexpr const char* kCreateStatements[] = {
    kCreateBlackmapSql,
};

constexpr int kBusyTimeoutMs = 3000;

constexpr const char* kTransactStatements[] = {
    "begin transaction;",
    "commit transaction;",
    "rollback transaction;",
};

// Runs one statement; `errorText` receives SQLite's message (empty on success).
int RunStatement(Database& db, const char* sql, std::string& errorText) {
    char* error = nullptr;
    int rc = sqlite3_exec(C(db).m_db, sql, nullptr, nullptr, &error);
    errorText = error ? error : "";
    sqlite3_free(error);
    return rc;
}

// The compiled statement for `sql`, from the cache or newly prepared into the next slot.
int CachedStatement(Database& db, const std::string& sql, sqlite3_stmt** out) {
    *out = nullptr;
    for (int i = 0; i < Database::kStmtCacheSize; ++i) {
        if (C(db).m_pStmts[i] && C(db).m_strStmtSqls[i] == sql) {
            *out = C(db).m_pStmts[i];
            return SQLITE_OK;
        }
    }
    int slot = C(db).m_nNextStmtSlot;
    C(db).m_nNextStmtSlot = (slot + 1) % Database::kStmtCacheSize;
    sqlite3_finalize(C(db).m_pStmts[slot]);
    C(db).m_pStmts[slot] = nullptr;
    C(db).m_strStmtSqls[slot].clear();
    int rc = sqlite3_prepare_v3(C(db).m_db, sql.c_str(), static_cast<int>(sql.size()),
                                SQLITE_PREPARE_PERSISTENT, &C(db).m_pStmts[slot], nullptr);
    if (rc == SQLITE_OK && C(db).m_pStmts[slot]) C(db).m_strStmtSqls[slot] = sql;
    *out = C(db).m_pStmts[slot];
    return rc;
}

// Binds and steps one statement, compiled once per text and kept in `db`; `errorText` as above,
// `rows` the result rows it gave. The values are bound without a copy: the bindings are cleared
// before this returns.
int RunBoundStatement(Database& db, const std::string& sql, const std::vector<std::string>& params,
                      std::string& errorText, int& changes, int* rows = nullptr) {
    changes = 0;
    if (rows) *rows = 0;
    errorText.clear();
    sqlite3_stmt* stmt = nullptr;
    int rc = CachedStatement(db, sql, &stmt);
    if (rc == SQLITE_OK && stmt == nullptr) return C(db).m_nStatementCode = 0;  // white space only
    for (size_t i = 0; rc == SQLITE_OK && i < params.size(); ++i) {
        rc = sqlite3_bind_text(stmt, static_cast<int>(i + 1), params[i].data(),
                               static_cast<int>(params[i].size()), SQLITE_STATIC);
    }
    if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            if (rows) ++*rows;
        }
        if (rc == SQLITE_DONE) {
            rc = SQLITE_OK;
            changes = sqlite3_changes(C(db).m_db);
        }
    }
    if (rc != SQLITE_OK) {
        // The extended code says which constraint; callers and the log want the primary one.
        errorText = sqlite3_errmsg(C(db).m_db);
        rc &= 0xff;
    }
    if (stmt) {
        // Ready for the next run; the bound values belong to the caller and go with this call.
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
    }
    C(db).m_nStatementCode = rc;
    return rc;
}

// Opens the file by its bare name with `flags`; a failure is logged and leaves `db` closed. Only
// a regular file (or none, where the flags create one) is opened: a FIFO would block the open
// for ever and a device or a folder is no database.
bool OpenFile(Database& db, int flags) {
    CloseDatabase(db);
    const std::string path = DataFile(kDatabaseFileName);
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        LogDbError("Can't open database: not a regular file", true);
        return false;
    }
    int rc = sqlite3_open_v2(path.c_str(), &C(db).m_db, flags, nullptr);
    if (rc != 0) {
        LogDbError(std::string("Can't open database: ") +
                       (C(db).m_db ? sqlite3_errmsg(C(db).m_db) : sqlite3_errstr(rc)),
                   true);
        sqlite3_close(C(db).m_db);
        C(db).m_db = nullptr;
        return false;
    }
    SetBusyTimeout(db, kBusyTimeoutMs);
    return true;
}

// A busy wait that gives up as soon as the reader is no longer wanted: SQLite's own waits out
// the whole timeout, which held a closing program for up to 3 s behind another one's lock.
struct BusyWait {
    const std::function<bool()>* keepGoing;
    int timeoutMs;
    bool gaveUp = false;
};
constexpr int kBusyPollMs = 10;

int WaitWhileWanted(void* context, int tries) {
    BusyWait& wait = *static_cast<BusyWait*>(context);
    if (!(*wait.keepGoing)()) {
        wait.gaveUp = true;
        return 0;
    }
    if (tries * kBusyPollMs >= wait.timeoutMs) return 0;
    sqlite3_sleep(kBusyPollMs);
    return 1;
}

}  // namespace

Database::~Database() {
    CloseDatabase(*this);
}

void OpenDatabase(Database& db) {
    struct stat st;
    // An empty file is what a failed first start or a careless copy leaves; SQLite would open it
    // as a database without tables, so it is made a new database instead.
    bool existed = stat(DataFile(kDatabaseFileName).c_str(), &st) == 0 && st.st_size > 0;
    if (!OpenFile(db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) || existed) return;
    for (const char* sql : kCreateStatements) Execute(db, sql, true);
}

void OpenDatabaseReadOnly(Database& db) {
    OpenFile(db, SQLITE_OPEN_READONLY);
}

void SetBusyTimeout(Database& db, int timeoutMs) {
    C(db).m_nBusyTimeoutMs = timeoutMs;
    if (db.IsOpen()) sqlite3_busy_timeout(C(db).m_db, timeoutMs);
}

int Transact(Database& db, int kind) {
    if (kind < 0 || kind > 2) return 0;
    if (!db.IsOpen()) return kDbNotOpen;
    sqlite3_stmt*& stmt = C(db).m_pTransact[kind];
    int rc = SQLITE_OK;
    if (stmt == nullptr) {
        rc = sqlite3_prepare_v3(C(db).m_db, kTransactStatements[kind], -1,
                                SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    }
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    if (rc != SQLITE_OK) {
        // The primary code, as sqlite3_exec would have returned it.
        rc &= 0xff;
        LogDbError("执行SQL事务出错.错误号：" + std::to_string(rc) + "，错误信息：" +
                       sqlite3_errmsg(C(db).m_db) + "\n",
                   true);
    }
    if (stmt) sqlite3_reset(stmt);
    return rc;
}

namespace {

// Runs `statement` as Execute does: between begin and commit when asked, logging a failure of
// the deciding step. A commit that failed (a lock held past the busy timeout, a deferred
// constraint) would leave the transaction open and make every later "begin" on this connection
// fail, so it is rolled back. `statement` fills the error text and tells whether it changed rows.
template <typename Run>
int ExecuteStatement(Database& db, bool inTransaction, Run statement, int* changes) {
    if (changes) *changes = 0;
    if (!db.IsOpen()) return kDbNotOpen;
    std::string errorText;
    int changed = 0;
    int rc;
    if (inTransaction) {
        Transact(db, 0);
        statement(errorText, changed);
        rc = Transact(db, 1);
        if (rc != 0) {
            // SQLite rolls a transaction back itself on some failures (disk full, I/O error);
            // a second rollback would only fail and log a third line.
            if (!sqlite3_get_autocommit(C(db).m_db)) Transact(db, 2);
            changed = 0;
        }
    } else {
        rc = statement(errorText, changed);
    }
    if (rc != 0) {
        LogDbError(
            "执行SQL 命令出错.错误号：" + std::to_string(rc) + "，错误信息：" + errorText + "\n",
            true);
    }
    if (changes) *changes = changed;
    return rc;
}

}  // namespace

int Execute(Database& db, const std::string& sql, bool inTransaction) {
    return ExecuteStatement(
        db, inTransaction,
        [&](std::string& errorText, int&) { return RunStatement(db, sql.c_str(), errorText); },
        nullptr);
}

int Execute(Database& db, const std::string& sql, const std::vector<std::string>& params,
            bool inTransaction, int* changes) {
    return ExecuteStatement(
        db, inTransaction,
        [&](std::string& errorText, int& changed) {
            return RunBoundStatement(db, sql, params, errorText, changed);
        },
        changes);
}

int Query(Database& db, const std::string& sql, QueryTable& table, int& rowCount,
          int& columnCount) {
    table.clear();
    rowCount = 0;
    columnCount = 0;
    if (!db.IsOpen()) return kDbNotOpen;
    char** cells = nullptr;
    char* error = nullptr;
    int rc = sqlite3_get_table(C(db).m_db, sql.c_str(), &cells, &rowCount, &columnCount, &error);
    if (rc != 0) {
        LogDbError(std::string("执行SQL 出错.") + (error ? error : "") + "\n", true);
        sqlite3_free(error);
        sqlite3_free_table(cells);
        rowCount = 0;
        columnCount = 0;
        return rc;
    }
    // SQLite's flat array: the column names first, then the cells row by row.
    for (int r = 0; r <= rowCount; ++r) {
        std::map<int, std::string>& row = table[static_cast<unsigned>(r)];
        for (int c = 0; c < columnCount; ++c) {
            const char* cell = cells[r * columnCount + c];
            row[c] = cell ? cell : "";
        }
    }
    sqlite3_free_table(cells);
    return 0;
}

int QueryRows(Database& db, const std::string& sql,
              const std::function<void(int columnCount, const char* const* cells)>& row,
              const std::function<bool()>& keepGoing) {
    if (!db.IsOpen()) return kDbNotOpen;
    BusyWait wait{&keepGoing, C(db).m_nBusyTimeoutMs};
    if (keepGoing) sqlite3_busy_handler(C(db).m_db, WaitWhileWanted, &wait);
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(C(db).m_db, sql.c_str(), -1, &stmt, nullptr);
    if (rc == SQLITE_OK && stmt) {
        const int columns = sqlite3_column_count(stmt);
        std::vector<const char*> cells(static_cast<size_t>(columns));
        for (size_t n = 0; (rc = sqlite3_step(stmt)) == SQLITE_ROW; ++n) {
            if (keepGoing && n % kRowsPerCheck == 0 && !keepGoing()) {
                rc = kDbGaveUp;
                break;
            }
            for (int c = 0; c < columns; ++c) {
                const unsigned char* text = sqlite3_column_text(stmt, c);
                cells[static_cast<size_t>(c)] = text ? reinterpret_cast<const char*>(text) : "";
            }
            row(columns, cells.data());
        }
        if (rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    if (wait.gaveUp) rc = kDbGaveUp;
    if (rc != SQLITE_OK && rc != kDbGaveUp) {
        LogDbError(std::string("执行SQL 出错.") + sqlite3_errmsg(C(db).m_db) + "\n", true);
        rc &= 0xff;
    }
    sqlite3_finalize(stmt);
    if (keepGoing) sqlite3_busy_timeout(C(db).m_db, C(db).m_nBusyTimeoutMs);
    return rc;
}

int QueryExists(Database& db, const std::string& sql, const std::vector<std::string>& params,
                bool& found) {
    found = false;
    if (!db.IsOpen()) return kDbNotOpen;
    std::string errorText;
    int changes = 0;
    int rows = 0;
    int rc = RunBoundStatement(db, sql, params, errorText, changes, &rows);
    if (rc != 0) {
        LogDbError("执行SQL 出错." + errorText + "\n", true);
        return rc;
    }
    found = rows > 0;
    return 0;
}

bool TrySetJournalMode(Database& db, const char* mode) {
    if (!db.IsOpen()) return false;
    std::string result;
    auto keep = [](void* out, int columns, char** values, char**) {
        if (columns > 0 && values[0]) *static_cast<std::string*>(out) = values[0];
        return 0;
    };
    sqlite3_busy_timeout(C(db).m_db, 0);
    int rc = sqlite3_exec(C(db).m_db, (std::string("PRAGMA journal_mode=") + mode + ";").c_str(),
                          keep, &result, nullptr);
    sqlite3_busy_timeout(C(db).m_db, C(db).m_nBusyTimeoutMs);
    return rc == SQLITE_OK && sqlite3_stricmp(result.c_str(), mode) == 0;
}

void CloseDatabase(Database& db) {
    if (C(db).m_db == nullptr) return;
    // A statement left open would keep sqlite3_close from closing the connection.
    for (int i = 0; i < Database::kStmtCacheSize; ++i) {
        sqlite3_finalize(C(db).m_pStmts[i]);
        C(db).m_pStmts[i] = nullptr;
        C(db).m_strStmtSqls[i].clear();
    }
    for (sqlite3_stmt*& stmt : C(db).m_pTransact) {
        sqlite3_finalize(stmt);
        stmt = nullptr;
    }
    sqlite3_close(C(db).m_db);
    C(db).m_db = nullptr;
}

}  // namespace tovarek
