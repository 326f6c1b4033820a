#include "update/list_import.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/local_time.h"
#include "store/core_state.h"
#include "store/database.h"
#include "tests/store/store_fixture.h"
#include "tests/support/limited_child.h"
#include "xml/xml_doc.h"

namespace tovarek {
namespace {

struct Row {
    std::string md5, name, intro, size;
    bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Row& r) {
    return os << "(" << r.md5 << ", " << r.name << ", '" << r.intro << "', " << r.size << ")";
}

std::vector<Row> Rows() {
    Database db;
    OpenDatabase(db);
    QueryTable table;
    int rows = 0, columns = 0;
    Query(db, "select md5, name, intro, size from blackmap order by rowid", table, rows, columns);
    std::vector<Row> out;
    for (int r = 1; r <= rows; ++r) {
        auto& row = table[static_cast<unsigned>(r)];
        out.push_back({row[0], row[1], row[2], row[3]});
    }
    return out;
}

const char16_t kMd5A[] = u"0123456789abcdef0123456789abcdef";
const char16_t kMd5B[] = u"fedcba9876543210fedcba9876543210";
const char kMd5AUtf8[] = "0123456789abcdef0123456789abcdef";
const char kMd5BUtf8[] = "fedcba9876543210fedcba9876543210";

std::u16string FileRecord(std::u16string_view save, std::u16string_view md5,
                          std::u16string_view size) {
    return u"<File><save>" + std::u16string(save) + u"</save><md5>" + std::u16string(md5) +
           u"</md5><size>" + std::u16string(size) + u"</size></File>";
}

class ImportTest : public test::StoreTest {
protected:
    void SetUp() override {
        test::StoreTest::SetUp();
        m_app.SetListDate(u"暂无更新");
        m_app.m_bBlacklistStale.store(0);
    }
    // Imports text that must parse; checks what every accepted document does to the state.
    ImportOutcome Import(std::u16string_view doc) {
        ImportOutcome outcome;
        EXPECT_EQ(ImportList(m_app, kImportText, std::u16string(doc), &outcome), 0);
        EXPECT_TRUE(outcome.bParsedAndOpened);
        EXPECT_EQ(m_app.m_bBlacklistStale.load(), 1);
        EXPECT_NE(m_app.ListDate(), u"暂无更新");
        return outcome;
    }
    void ExpectUntouched(const char* what) {
        EXPECT_EQ(m_app.m_bBlacklistStale.load(), 0) << what;
        EXPECT_EQ(m_app.ListDate(), u"暂无更新") << what;
    }

