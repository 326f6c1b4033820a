#include "store/app_settings.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/autostart.h"
#include "platform/module_info.h"
#include "store/database.h"
#include "tests/store/store_fixture.h"

namespace tovarek {
namespace {

using test::StoreTest;

void MakeSettingsTable(const std::vector<std::pair<int, std::string>>& rows) {
    Database db;
    OpenDatabase(db);
    ASSERT_EQ(Execute(db, "create table setini(settype integer,setkey varchar(20))", false), 0);
    for (const auto& [type, key] : rows) {
        ASSERT_EQ(
            Execute(db, "insert into setini values(" + std::to_string(type) + ",'" + key + "')",
                    false),
            0);
    }
}

TEST(SettingsSql, TextsAreExact) {
    EXPECT_EQ(BuildSettingSql(0, 2, 0), "select setkey from setini where settype=2");
    EXPECT_EQ(BuildSettingSql(1, 3, 1), "update setini set setkey=1 where settype=3");
    EXPECT_EQ(BuildSettingSql(5, 3, 1), "");
}

// The first failed query ends the reading: each further one would fail (or wait) the same way.
TEST_F(StoreTest, NewDatabaseReadsAllOffWithOneLoggedFailureAndCannotSave) {
    AppSettings settings;
    EXPECT_FALSE(settings.LoadSettings()) << "no setini table is a failure to read";
    EXPECT_EQ(settings.closeToTray, 0);
    EXPECT_EQ(settings.autoScan, 0);
    EXPECT_EQ(settings.deleteOnFind.load(), 0);
    const std::string line = "执行SQL 出错.no such table: setini\r\n";
    EXPECT_EQ(DbErrLog(), line);

    // Updates of a missing table run inside transactions whose commits succeed: nothing logged,
    // the record keeps the new values, and the save says it stored nothing.
    EXPECT_EQ(settings.SaveSettings(0, 1, 1, 1), -1);
    EXPECT_EQ(DbErrLog(), line);
    EXPECT_EQ(settings.closeToTray, 1);
    EXPECT_EQ(settings.deleteOnFind.load(), 1);
}

TEST_F(StoreTest, OnlyALeadingNumberOfExactlyOneReadsAsOn) {
    const std::pair<std::string, bool> values[] = {
        {"1", true},  {"01", true}, {"1abc", true}, {" 1", true},    {"0", false},
        {"2", false}, {"", false},  {"-1", false},  {"abc1", false}, {"11", false},
    };
    for (const auto& [value, on] : values) {
        std::remove(kDatabaseFileName);
        MakeSettingsTable({{1, value}});
        Database db;
        OpenDatabase(db);
        EXPECT_EQ(ReadSetting(db, 1), on) << "'" << value << "'";
        EXPECT_FALSE(ReadSetting(db, 2)) << "no row";
    }
}

TEST_F(StoreTest, FirstRowDecidesAndSavedSettingsSurviveARestart) {
    MakeSettingsTable({{1, "0"}, {2, "0"}, {3, "1"}, {3, "0"}});
    {
        AppSettings settings;
        EXPECT_TRUE(settings.LoadSettings());
        EXPECT_EQ(settings.deleteOnFind.load(), 1);
        settings.SaveSettings(0, 1, 0, 0);
    }
    AppSettings restarted;
    restarted.LoadSettings();
    EXPECT_EQ(restarted.closeToTray, 1);
    EXPECT_EQ(restarted.autoScan, 0);
    EXPECT_EQ(restarted.deleteOnFind.load(), 0);
    EXPECT_FALSE(test::FileExists(m_dir.File("log/dberr.log")));

    // The directory list lives in memory only.
    restarted.SeedDefaultScanDir();
    EXPECT_EQ(restarted.defaultScanDirs, std::list<std::u16string>{u"/opt/"});
}

// Autostart through a private XDG_CONFIG_DIRS and XDG_CONFIG_HOME.
class AutoRun : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        m_strAutostart = m_dir.File("xdg/autostart");
        ASSERT_EQ(mkdir(m_dir.File("xdg").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(m_strAutostart.c_str(), 0755), 0);
        setenv("XDG_CONFIG_DIRS", (m_dir.File("xdg") + ":/etc/xdg").c_str(), 1);
        setenv("XDG_CONFIG_HOME", m_dir.File("config").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("XDG_CONFIG_DIRS");
        unsetenv("XDG_CONFIG_HOME");
        StoreTest::TearDown();
    }
    std::string Entry() const { return m_strAutostart + "/Tovarek.desktop"; }
    std::string UserEntry() const { return m_dir.File("config/autostart/Tovarek.desktop"); }
    std::string m_strAutostart;
};

TEST_F(AutoRun, WriteCheckDeleteInAWritableFolder) {
    EXPECT_EQ(AutostartDir(), m_strAutostart + "/");
    EXPECT_FALSE(AutoRunEntry(0));
    EXPECT_FALSE(AutoRunEntry(2)) << "deleting a missing entry fails";
    ASSERT_TRUE(AutoRunEntry(1));
    EXPECT_TRUE(AutoRunEntry(0));
    EXPECT_NE(test::ReadFile(Entry()).find("Exec=\"" + ModulePath() + "\"\n"), std::string::npos);
    EXPECT_TRUE(AutoRunEntry(2));
    EXPECT_FALSE(test::FileExists(Entry()));
    EXPECT_FALSE(AutoRunEntry(0));
}

TEST_F(AutoRun, AnotherLetterCaseOrAnEmptyEntryReadsAsOff) {
    std::string upper = ModulePath();
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    test::WriteFile(Entry(), "[Desktop Entry]\nExec=\"" + upper + "\"\n");
    EXPECT_FALSE(AutoRunEntry(0));
    test::WriteFile(Entry(), "");
    EXPECT_FALSE(AutoRunEntry(0));

    // Applying with the box ticked writes the exact path.
    AppSettings settings;
    settings.LoadSettings();
    settings.SaveSettings(1, 0, 0, 0);
    EXPECT_TRUE(AutoRunEntry(0));
    AppSettings restarted;
    restarted.LoadSettings();
    EXPECT_EQ(restarted.autoRun, 1);
}

TEST_F(AutoRun, EmptyAndRelativeEntriesOfTheVariableAreSkipped) {
    setenv("XDG_CONFIG_DIRS", (":relative:" + m_dir.File("xdg")).c_str(), 1);
    EXPECT_EQ(AutostartDir(), m_strAutostart + "/");
    setenv("XDG_CONFIG_DIRS", "", 1);
    EXPECT_EQ(AutostartDir(), "/etc/xdg/autostart/");
}

TEST_F(AutoRun, PathsWithQuotesAndPercentSignsSurviveTheEntryFormat) {
    // The reader must undo exactly what the writer quoted.
    std::string odd = m_dir.File("dir with \"quotes\" $HOME `x` 100% \\ end/prog");
    ASSERT_TRUE(WriteAutostartEntry(odd));
    std::string back;
    ASSERT_TRUE(ReadAutostartExec(back));
    EXPECT_EQ(back, odd);
    // As a session manager reads it: string escapes first (\\ is one backslash), then the
    // Exec quoting. Each backslash of the quoting is therefore written twice.
    EXPECT_NE(test::ReadFile(Entry()).find(
                  "\nExec=\"" + m_dir.path() +
                  "/dir with \\\\\"quotes\\\\\" \\\\$HOME \\\\`x\\\\` 100%% \\\\\\\\ end/prog\"\n"),
              std::string::npos)
        << test::ReadFile(Entry());
    // An entry another tool wrote by the same rules, with a line break in the name.
    test::WriteFile(Entry(), "[Desktop Entry]\nExec=\"/opt/a\\\\$b\\nc\"\n");
    ASSERT_TRUE(ReadAutostartExec(back));
    EXPECT_EQ(back, "/opt/a$b\nc");
}

// An ordinary user may not write the machine-wide folder: the entry goes to the user's own, and
// check and delete look at both.
TEST_F(AutoRun, MissingOrReadOnlyMachineFolderFallsBackToTheUsersOwn) {
    setenv("XDG_CONFIG_DIRS", m_dir.File("nothing-here").c_str(), 1);
    ASSERT_TRUE(AutoRunEntry(1));
    EXPECT_TRUE(test::FileExists(UserEntry()));
    struct stat st;
    ASSERT_EQ(stat(m_dir.File("config/autostart").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(AutoRunEntry(0));
    EXPECT_TRUE(AutoRunEntry(2));
    EXPECT_FALSE(test::FileExists(UserEntry()));
    EXPECT_FALSE(AutoRunEntry(0));
    EXPECT_FALSE(AutoRunEntry(2)) << "deleting a missing entry fails";

    // A machine-wide entry (an administrator's) that this user can read but not remove.
    setenv("XDG_CONFIG_DIRS", m_dir.File("xdg").c_str(), 1);
    ASSERT_TRUE(AutoRunEntry(1));
    ASSERT_EQ(chmod(m_strAutostart.c_str(), 0555), 0);
    ASSERT_EQ(chmod(m_dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(m_dir.File("xdg").c_str(), 0755), 0);
    ASSERT_EQ(rmdir(m_dir.File("config/autostart").c_str()), 0);  // root's, made above
    ASSERT_EQ(chmod(m_dir.File("config").c_str(), 0777), 0);
    // Root may write anywhere, so the ordinary user is a child that gives up root.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        if (AutostartDirUsable()) _exit(4);
        if (!AutoRunEntry(0)) _exit(5);  // the administrator's entry counts
        if (!AutoRunEntry(1) || !test::FileExists(UserEntry())) _exit(6);
        // The user's entry goes, the machine-wide one stays and still starts the program.
        if (AutoRunEntry(2) || test::FileExists(UserEntry()) || !AutoRunEntry(0)) _exit(7);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(test::FileExists(Entry())) << "a refused delete leaves the entry";
}

// The entry is read only when it is a small regular file: a FIFO or a link to a device there must
// neither hang the start nor fill the memory. Each check runs in a child with a deadline.
TEST_F(AutoRun, FifoDeviceOrHugeEntryReadsAsOffAtOnce) {
    auto checkInChild = [](const char* what) {
        pid_t pid = fork();
        if (pid == 0) {
            alarm(10);
            _exit(AutoRunEntry(0) ? 1 : 0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << what;
    };
    ASSERT_EQ(mkfifo(Entry().c_str(), 0644), 0);
    checkInChild("a FIFO");
    unlink(Entry().c_str());
    ASSERT_EQ(symlink("/dev/zero", Entry().c_str()), 0);
    checkInChild("a link to /dev/zero");
    unlink(Entry().c_str());
    const std::string entry = "[Desktop Entry]\nExec=\"" + ModulePath() + "\"\n";
    test::WriteFile(Entry(), entry + std::string(64 * 1024, '#'));
    checkInChild("an entry over 64 KiB");
    test::WriteFile(Entry(), entry);
    EXPECT_TRUE(AutoRunEntry(0)) << "a small regular entry reads";
}

}  // namespace
}  // namespace tovarek
