// The statement runner with bound values that the list import writes through.
#include <sqlite3.h>

#include "store/database.h"
#include "tests/store/store_fixture.h"

namespace tovarek {
namespace {

using test::StoreTest;
using Values = std::vector<std::string>;

const char kInsert[] = "insert into blackmap values(?,?,'',?)";

std::string Cell(Database& db, const std::string& sql) {
    QueryTable table;
    int rows = 0, columns = 0;
    if (Query(db, sql, table, rows, columns) != 0 || rows < 1) return "<none>";
    return table[1][0];
}

TEST_F(StoreTest, BoundValuesNeverChangeTheStatement) {
    Database db;
    OpenDatabase(db);
    int changes = -1;
    EXPECT_EQ(
        Execute(db, kInsert, Values{"m1", "a'b\"c');drop table blackmap;--", "1"}, true, &changes),
        0);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(Cell(db, "select name from blackmap where md5='m1'"),
              "a'b\"c');drop table blackmap;--");
    // Bytes are stored as given, zero bytes included in the count.
    EXPECT_EQ(Execute(db, kInsert, Values{"m2", "中文", std::string("1\0", 2)}, false, &changes),
              0);
    EXPECT_EQ(Cell(db, "select length(cast(size as blob)) from blackmap where md5='m2'"), "2");
    EXPECT_EQ(DbErrLog(), "");
}

TEST_F(StoreTest, BoundStatementFailuresAndTheirLogLines) {
    Database db;
    OpenDatabase(db);
    int changes = -1;
    ASSERT_EQ(Execute(db, kInsert, Values{"m1", "a", "1"}, true, &changes), 0);

    // Refused inside a transaction: the commit decides and succeeds; nothing logged, no row.
    EXPECT_EQ(Execute(db, kInsert, Values{"m1", "b", "2"}, true, &changes), 0);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(DbErrLog(), "");
    EXPECT_EQ(Cell(db, "select name from blackmap where md5='m1'"), "a");

    // Without a transaction the statement decides, with its primary code.
    EXPECT_EQ(Execute(db, kInsert, Values{"m1", "b", "2"}, false, &changes), SQLITE_CONSTRAINT);
    EXPECT_EQ(changes, 0);
    // More values than placeholders, and a statement that does not compile.
    EXPECT_EQ(Execute(db, kInsert, Values{"m3", "c", "3", "extra"}, false), SQLITE_RANGE);
    EXPECT_EQ(Execute(db, "insert into nosuch values(?)", Values{"x"}, false), SQLITE_ERROR);
    EXPECT_EQ(DbErrLog(),
              "执行SQL 命令出错.错误号：19，错误信息：UNIQUE constraint failed: blackmap.md5\r\n"
              "执行SQL 命令出错.错误号：25，错误信息：column index out of range\r\n"
              "执行SQL 命令出错.错误号：1，错误信息：no such table: nosuch\r\n");

    Database closed;
    EXPECT_EQ(Execute(closed, kInsert, Values{"m4", "d", "4"}, true, &changes), kDbNotOpen);
    EXPECT_EQ(changes, 0);
}

TEST_F(StoreTest, KeptStatementFollowsSchemaAndTextChanges) {
    Database db;
    OpenDatabase(db);
    ASSERT_EQ(Execute(db, kInsert, Values{"m1", "a", "1"}, true), 0);
    // The kept statement must not run against the table it was compiled for.
    ASSERT_EQ(Execute(db,
                      "drop table blackmap; create table blackmap(md5 primary key, name, intro, "
                      "size, extra)",
                      false),
              0);
    EXPECT_EQ(Execute(db, kInsert, Values{"m2", "b", "2"}, false), SQLITE_ERROR);
    EXPECT_NE(DbErrLog().find("5 columns but 4 values"), std::string::npos) << DbErrLog();
    // Another text, then the first again.
    EXPECT_EQ(
        Execute(db, "insert into blackmap values(?,?,'',?,?)", Values{"m3", "c", "3", "x"}, false),
        0);
    EXPECT_EQ(Execute(db, "insert into blackmap(md5) values(?)", Values{"m4"}, false), 0);
    EXPECT_EQ(Cell(db, "select group_concat(md5) from blackmap"), "m3,m4");
}

TEST_F(StoreTest, FailedCommitIsRolledBackSoTheConnectionStaysUsable) {
    Database db;
    OpenDatabase(db);
    ASSERT_EQ(Execute(db, kInsert, Values{"m1", "a", "1"}, true), 0);
    ASSERT_EQ(Execute(db, "PRAGMA journal_mode=DELETE;", false), 0);

    // A reader in the middle of a query holds a shared lock: the insert itself goes through, the
    // commit cannot take the exclusive lock within the busy time-out.
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open(kDatabaseFileName, &reader), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(reader, "select * from blackmap", -1, &stmt, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);

    int changes = -1;
    EXPECT_EQ(Execute(db, kInsert, Values{"m2", "b", "2"}, true, &changes), SQLITE_BUSY);
    EXPECT_EQ(changes, 0);
    sqlite3_finalize(stmt);
    sqlite3_close(reader);

    EXPECT_EQ(Cell(db, "select count(*) from blackmap"), "1");
    EXPECT_EQ(Execute(db, kInsert, Values{"m3", "c", "3"}, true, &changes), 0);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(DbErrLog(),
              "执行SQL事务出错.错误号：5，错误信息：database is locked\r\n"
              "执行SQL 命令出错.错误号：5，错误信息：\r\n");
}

}  // namespace
}  // namespace tovarek