    CoreState m_app;
};

TEST_F(ImportTest, RecordsAreReadAsTheListIsWritten) {
    struct Case {
        const char* what;
        std::u16string doc;
        std::vector<Row> rows;
    } cases[] = {
        {"plain record, size may be missing",
         u"<?xml version=\"1.0\"?>\n<list>\n  " + FileRecord(u"eicar.com", kMd5A, u"68") +
             u"\n  <File><save>b.exe</save><md5>" + kMd5B + u"</md5></File>\n</list>",
         {{kMd5AUtf8, "eicar.com", "", "68"}, {kMd5BUtf8, "b.exe", "", ""}}},
        {"children out of order: md5 before save is not seen",
         u"<list><File><md5>" + std::u16string(kMd5A) +
             u"</md5><save>a.exe</save><size>1</size></File>" + FileRecord(u"b", kMd5B, u"2") +
             u"</list>",
         {{kMd5BUtf8, "b", "", "2"}}},
        {"size before md5 is not seen, md5 still is",
         u"<list><File><save>a</save><size>9</size><md5>" + std::u16string(kMd5A) +
             u"</md5></File></list>",
         {{kMd5AUtf8, "a", "", ""}}},
        {"no save, or an empty one: skipped",
         u"<list><File><md5>" + std::u16string(kMd5A) + u"</md5></File>" +
             FileRecord(u"", kMd5B, u"2") + u"</list>",
         {}},
        {"nested File and other names are passed over",
         u"<list><group>" + FileRecord(u"deep", kMd5A, u"1") +
             u"</group><file><save>x</save><md5>" + kMd5B + u"</md5></file>" +
             FileRecord(u"top", kMd5B, u"3") + u"</list>",
         {{kMd5BUtf8, "top", "", "3"}}},
        {"references and CDATA are decoded, white space around values dropped",
         u"<list>" + FileRecord(u"a&amp;b &#x41;&#66;", kMd5A, u" 7 ") +
             FileRecord(u"<![CDATA[x<y>&amp;]]>", kMd5B, u"8") + u"</list>",
         {{kMd5AUtf8, "a&b AB", "", "7"}, {kMd5BUtf8, "x<y>&amp;", "", "8"}}},
        {"a pretty-printed record: digest over lines, in capitals",
         u"<list><File>\n  <save>\n    a b.exe\n  </save>\n  <md5>\n    "
         u"ABCDEF0123456789ABCDEF0123456789\n  </md5>\n</File></list>",
         {{"abcdef0123456789abcdef0123456789", "a b.exe", "", ""}}},
        {"a comment inside a value is dropped",
         u"<list>" + FileRecord(u"ab<!-- note -->cd", kMd5A, u"1") + u"</list>",
         {{kMd5AUtf8, "abcd", "", "1"}}},
        {"a save with a child element reads as empty",
         u"<list>" + FileRecord(u"<b>bold</b>", kMd5A, u"1") + u"</list>",
         {}},
        {"apostrophes and quotation marks are stored as they stand",
         u"<list>" + FileRecord(u"it's \"x\"'); drop table blackmap;--", kMd5A, u"1'") +
             FileRecord(u"&apos;&quot;", kMd5B, u"") + u"</list>",
         {{kMd5AUtf8, "it's \"x\"'); drop table blackmap;--", "", "1'"},
          {kMd5BUtf8, "'\"", "", ""}}},
        {"Chinese names and their letter case are kept, digests lower-cased",
         u"<list>" + FileRecord(u"木马下载器.EXE", u"ABCDEF0123456789ABCDEF0123456789", u"5") +
             u"</list>",
         {{"abcdef0123456789abcdef0123456789", "木马下载器.EXE", "", "5"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir(true);  // a fresh Ravlin.db for each document
        m_app.m_bBlacklistStale.store(0);
        m_app.SetListDate(u"暂无更新");
        ImportOutcome outcome = Import(c.doc);
        EXPECT_EQ(Rows(), c.rows);
        EXPECT_EQ(outcome.nRowsAdded, static_cast<int>(c.rows.size()));
    }
    EXPECT_EQ(DbErrLog(), "");
}

TEST_F(ImportTest, DuplicatesAreRefusedWhileTheOthersAreStored) {
    Import(u"<list>" + FileRecord(u"old", kMd5A, u"1") + u"</list>");
    ImportOutcome outcome =
        Import(u"<list>" + FileRecord(u"first", u"11111111111111111111111111111111", u"1") +
               FileRecord(u"new", kMd5A, u"2") + FileRecord(u"twice", kMd5B, u"3") +
               FileRecord(u"again", kMd5B, u"4") +
               // No fingerprint, so refused and counted as such.
               FileRecord(u"short", u"0123456789abcdef", u"5") +
               FileRecord(u"not hex", u"0123456789abcdef0123456789abcdeg", u"6") + u"</list>");
    EXPECT_EQ(outcome.nRecords, 6);
    EXPECT_EQ(outcome.nRowsAdded, 2);
    std::vector<Row> expected = {{kMd5AUtf8, "old", "", "1"},
                                 {"11111111111111111111111111111111", "first", "", "1"},
                                 {kMd5BUtf8, "twice", "", "3"}};
    EXPECT_EQ(Rows(), expected);
    // A refused insert ends with a successful commit: nothing to log.
    EXPECT_EQ(DbErrLog(), "");

    // A list that only repeats what is stored adds nothing and still counts as an update.
    m_app.m_bBlacklistStale.store(0);
    m_app.SetListDate(u"");
    outcome = Import(u"<list>" + FileRecord(u"again", kMd5A, u"9") + u"</list>");
    EXPECT_EQ(outcome.nRowsAdded, 0);
    EXPECT_EQ(Rows(), expected);
}

// The program's end stops an import between records: what was stored stays, nothing claims an
// update.
TEST_F(ImportTest, AStopEndsTheImportBetweenRecords) {
    std::atomic<bool> stop{true};
    ImportOutcome outcome;
    EXPECT_EQ(ImportList(m_app, kImportText, u"<list>" + FileRecord(u"a", kMd5A, u"1") + u"</list>",
                         &outcome, &stop),
              kImportStopped);
    EXPECT_EQ(outcome.nRecords, 0);
    EXPECT_EQ(Rows(), std::vector<Row>{});
    ExpectUntouched("stopped before the first record");
}

// Rows stored before the database failed reach the index: the stale flag is set though the
// import failed and claims no update.
TEST_F(ImportTest, AFailureAfterStoredRowsStillMarksTheIndexStale) {
    {
        // json() of a name that is no JSON fails the insert with a plain error, not a refusal.
        Database db;
        OpenDatabase(db);
        ASSERT_EQ(Execute(db, "create index byjson on blackmap(json(name))", false), 0);
    }
    ImportOutcome outcome;
    EXPECT_EQ(ImportList(m_app, kImportText,
                         u"<list>" + FileRecord(u"1", kMd5A, u"1") +
                             FileRecord(u"not json", kMd5B, u"2") + u"</list>",
                         &outcome),
              kImportDbFailed);
    EXPECT_EQ(outcome.nRowsAdded, 1);
    EXPECT_EQ(Rows().size(), 1u);
    EXPECT_EQ(m_app.m_bBlacklistStale.load(), 1);
    EXPECT_EQ(m_app.ListDate(), u"暂无更新");
}

TEST_F(ImportTest, DocumentsThatDoNotParseChangeNothing) {
    const std::u16string record = FileRecord(u"a", kMd5A, u"1");
    const std::u16string docs[] = {
        u"",
        u"just text",
        u"<list>" + record + u"</list><list/>",
        u"<list>" + record + u"</nope></list>",
        u"<list>" + record,
        u"<list>" + record + u"<1bad/></list>",
    };
    for (const std::u16string& doc : docs) {
        ImportOutcome outcome;
        outcome.nRecords = 99;
        EXPECT_EQ(ImportList(m_app, kImportText, doc, &outcome), 0);
        EXPECT_FALSE(outcome.bParsedAndOpened);
        EXPECT_EQ(outcome.nRecords, 0);
        ExpectUntouched("unparseable document");
    }
    EXPECT_TRUE(Rows().empty());
    // Unknown modes do nothing either.
    ImportList(m_app, 2, u"<list>" + record + u"</list>");
    ImportList(m_app, -1, u"<list>" + record + u"</list>");
    ExpectUntouched("unknown mode");
    EXPECT_TRUE(Rows().empty());
}

TEST_F(ImportTest, RootOnlySetsFlagAndLocalDate) {
    int64_t before = NowSeconds();
    Import(u"<list/>");
    int64_t after = NowSeconds();
    EXPECT_TRUE(Rows().empty());
    const std::u16string date = m_app.ListDate();
    ASSERT_EQ(date.size(), 19u) << std::string(date.begin(), date.end());
    for (size_t i = 0; i < date.size(); ++i) {
        char16_t c = date[i];
        switch (i) {
            case 4:
            case 7:
                EXPECT_EQ(c, u'-');
                break;
            case 10:
                EXPECT_EQ(c, u' ');
                break;
            case 13:
            case 16:
                EXPECT_EQ(c, u':');
                break;
            default:
                EXPECT_TRUE(c >= u'0' && c <= u'9') << "position " << i;
        }
    }
    // Local time, not UTC: it is one of the seconds the import ran in.
    const char16_t* pattern = u"%Y-%m-%d %H:%M:%S";
    EXPECT_TRUE(date == FormatLocalTime(pattern, before) || date == FormatLocalTime(pattern, after))
        << std::string(date.begin(), date.end());
}

TEST_F(ImportTest, UnopenableDatabaseRunsNothingAndChangesNothing) {
    ASSERT_EQ(mkdir("Ravlin.db", 0700), 0);  // a folder where the file should be
    ImportOutcome outcome;
    ImportList(m_app, kImportText, u"<list>" + FileRecord(u"a", kMd5A, u"1") + u"</list>",
               &outcome);
    EXPECT_FALSE(outcome.bParsedAndOpened);
    EXPECT_EQ(outcome.nRecords, 0);
    ExpectUntouched("no database");
    EXPECT_NE(DbErrLog().find("Can't open database: "), std::string::npos);
}

std::u16string ListOf(int records) {
    std::u16string doc = u"<list>";
    for (int i = 0; i < records; ++i) {
        std::u16string md5 = kMd5A;
        md5[0] = static_cast<char16_t>(u'a' + i);
        doc += FileRecord(u"n", md5, u"1");
    }
    return doc + u"</list>";
}

std::string JournalMode() {
    sqlite3* db = nullptr;
    std::string mode;
    if (sqlite3_open("Ravlin.db", &db) == SQLITE_OK) {
        sqlite3_exec(
            db, "PRAGMA journal_mode;",
            [](void* out, int, char** values, char**) {
                *static_cast<std::string*>(out) = values[0] ? values[0] : "";
                return 0;
            },
            &mode, nullptr);
    }
    sqlite3_close(db);
    return mode;
}

// A failing database is not a refused record: the import stops at the first failure, reports it,
// and does not claim an update.
TEST_F(ImportTest, DatabaseFailuresStopTheImport) {
    // Not a database: the first look-up fails.
    test::WriteFile("Ravlin.db", std::string(4096, 'x'));
    ImportOutcome outcome;
    EXPECT_EQ(ImportList(m_app, kImportText, ListOf(20), &outcome), kImportDbFailed);
    EXPECT_TRUE(outcome.bDbFailed);
    EXPECT_EQ(outcome.nRecords, 1);
    EXPECT_EQ(outcome.nRowsAdded, 0);
    ExpectUntouched("not a database");
    unlink("Ravlin.db");

    // A database another connection holds exclusively: one busy wait, one log line, no more.
    Import(ListOf(1));
    m_app.m_bBlacklistStale.store(0);
    m_app.SetListDate(u"暂无更新");
    unlink("log/dberr.log");
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open("Ravlin.db", &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "begin exclusive;", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(ImportList(m_app, kImportText, ListOf(3), &outcome), kImportDbFailed);
    EXPECT_EQ(outcome.nRecords, 1);
    EXPECT_EQ(DbErrLog(), "执行SQL 出错.database is locked\r\n");
    ExpectUntouched("locked database");
    sqlite3_exec(holder, "rollback;", nullptr, nullptr, nullptr);

    // Another connection open but idle: the import runs, keeps the journal mode it cannot leave
    // at once, and writes no line about it.
    unlink("log/dberr.log");
    ASSERT_EQ(sqlite3_exec(holder, "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(ImportList(m_app, kImportText, ListOf(3), &outcome), 0);
    EXPECT_EQ(outcome.nRowsAdded, 2);
    EXPECT_EQ(DbErrLog(), "");
    sqlite3_close(holder);
}

// An empty Ravlin.db is a new database; after an import the file is in rollback-journal mode,
// so a reader who may not write the folder can open it.
TEST_F(ImportTest, EmptyFileBecomesADatabaseAndJournalModeIsGivenBack) {
    test::WriteFile("Ravlin.db", "");
    ImportOutcome outcome = Import(ListOf(3));
    EXPECT_EQ(outcome.nRowsAdded, 3);
    EXPECT_EQ(Rows().size(), 3u);
    EXPECT_EQ(JournalMode(), "delete");
    EXPECT_FALSE(test::FileExists("Ravlin.db-wal"));
    // A duplicate inside one list is still a refused record, not a failure.
    std::u16string doc =
        u"<list>" + FileRecord(u"x", kMd5B, u"1") + FileRecord(u"y", kMd5B, u"2") + u"</list>";
    outcome = Import(doc);
    EXPECT_EQ(outcome.nRecords, 2);
    EXPECT_EQ(outcome.nRowsAdded, 1);
    EXPECT_EQ(DbErrLog(), "");
}

// A reader that holds the file for a moment when the import ends does not leave it in WAL mode.
TEST_F(ImportTest, JournalModeIsGivenBackAfterABriefReader) {
    Import(ListOf(1));
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open("Ravlin.db", &reader), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(reader, "PRAGMA journal_mode=wal;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(reader, "begin; select count(*) from blackmap;", nullptr, nullptr, nullptr),
        SQLITE_OK);
    std::thread release([reader] {  // the reader reads, then closes its connection
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        sqlite3_exec(reader, "commit;", nullptr, nullptr, nullptr);
        sqlite3_close(reader);
    });
    ImportOutcome outcome = Import(ListOf(2));
    release.join();
    EXPECT_EQ(outcome.nRowsAdded, 1);
    EXPECT_EQ(JournalMode(), "delete");
    EXPECT_EQ(DbErrLog(), "");
}

// A user who may read the database but not write it or its folder: the list an import left
// behind opens for reading, and an import of that user stops at its first insert.
TEST_F(ImportTest, ReaderWithoutWriteAccess) {
    Import(ListOf(3));
    ASSERT_EQ(chmod(m_dir.path().c_str(), 0555), 0);
    ASSERT_EQ(chmod("Ravlin.db", 0444), 0);
    test::ChildOutcome outcome = test::RunLimited(size_t{4} << 30, 60, [this] {
        // Root passes every permission check, so the child drops to nobody.
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 10;
        sqlite3* db = nullptr;
        int rows = -1;
        if (sqlite3_open("Ravlin.db", &db) == SQLITE_OK) {
            sqlite3_exec(
                db, "select count(*) from blackmap;",
                [](void* out, int, char** values, char**) {
                    *static_cast<int*>(out) = atoi(values[0]);
                    return 0;
                },
                &rows, nullptr);
        }
        sqlite3_close(db);
        if (rows != 3) return 2;
        ImportOutcome result;
        if (ImportList(m_app, kImportText, ListOf(5), &result) != kImportDbFailed) return 3;
        return result.nRecords == 4 && result.nRowsAdded == 0 ? 0 : 4;
    });
    chmod(m_dir.path().c_str(), 0700);
    chmod("Ravlin.db", 0644);
    EXPECT_EQ(outcome.signal, 0) << outcome.Describe();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.Describe();
}

TEST_F(ImportTest, FileModeReadsTheFileInItsEncoding) {
    const std::string md5 = kMd5AUtf8;
    // Declared GBK: "病毒" in code page 936.
    test::WriteFile(m_dir.File("gbk.xml"),
                    "<?xml version=\"1.0\" encoding=\"GBK\"?><list><File><save>\xB2\xA1\xB6\xBE"
                    "</save><md5>" +
                        md5 + "</md5><size>3</size></File></list>");
    // UTF-8 with a byte-order mark and no declaration.
    test::WriteFile(m_dir.File("bom.xml"),
                    "\xEF\xBB\xBF<list><File><save>\xE6\xAF\x92</save><md5>" +
                        std::string(kMd5BUtf8) + "</md5></File></list>");
    ImportOutcome outcome;
    ImportList(m_app, kImportFile, u"gbk.xml", &outcome);
    EXPECT_TRUE(outcome.bParsedAndOpened);
    ImportList(m_app, kImportFile, u"bom.xml", &outcome);
    EXPECT_EQ(outcome.nRowsAdded, 1);
    std::vector<Row> expected = {{kMd5AUtf8, "病毒", "", "3"}, {kMd5BUtf8, "毒", "", ""}};
    EXPECT_EQ(Rows(), expected);

    m_app.m_bBlacklistStale.store(0);
    m_app.SetListDate(u"暂无更新");
    ImportList(m_app, kImportFile, u"no-such-list.xml", &outcome);
    EXPECT_FALSE(outcome.bParsedAndOpened);
    ExpectUntouched("missing file");
}

TEST(ReadField, ReadsChildTextOrAttributeOfTheChild) {
    XmlDoc doc;
    doc.m_strText = u"<list><File kind='worm'><save>a</save><md5>m</md5></File></list>";
    ASSERT_TRUE(ParseText(doc));
    EXPECT_EQ(ReadField(doc, u"File", 1), u"");  // no child position yet
    ASSERT_EQ(ReadField(doc, u"File", 0), u"");  // File has child elements: empty text
    EXPECT_EQ(ReadField(doc, u"kind", 1), u"worm");
    EXPECT_EQ(ReadField(doc, u"size", 1), u"");
}

}  // namespace
}  // namespace tovarek
