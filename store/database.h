// The thin SQLite layer: open (and create) Ravlin.db, run statements with or without a
// transaction, run queries into a table of byte strings, and log every failure to dberr.log.
// A Database is one connection used by one thread; different threads use different objects.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tovarek {

constexpr const char* kDatabaseFileName = "Ravlin.db";

// Row 0: column number -> column name; rows 1..rowCount: column number -> cell text (NULL -> "").
using QueryTable = std::map<unsigned, std::map<int, std::string>>;

class Database {
public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    bool IsOpen() const { return m_conn.m_db != nullptr; }
    // The primary SQLite code of the last statement run with bound values, as the statement
    // itself ended (inside a transaction Execute returns the commit's code instead).
    int LastStatementCode() const { return m_conn.m_nStatementCode; }

    static constexpr int kStmtCacheSize = 4;

private:
    friend struct DatabaseAccess;  // the functions below, in database.cpp
    struct Connection {
        sqlite3* m_db = nullptr;
        // The last few statements run with bound values, kept compiled for the next run of the
        // same text (an import runs a look-up and an insert for every record); finalized by
        // CloseDatabase.
        sqlite3_stmt* m_pStmts[kStmtCacheSize] = {};
        std::string m_strStmtSqls[kStmtCacheSize];
        int m_nNextStmtSlot = 0;
        int m_nStatementCode = 0;
        // "begin", "commit" and "rollback", compiled on first use: an import runs two of them
        // for every record.
        sqlite3_stmt* m_pTransact[3] = {nullptr, nullptr, nullptr};
        int m_nBusyTimeoutMs = 3000;  // as SetBusyTimeout last set it
    };
    Connection m_conn;
};

// SQLite's code for "misuse", returned by every operation on a Database whose open failed.
constexpr int kDbNotOpen = 21;

// Opens Ravlin.db in the current directory, only when it is a regular file or missing; a new file
// (or an empty one, which SQLite would otherwise take as a database without tables) gets the
// blackmap table. On failure the message is logged and the Database stays closed (IsOpen() is
// false).
void OpenDatabase(Database& db);

// Opens an existing Ravlin.db for reading only: never creates the file, a table or a journal
// entry. On failure the message is logged and the Database stays closed.
void OpenDatabaseReadOnly(Database& db);

// How long the connection waits for another one's lock before a statement fails with SQLITE_BUSY
// (3000 ms from the open on).
void SetBusyTimeout(Database& db, int timeoutMs);

// Runs `sql`; with `inTransaction` between "begin transaction;" and "commit transaction;".
// Returns the SQLite code of the step that decides: the commit's inside a transaction.
int Execute(Database& db, const std::string& sql, bool inTransaction);

// As above, with `params` bound in order to the statement's "?" placeholders as text (UTF-8), so
// that a value never ends a literal or changes the statement. `changes`, when given, receives the
// rows the statement itself changed (0 when it failed): inside a transaction the result is the
// commit's, so this is how a caller tells a refused row from an added one.
int Execute(Database& db, const std::string& sql, const std::vector<std::string>& params,
            bool inTransaction, int* changes = nullptr);

// Runs a query with `params` bound as Execute does; `found` tells whether it gave a row. Returns 0
// or the SQLite code, logging a failure as Query does.
int QueryExists(Database& db, const std::string& sql, const std::vector<std::string>& params,
                bool& found);

// Switches the file's journal mode ("wal", "delete") when that can be done at once: no busy wait
// and no log line, because another connection holding the file is no failure here (the mode
// then stays as it is). True when the file is in `mode` afterwards.
bool TrySetJournalMode(Database& db, const char* mode);

// kind 0 begin, 1 commit, 2 rollback; any other kind does nothing and returns 0.
int Transact(Database& db, int kind);

// Fills `table` (see QueryTable). Returns 0 or the SQLite code; on failure `table` is empty and
// both counts are 0.
int Query(Database& db, const std::string& sql, QueryTable& table, int& rowCount, int& columnCount);

// Runs a query and hands each row to `row` as it comes (cells as text, NULL as ""), without
// building a table: for reading a whole large table. Returns 0 or the SQLite code, logging a
// failure as Query does; rows handed over before a failure stay handed over. `keepGoing`, when
// given, is asked every kRowsPerCheck rows, and every 10 ms while the query waits for another
// connection's lock: false ends the query there with kDbGaveUp (not logged), so a long read can
// be abandoned at once.
constexpr int kDbGaveUp = 9;  // SQLITE_INTERRUPT
constexpr int kRowsPerCheck = 4096;
int QueryRows(Database& db, const std::string& sql,
              const std::function<void(int columnCount, const char* const* cells)>& row,
              const std::function<bool()>& keepGoing = {});

void CloseDatabase(Database& db);

}  // namespace tovarek
