#include "store/blacklist.h"
#include "store/scan_list.h"

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "platform/code_page.h"
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

// Not read is not empty: a reload that failed keeps the index it had and leaves the flag set,
// so the next user tries again; a file that is no database file at all (a FIFO would block an
// open for ever, a folder or a damaged file) fails at once and is never replaced.
TEST_F(BlacklistTest, AListThatCannotBeReadIsNeverTakenForAnEmptyOne) {
    for (const char* kind : test::kUnreadableDatabaseKinds) {
        SCOPED_TRACE(kind);
        CoreState app;
        app.m_bBlacklistStale = 1;
        ASSERT_TRUE(test::MakeUnreadableDatabase(kDatabaseFileName, kind));
        BlacklistMap copy;
        copy[u"old"] = BlacklistEntry{};
        BlacklistView view;
        EXPECT_NE(GetSharedBlacklist(app, view), 0);
        EXPECT_FALSE(view);
        EXPECT_NE(GetBlacklist(app, copy), 0);
        EXPECT_TRUE(copy.empty());
        EXPECT_EQ(app.m_bBlacklistStale.load(), 1);
        EXPECT_NE(LoadBlacklistReadOnly(copy), 0);
        struct stat st;
        ASSERT_EQ(stat(kDatabaseFileName, &st), 0);
        EXPECT_EQ(std::string(kind) == "damaged", S_ISREG(st.st_mode)) << "left as it was";
        if (S_ISREG(st.st_mode)) {
            EXPECT_EQ(st.st_size, 4096);
        }
    }
    unlink(kDatabaseFileName);
    Insert(kA, "a.exe");
    CoreState app;
    app.m_bBlacklistStale = 1;
    BlacklistView view;
    ASSERT_EQ(GetSharedBlacklist(app, view), 0);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->size(), 1u);
    // The table goes missing: the index read before stays in force, and is asked for again.
    {
        Database db;
        OpenDatabase(db);
        Execute(db, "drop table blackmap", false);
    }
    app.m_bBlacklistStale = 1;
    BlacklistView again;
    EXPECT_NE(GetSharedBlacklist(app, again), 0);
    EXPECT_EQ(again, view);
    EXPECT_EQ(app.m_bBlacklistStale.load(), 1);
    {
        Database db;
        OpenDatabase(db);
        Execute(db, kCreateBlackmapSql, false);
    }
    Insert("bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb", "b.exe");
    EXPECT_EQ(GetSharedBlacklist(app, again), 0);
    EXPECT_EQ(again->size(), 1u);
    EXPECT_TRUE(again->ContainsName(u"b.exe"));
    EXPECT_EQ(app.m_bBlacklistStale.load(), 0);
    EXPECT_EQ(view->size(), 1u) << "a holder's view never changes under it";
    EXPECT_TRUE(view->ContainsName(u"a.exe"));
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

