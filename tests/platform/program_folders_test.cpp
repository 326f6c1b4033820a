#include "platform/program_folders.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"

namespace tovarek {
namespace {

// An installed tree of the test's own: <dir>/usr/bin/ with ../share/tovarek/Ravlin.db beside it.
TEST(ProgramFolders, InstalledProgramUsesTheUsersFoldersABuildItsOwn) {
    test::TempDir dir;
    for (const char* sub : {"usr", "usr/bin", "usr/share", "usr/share/tovarek", "home"})
        ASSERT_EQ(mkdir(dir.File(sub).c_str(), 0755), 0);
    test::WriteFile(dir.File("usr/share/tovarek/Ravlin.db"), "installed");
    test::ScopedTestEnv env;
    env.moduleDir = dir.File("usr/bin/");
    const std::string oldHome = getenv("HOME") ? getenv("HOME") : "/";
    setenv("HOME", dir.File("home").c_str(), 1);
    setenv("XDG_DATA_HOME", "relative/data", 1);  // ignored, as the XDG rules say
    EXPECT_EQ(LogFolderOf(env.moduleDir), dir.File("home/.local/state/tovarek/log/"));
    // First use: a private folder with a copy; later starts keep the user's own copy.
    ASSERT_TRUE(PrepareDataFolder());
    const std::string data = dir.File("home/.local/share/tovarek");
    struct stat st;
    ASSERT_EQ(stat(data.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    test::WriteFile(data + "/Ravlin.db", "the user's");
    ASSERT_TRUE(PrepareDataFolder());
    EXPECT_EQ(test::ReadFile(data + "/Ravlin.db"), "the user's");

    // Not in a bin/ folder, or no installed database beside it: a build's own layout.
    EXPECT_EQ(LogFolderOf(dir.File("usr/")), dir.File("usr/log/"));
    ASSERT_EQ(unlink(dir.File("usr/share/tovarek/Ravlin.db").c_str()), 0);
    EXPECT_EQ(DataFile("Ravlin.db"), "Ravlin.db");
    EXPECT_EQ(LogFolderOf(env.moduleDir), dir.File("usr/bin/log/"));
    setenv("HOME", oldHome.c_str(), 1);
    unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace tovarek
