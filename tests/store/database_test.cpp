#include "store/database.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "platform/program_folders.h"
#include "tests/store/store_fixture.h"

namespace tovarek {
namespace {

using test::StoreTest;

int CountRows(Database& db, const std::string& sql) {
    QueryTable table;
    int rows = 0, columns = 0;
    EXPECT_EQ(Query(db, sql, table, rows, columns), 0);
    return rows;
}

TEST_F(StoreTest, NewFileGetsTheBlacklistTableOnlyAndAnOldFileIsLeftAlone) {
    {
        Database db;
        OpenDatabase(db);
        ASSERT_TRUE(db.IsOpen());
        QueryTable table;
        int rows = 0, columns = 0;
        ASSERT_EQ(
            Query(db, "select name from sqlite_master where type='table'", table, rows, columns),
            0);
        ASSERT_EQ(rows, 1);
        EXPECT_EQ(table[0][0], "name");
        EXPECT_EQ(table[1][0], "blackmap");
        EXPECT_EQ(Execute(db, "drop table blackmap", false), 0);
        CloseDatabase(db);
        EXPECT_FALSE(db.IsOpen());
    }
    Database db;
    OpenDatabase(db);  // exists now: nothing is created again
    EXPECT_EQ(CountRows(db, "select name from sqlite_master"), 0);
    EXPECT_FALSE(test::FileExists(m_dir.File("log/dberr.log")));
}

TEST_F(StoreTest, QueryTableHoldsNamesInRowZeroAndCellsAfter) {
    Database db;
    OpenDatabase(db);
    ASSERT_EQ(Execute(db,
                      "insert into blackmap values('m1','a.exe','','1');"
                      "insert into blackmap values('m2',NULL,'','2')",
                      true),
              0);
    QueryTable table;
    int rows = -1, columns = -1;
    ASSERT_EQ(Query(db, "select md5,name,size from blackmap order by md5", table, rows, columns),
              0);
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(columns, 3);
    EXPECT_EQ(table[0], (std::map<int, std::string>{{0, "md5"}, {1, "name"}, {2, "size"}}));
    EXPECT_EQ(table[1], (std::map<int, std::string>{{0, "m1"}, {1, "a.exe"}, {2, "1"}}));
    EXPECT_EQ(table[2], (std::map<int, std::string>{{0, "m2"}, {1, ""}, {2, "2"}}));  // NULL -> ""

    // Zero rows: success, and row 0 is there but empty.
    ASSERT_EQ(Query(db, "select * from blackmap where md5='none'", table, rows, columns), 0);
    EXPECT_EQ(rows, 0);
    ASSERT_EQ(table.size(), 1u);
    EXPECT_TRUE(table[0].empty());
}

// The exact bytes each kind of failure leaves in dberr.log, older messages first.
TEST_F(StoreTest, EachFailureKindLogsItsExactLine) {
    Database db;
    OpenDatabase(db);
    ASSERT_TRUE(db.IsOpen());

    QueryTable table;
    int rows = 7, columns = 7;
    EXPECT_NE(Query(db, "select * from nosuchtable", table, rows, columns), 0);
    EXPECT_TRUE(table.empty());
    EXPECT_EQ(rows, 0);
    EXPECT_EQ(columns, 0);
    std::string expected = "执行SQL 出错.no such table: nosuchtable\r\n";
    EXPECT_EQ(DbErrLog(), expected);
    // A query read row by row, one that may be given up too, logs the same line.
    EXPECT_EQ(
        QueryRows(
            db, "select * from nosuchtable", [](int, const char* const*) {}, [] { return true; }),
        1);
    expected += "执行SQL 出错.no such table: nosuchtable\r\n";
    EXPECT_EQ(DbErrLog(), expected);

    // Outside a transaction the statement's own code and text are logged.
    EXPECT_EQ(Execute(db, "insert into nosuchtable values(1)", false), 1);
    expected += "执行SQL 命令出错.错误号：1，错误信息：no such table: nosuchtable\r\n";
    EXPECT_EQ(DbErrLog(), expected);

    // Inside a transaction a failing statement is hidden by the successful commit.
    EXPECT_EQ(Execute(db, "insert into nosuchtable values(1)", true), 0);
    EXPECT_EQ(DbErrLog(), expected);

    // A commit that fails: the transaction line first, then the command line with the same code
    // and the statement's (empty) error text.
    ASSERT_EQ(Execute(db,
                      "pragma foreign_keys=on;"
                      "create table parent(id integer primary key);"
                      "create table child(pid integer references parent(id) "
                      "deferrable initially deferred)",
                      false),
              0);
    EXPECT_EQ(Execute(db, "insert into child values(42)", true), 19);
    expected +=
        "执行SQL事务出错.错误号：19，错误信息：FOREIGN KEY constraint failed\r\n"
        "执行SQL 命令出错.错误号：19，错误信息：\r\n";
    EXPECT_EQ(DbErrLog(), expected);
    // The failed transaction was rolled back: the row is gone and a new one can begin.
    EXPECT_EQ(CountRows(db, "select * from child"), 0);
    EXPECT_EQ(Execute(db, "insert into parent values(1)", true), 0);

    // A transaction command that fails on its own.
    EXPECT_EQ(Transact(db, 1), 1);
    expected += "执行SQL事务出错.错误号：1，错误信息：cannot commit - no transaction is active\r\n";
    EXPECT_EQ(DbErrLog(), expected);
    EXPECT_EQ(Transact(db, 7), 0);  // unknown kinds do nothing
    EXPECT_EQ(DbErrLog(), expected);
}

TEST_F(StoreTest, FailedOpenIsLoggedWithoutLineEndAndLaterCallsFailCleanly) {
    ASSERT_EQ(mkdir(kDatabaseFileName, 0755), 0);  // a folder where the file should be
    Database db;
    OpenDatabase(db);
    EXPECT_FALSE(db.IsOpen());
    EXPECT_EQ(DbErrLog(), "Can't open database: not a regular file");

    QueryTable table;
    int rows = 0, columns = 0;
    EXPECT_EQ(Query(db, "select 1", table, rows, columns), kDbNotOpen);
    EXPECT_EQ(Execute(db, "select 1", true), kDbNotOpen);
    EXPECT_EQ(Transact(db, 0), kDbNotOpen);
    CloseDatabase(db);
}

TEST_F(StoreTest, LogIsWrittenInTheAnsiCodePage) {
    testEnv.codePage = kCodePageGbk;
    Database db;
    OpenDatabase(db);
    QueryTable table;
    int rows = 0, columns = 0;
    Query(db, "select * from x", table, rows, columns);
    EXPECT_EQ(DbErrLog(), "\xD6\xB4\xD0\xD0SQL \xB3\xF6\xB4\xED.no such table: x\r\n");
}

TEST_F(StoreTest, BrokenDatabaseFileFailsQueriesWithoutCrashing) {
    test::WriteFile(kDatabaseFileName, std::string(4096, 'Z'));
    Database db;
    OpenDatabase(db);
    QueryTable table;
    int rows = 0, columns = 0;
    EXPECT_EQ(Query(db, "select * from blackmap", table, rows, columns), 26);  // SQLITE_NOTADB
    EXPECT_EQ(DbErrLog(), "执行SQL 出错.file is not a database\r\n");
    EXPECT_EQ(test::ReadFile(kDatabaseFileName), std::string(4096, 'Z'));  // untouched
}

TEST_F(StoreTest, TransactionThatSqliteRolledBackItselfIsNotRolledBackAgain) {
    Database db;
    OpenDatabase(db);
    ASSERT_TRUE(db.IsOpen());
    // A full disk: SQLite ends the whole transaction itself, so the commit finds none.
    ASSERT_EQ(Execute(db, "pragma max_page_count=3", false), 0);
    EXPECT_EQ(Execute(db, "insert into blackmap values(?,?,'','1')",
                      {"a", std::string(100000, 'x')}, true),
              1);
    EXPECT_EQ(DbErrLog(),
              "执行SQL事务出错.错误号：1，错误信息：cannot commit - no transaction is active\r\n"
              "执行SQL 命令出错.错误号：1，错误信息：database or disk is full\r\n");
    // The connection is usable: a new transaction begins and commits.
    EXPECT_EQ(Execute(db, "insert into blackmap values('b','n','','1')", true), 0);
    EXPECT_EQ(CountRows(db, "select * from blackmap"), 1);
}

// The installed program (a bin/ folder with the installed database beside it) opens the user's
// copy of the database and logs into the user's state folder; the current folder stays untouched.
TEST_F(StoreTest, InstalledProgramUsesTheUsersDataAndStateFolders) {
    for (const char* sub : {"usr", "usr/bin", "usr/share", "usr/share/tovarek"})
        ASSERT_EQ(mkdir(m_dir.File(sub).c_str(), 0755), 0);
    {
        Database seed;  // the installed database, one listed entry in it
        OpenDatabase(seed);
        ASSERT_EQ(Execute(seed, "insert into blackmap values('0123','seeded','','1')", false), 0);
    }
    ASSERT_EQ(
        rename(m_dir.File("Ravlin.db").c_str(), m_dir.File("usr/share/tovarek/Ravlin.db").c_str()),
        0);
    testEnv.moduleDir = m_dir.File("usr/bin");
    setenv("XDG_DATA_HOME", m_dir.File("data").c_str(), 1);
    setenv("XDG_STATE_HOME", m_dir.File("state").c_str(), 1);
    ASSERT_TRUE(PrepareDataFolder());
    {
        Database db;
        OpenDatabase(db);
        EXPECT_EQ(CountRows(db, "select * from blackmap where name='seeded'"), 1);
        EXPECT_NE(Execute(db, "select * from missing", false), 0);
    }
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_STATE_HOME");
    EXPECT_TRUE(test::FileExists(m_dir.File("data/tovarek/Ravlin.db")));
    EXPECT_FALSE(test::FileExists(m_dir.File("Ravlin.db")));
    EXPECT_NE(test::ReadFile(m_dir.File("state/tovarek/log/dberr.log")).find("missing"),
              std::string::npos);
    EXPECT_FALSE(test::FileExists(m_dir.File("usr/bin/log")));
}

}  // namespace
}  // namespace tovarek
