#include "store/blacklist.h"

#include <chrono>
#include <thread>

#include "store/core_state.h"
#include "store/database.h"
#include "tests/store/store_fixture.h"

namespace tovarek {
namespace {

constexpr const char* kA = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";

class BlacklistTest : public test::StoreTest {
protected:
    void Insert(const std::string& md5, const std::string& name) {
        Database db;
        OpenDatabase(db);
        ASSERT_EQ(
            Execute(db, "insert into blackmap values('" + md5 + "','" + name + "','','1')", false),
            0);
    }
    CoreState m_app;
};

TEST_F(BlacklistTest, ReloadsOnlyWhenStaleAndTakesRowsByTheImportsRule) {
    Insert("44d88612fea8a8f36de82e1278abb02f", "EICAR.COM");
    // Stored before the import trimmed and lower-cased: read as the fingerprint it names.
    Insert(" 0123456789ABCDEF0123456789abcdef\n ", " Upper.Exe\n");
    Insert("44d88612fea8a8f36de82e1278abb02", "short.exe");
    Insert("44d88612fea8a8f36de82e1278abb02g", "nothex.exe");
    m_app.m_bBlacklistStale = 1;
    BlacklistMap copy;
    copy[u"old"] = BlacklistEntry{};
    GetBlacklist(m_app, copy);
    EXPECT_EQ(m_app.m_bBlacklistStale.load(), 0);
    ASSERT_EQ(copy.size(), 2u);  // the caller's old entry is gone, so are the two non-digests
    EXPECT_EQ(copy[u"44d88612fea8a8f36de82e1278abb02f"].name, u"eicar.com");
    EXPECT_EQ(copy[u"0123456789abcdef0123456789abcdef"].name, u"upper.exe");
    EXPECT_EQ(copy.begin()->first, u"0123456789abcdef0123456789abcdef");  // ordinal order

    // Not stale: the table is not read again.
    Insert("00000000000000000000000000000001", "late.exe");
    GetBlacklist(m_app, copy);
    EXPECT_EQ(copy.size(), 2u);

    // Stale again: new rows join, nothing is removed.
    m_app.m_bBlacklistStale = 1;
    GetBlacklist(m_app, copy);
    EXPECT_EQ(copy.size(), 3u);
    EXPECT_EQ(copy[u"00000000000000000000000000000001"].spareNum1, 0);
}

TEST_F(BlacklistTest, FailedQueryKeepsTheIndexAndMarksItFresh) {
    Insert(kA, "a.exe");
    m_app.m_bBlacklistStale = 1;
    BlacklistMap copy;
    GetBlacklist(m_app, copy);
    ASSERT_EQ(copy.size(), 1u);
    {
        Database db;
        OpenDatabase(db);
        Execute(db, "drop table blackmap", false);
    }
    m_app.m_bBlacklistStale = 1;
    GetBlacklist(m_app, copy);
    EXPECT_EQ(copy.size(), 1u);
    EXPECT_EQ(m_app.m_bBlacklistStale.load(), 0);
    EXPECT_EQ(DbErrLog(), "执行SQL 出错.no such table: blackmap\r\n");
}

TEST_F(BlacklistTest, AnImportThatMarksTheIndexStaleDuringAReloadIsNotLost) {
    Insert(kA, "a.exe");
    m_app.m_bBlacklistStale = 1;
    // Another connection holds the file, so the reload waits on its busy timeout meanwhile.
    Database holder;
    OpenDatabase(holder);
    ASSERT_EQ(Execute(holder, "begin exclusive transaction;", false), 0);
    std::thread reader([this] {
        BlacklistMap copy;
        GetBlacklist(m_app, copy);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    m_app.m_bBlacklistStale = 1;  // the import's mark, while the reload runs
    Execute(holder, "commit transaction;", false);
    reader.join();
    EXPECT_EQ(m_app.m_bBlacklistStale.load(), 1) << "the next use must reload again";
}

TEST_F(BlacklistTest, ReadOnlyLoadReportsFailureAndNeverCreatesTheFile) {
    BlacklistMap list;
    list[u"old"] = BlacklistEntry{};
    EXPECT_NE(LoadBlacklistReadOnly(list), 0);
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(test::FileExists(kDatabaseFileName));
    Insert(kA, "A.exe");
    EXPECT_EQ(LoadBlacklistReadOnly(list), 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[u"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"].name, u"a.exe");
}

TEST_F(BlacklistTest, PassingTheIndexItselfLeavesItWhole) {
    Insert(kA, "a.exe");
    m_app.m_bBlacklistStale = 1;
    GetBlacklist(m_app, m_app.m_mapBlacklist);
    EXPECT_EQ(m_app.m_mapBlacklist.size(), 1u);
}

}  // namespace
}  // namespace tovarek
