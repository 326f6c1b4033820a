#include "platform/program_folders.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"

namespace tovarek {
namespace {

// An installed tree of the test's own: <dir>/usr/bin/ with <dir>/usr/share/tovarek/Ravlin.db,
// and the user's XDG folders under <dir>.
class ProgramFolders : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* sub : {"usr", "usr/bin", "usr/share", "usr/share/tovarek", "home"})
            ASSERT_EQ(mkdir(m_dir.File(sub).c_str(), 0755), 0);
        test::WriteFile(m_dir.File("usr/share/tovarek/Ravlin.db"), "installed");
        m_env.moduleDir = m_dir.File("usr/bin/");
        Set("HOME", m_dir.File("home"));
        Set("XDG_DATA_HOME", m_dir.File("data"));
        Set("XDG_STATE_HOME", m_dir.File("state"));
    }
    void TearDown() override {
        for (auto& [name, value] : m_saved) {
            if (value.second)
                setenv(name.c_str(), value.first.c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    void Set(const char* name, const std::string& value) {
        if (!m_saved.count(name)) {
            const char* old = getenv(name);
            m_saved[name] = {old ? old : "", old != nullptr};
        }
        setenv(name, value.c_str(), 1);
    }

    test::TempDir m_dir;
    test::ScopedTestEnv m_env;
    std::map<std::string, std::pair<std::string, bool>> m_saved;
};

TEST_F(ProgramFolders, InstalledProgramKeepsItsFilesInTheUsersFolders) {
    EXPECT_TRUE(IsInstalledLayout(m_env.moduleDir));
    EXPECT_EQ(DataFolder(), m_dir.File("data/tovarek/"));
    EXPECT_EQ(DataFile("Ravlin.db"), m_dir.File("data/tovarek/Ravlin.db"));
    EXPECT_EQ(LogFolderOf(m_env.moduleDir), m_dir.File("state/tovarek/log/"));

    // First use: the folder is made private and the installed database copied in.
    ASSERT_TRUE(PrepareDataFolder());
    EXPECT_EQ(test::ReadFile(m_dir.File("data/tovarek/Ravlin.db")), "installed");
    struct stat st;
    ASSERT_EQ(stat(m_dir.File("data/tovarek").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // Later starts keep the user's own copy.
    test::WriteFile(m_dir.File("data/tovarek/Ravlin.db"), "the user's");
    ASSERT_TRUE(PrepareDataFolder());
    EXPECT_EQ(test::ReadFile(m_dir.File("data/tovarek/Ravlin.db")), "the user's");

    // Relative or empty variables are ignored, as the XDG rules say: the home folder's defaults.
    Set("XDG_DATA_HOME", "relative/data");
    Set("XDG_STATE_HOME", "");
    EXPECT_EQ(DataFolder(), m_dir.File("home/.local/share/tovarek/"));
    EXPECT_EQ(LogFolderOf(m_env.moduleDir), m_dir.File("home/.local/state/tovarek/log/"));
}

TEST_F(ProgramFolders, BuildOrUnpackedCopyKeepsTheDesignedLayout) {
    // Not under bin/, or no installed database beside it: the current folder and log/ beside.
    m_env.moduleDir = m_dir.File("usr/");
    EXPECT_EQ(DataFolder(), "");
    EXPECT_EQ(LogFolderOf(m_dir.File("usr/")), m_dir.File("usr/log/"));
    ASSERT_EQ(unlink(m_dir.File("usr/share/tovarek/Ravlin.db").c_str()), 0);
    m_env.moduleDir = m_dir.File("usr/bin/");
    EXPECT_FALSE(IsInstalledLayout(m_env.moduleDir));
    EXPECT_EQ(DataFile("Ravlin.db"), "Ravlin.db");
    EXPECT_EQ(LogFolderOf(m_env.moduleDir), m_dir.File("usr/bin/log/"));
    ASSERT_TRUE(PrepareDataFolder());
    EXPECT_FALSE(test::FileExists(m_dir.File("data")));
}

}  // namespace
}  // namespace tovarek