// A reload waiting for another connection's lock gives up as soon as its reader is no longer
// wanted, not when the 3 s busy timeout runs out: a closing program doesn't wait behind it.
TEST_F(BlacklistTest, AReloadWaitingForALockGivesUpWhenNoLongerWanted) {
    Insert(kA, "a.exe");
    m_app.m_bBlacklistStale = 1;
    Database holder;
    OpenDatabase(holder);
    ASSERT_EQ(Execute(holder, "begin exclusive transaction;", false), 0);
    std::atomic<bool> wanted{true};
    int rc = -1;
    std::chrono::steady_clock::time_point returned;
    std::thread reader([&] {
        BlacklistView view;
        rc = GetSharedBlacklist(m_app, view, [&] { return wanted.load(); });
        returned = std::chrono::steady_clock::now();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto dropped = std::chrono::steady_clock::now();
    wanted = false;
    reader.join();
    Execute(holder, "commit transaction;", false);
    EXPECT_EQ(rc, kDbGaveUp);
    EXPECT_LT(returned - dropped, std::chrono::milliseconds(1000));
    EXPECT_EQ(m_app.m_bBlacklistStale.load(), 1) << "not read is not empty";
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

// Every row of a long table arrives, in key order, and where a table without the key holds one
// fingerprint twice, the later row wins as it did when rows were read one by one.
TEST_F(BlacklistTest, ALongTableKeepsEveryRowAndTheLastOfEqualFingerprints) {
    {
        Database db;
        OpenDatabase(db);
        ASSERT_EQ(Execute(db, "drop table blackmap", false), 0);
        ASSERT_EQ(
            Execute(db, "create table blackmap(md5 text, name text, intro text, size text)", false),
            0);
        // Row i (rowid i + 1) holds fingerprint (i * 7919) mod 30000, so rows are not in key
        // order; then one fingerprint twice more.
        ASSERT_EQ(Execute(db,
                          "with recursive n(i) as (select 0 union all select i + 1 from n where "
                          "i < 29999) insert into blackmap select printf('%032x', (i * 7919) % "
                          "30000), 'N' || i || '.EXE', '', '1' from n",
                          false),
                  0);
        const char* dup = "00000000000000000000000000000001";
        for (const char* name : {"first.exe", "second.exe"}) {
            Execute(db,
                    std::string("insert into blackmap values('") + dup + "','" + name + "','','')",
                    false);
        }
        // A pretty-printed digest in capitals, a value that is no digest, a name beyond ASCII.
        Execute(db,
                "insert into blackmap values(' ABCDEF0123456789ABCDEF0123456789\n', "
                "' \xc3\x84"
                "rger.EXE ','',''), ('zz', 'x.exe', '', '')",
                false);
    }
    BlacklistMap list;
    ASSERT_EQ(LoadBlacklistReadOnly(list), 0);
    EXPECT_EQ(list[u"abcdef0123456789abcdef0123456789"].name, u"\u00e4rger.exe");
    ASSERT_EQ(list.size(), 30001u);
    EXPECT_EQ(list[u"00000000000000000000000000000001"].name, u"second.exe");
    EXPECT_EQ(list[u"00000000000000000000000000000000"].name, u"n0.exe");
    char last[40];
    snprintf(last, sizeof last, "%032x", (29999 * 7919) % 30000);
    EXPECT_EQ(list[std::u16string(last, last + 32)].name, u"n29999.exe");
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end(),
                               [](const auto& a, const auto& b) { return a.first < b.first; }));
    m_app.m_bBlacklistStale = 1;
    BlacklistMap copy;
    GetBlacklist(m_app, copy);
    ASSERT_EQ(copy.size(), list.size());
    for (const auto& [md5, entry] : list) ASSERT_EQ(copy[md5].name, entry.name);
}

// The compact index answers what a map keyed by the stored digest answered: a fingerprint only in
// its written form (lower-case hex), a key by the load's rule (trimmed, lower-cased, a non-digest
// left out, the later of two keys that are one digest), names lower-cased, each entry kept.
TEST(ScanList, AnswersEveryLookupAsTheMapItReplaces) {
    BlacklistMap map;
    map[u"0123456789abcdef0123456789abcdef"].name = u"Evil.EXE";
    map[u"0123456789abcdef0123456789abcdef\n"].name = u"later.exe";  // the same digest
    map[u" ABCDEF0123456789ABCDEF0123456789"].name = u"Upper.exe";
    map[u"fedcba9876543210fedcba9876543210"].name = u"";
    map[u"fedcba9876543210fedcba987654321"].name = u"short.exe";
    map[u"fedcba9876543210fedcba987654321g"].name = u"nothex.exe";
    map[u"ffffffffffffffff0000000000000000"].name = u"\u00c4rger.exe";
    // Enough entries that the name table probes past taken slots and the search runs deep.
    for (int i = 0; i < 5000; ++i) {
        char key[40];
        snprintf(key, sizeof key, "%016x%016x", i * 2654435761u, i);
        map[std::u16string(key, key + 32)].name = u"N" + std::u16string(1, char16_t(0x4e00 + i));
    }
    ScanList list;
    list.Assign(map);
    EXPECT_EQ(list.size(), 5004u);
    EXPECT_TRUE(list.ContainsFingerprint(u"0123456789abcdef0123456789abcdef"));
    EXPECT_TRUE(list.ContainsFingerprint(u"abcdef0123456789abcdef0123456789"));
    EXPECT_TRUE(list.ContainsName(u"upper.exe"));
    EXPECT_TRUE(list.ContainsFingerprint(u"fedcba9876543210fedcba9876543210"));
    EXPECT_TRUE(list.ContainsFingerprint(u"ffffffffffffffff0000000000000000"));
    for (const char16_t* absent :
         {u"0123456789ABCDEF0123456789abcdef", u"0123456789abcdef0123456789abcdee",
          u"0123456789abcdef0123456789abcde", u"0123456789abcdef0123456789abcdef0",
          u"fedcba9876543210fedcba987654321g", u"00000000000000010000000000000000",
          u"ffffffffffffffffffffffffffffffff", u"",
          u"0123456789abcdef0123456789abcde\u0166"})  // its low byte is an 'f'
        EXPECT_FALSE(list.ContainsFingerprint(absent)) << std::u16string(absent).size();
    EXPECT_TRUE(list.ContainsName(u"later.exe"));
    EXPECT_FALSE(list.ContainsName(u"evil.exe")) << "replaced by the later row";
    EXPECT_TRUE(list.ContainsName(u""));
    EXPECT_TRUE(list.ContainsName(u"\u00e4rger.exe"));
    EXPECT_FALSE(list.ContainsName(u"\u00c4rger.exe"));
    EXPECT_FALSE(list.ContainsName(u"short.exe"));
    EXPECT_FALSE(list.ContainsName(u"later.ex"));
    for (int i = 0; i < 5000; ++i) {
        char key[40];
        snprintf(key, sizeof key, "%016x%016x", i * 2654435761u, i);
        ASSERT_TRUE(list.ContainsFingerprint(std::u16string(key, key + 32))) << key;
        ASSERT_TRUE(list.ContainsName(u"n" + std::u16string(1, char16_t(0x4e00 + i)))) << i;
    }
    EXPECT_FALSE(list.ContainsName(u"n" + std::u16string(1, char16_t(0x4e00 + 5000))));
    BlacklistMap copy;
    list.CopyTo(copy);
    ASSERT_EQ(copy.size(), 5004u);
    EXPECT_EQ(copy[u"0123456789abcdef0123456789abcdef"].name, u"later.exe");
    EXPECT_EQ(copy[u"ffffffffffffffff0000000000000000"].name, u"\u00e4rger.exe");
}

// Real fingerprints spread over the whole range: every one is found, wherever it falls among the
// index's runs (at the first and last value of a run too), and a value next to one is not.
TEST(ScanList, FindsFingerprintsOverTheWholeRangeAndAtTheEdgesOfEveryRun) {
    std::vector<std::pair<uint64_t, uint64_t>> digests;
    std::mt19937_64 random(7);
    for (int i = 0; i < 3000; ++i) digests.push_back({random(), random()});
    // Runs are split by leading bits: these sit on both sides of every split up to 2^12 runs.
    for (uint64_t j = 0; j < 4096; ++j) {
        digests.push_back({j << 52, 5});
        digests.push_back({(j << 52) - 1, 5});
    }
    auto text = [](uint64_t high, uint64_t low) {
        char key[40];
        snprintf(key, sizeof key, "%016llx%016llx", static_cast<unsigned long long>(high),
                 static_cast<unsigned long long>(low));
        return std::u16string(key, key + 32);
    };
    BlacklistMap map;
    for (const auto& [high, low] : digests) map[text(high, low)].name = u"x";
    ScanList list;
    list.Assign(map);
    ASSERT_EQ(list.size(), map.size());
    // The table that narrows a lookup costs about a byte per entry: the whole index stays near
    // the 29 to 37 bytes per entry its header promises (here one unit of name each).
    EXPECT_LT(list.HeldBytes(), 48 * list.size());
    for (const auto& [high, low] : digests) {
        ASSERT_TRUE(list.ContainsFingerprint(text(high, low))) << Utf16ToUtf8(text(high, low));
        ASSERT_FALSE(list.ContainsFingerprint(text(high, low + 1)));
    }
}

}  // namespace
}  // namespace tovarek
