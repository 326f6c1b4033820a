#include "platform/log_file.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace tovarek {
namespace {

// Names planted in the log folder by someone else never lead a write to another file, and a
// folder that is a link is not written through; the first failure for a file is told once.
TEST(LogFile, PlantedLinksAndSpecialFilesAreNeverWrittenThrough) {
    test::TempDir dir;
    const std::string log = dir.File("log");
    const std::string victim = dir.File("victim");
    test::WriteFile(victim, "keep");

    // The log folder is made on demand, private.
    ASSERT_TRUE(WriteLogFile(log + "/a.log", "one\r\n", LogWrite::kAppend));
    ASSERT_TRUE(WriteLogFile(log + "/a.log", "two\r\n", LogWrite::kAppend));
    EXPECT_EQ(test::ReadFile(log + "/a.log"), "one\r\ntwo\r\n");
    struct stat st;
    ASSERT_EQ(stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A link at a scan log's name: the new log replaces the link, the target stays.
    ASSERT_EQ(symlink(victim.c_str(), (log + "/sl.log").c_str()), 0);
    ASSERT_TRUE(WriteLogFile(log + "/sl.log", "found\r\n", LogWrite::kReplace));
    EXPECT_EQ(test::ReadFile(victim), "keep");
    ASSERT_EQ(lstat((log + "/sl.log").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(test::ReadFile(log + "/sl.log"), "found\r\n");
    // Rewritten whole, nothing left over beside it.
    ASSERT_TRUE(WriteLogFile(log + "/sl.log", "x\r\n", LogWrite::kReplace));
    EXPECT_EQ(test::ReadFile(log + "/sl.log"), "x\r\n");

    // A link or a second hard link at an appended log's name: refused, target untouched.
    ASSERT_EQ(symlink(victim.c_str(), (log + "/pl.log").c_str()), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(WriteLogFile(log + "/pl.log", "line\r\n", LogWrite::kAppend));
    EXPECT_FALSE(WriteLogFile(log + "/pl.log", "line\r\n", LogWrite::kAppend));
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_NE(told.find(log + "/pl.log"), std::string::npos) << told;
    EXPECT_EQ(told.find(log + "/pl.log"), told.rfind(log + "/pl.log")) << "told once: " << told;
    ASSERT_EQ(link(victim.c_str(), (log + "/hard.log").c_str()), 0);
    EXPECT_FALSE(WriteLogFile(log + "/hard.log", "line\r\n", LogWrite::kAppend));
    EXPECT_EQ(test::ReadFile(victim), "keep");

    // A FIFO at the name: refused at once instead of waiting for a reader.
    ASSERT_EQ(mkfifo((log + "/fifo.log").c_str(), 0644), 0);
    pid_t pid = fork();
    if (pid == 0) {
        alarm(10);
        _exit(WriteLogFile(log + "/fifo.log", "line\r\n", LogWrite::kAppend) ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // The log folder itself a link to another folder: nothing is written there.
    const std::string elsewhere = dir.File("elsewhere");
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), dir.File("linked").c_str()), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(WriteLogFile(dir.File("linked/dberr.log"), "x", LogWrite::kAppend));
    EXPECT_FALSE(WriteLogFile(dir.File("linked/sl.log"), "x", LogWrite::kReplace));
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(test::FileExists(elsewhere + "/dberr.log"));
    EXPECT_FALSE(test::FileExists(elsewhere + "/sl.log"));
}

}  // namespace
}  // namespace tovarek
