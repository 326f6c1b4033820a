#include "platform/log_file.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace tovarek {
namespace {

// Names planted in the log folder never lead a write to another file, a folder that is a link
// is not written through, and the first failure for a file is told once.
TEST(LogFile, PlantedLinksAndSpecialFilesAreNeverWrittenThrough) {
    test::TempDir dir;
    const std::string log = dir.File("log/"), victim = dir.File("victim");
    test::WriteFile(victim, "keep");
    ASSERT_TRUE(WriteLogFile(log + "a.log", "one\r\n", LogWrite::kAppend));
    ASSERT_TRUE(WriteLogFile(log + "a.log", "two\r\n", LogWrite::kAppend));
    EXPECT_EQ(test::ReadFile(log + "a.log"), "one\r\ntwo\r\n");

    // A link at a scan log's name is replaced by the log; its target stays.
    ASSERT_EQ(symlink(victim.c_str(), (log + "sl.log").c_str()), 0);
    ASSERT_TRUE(WriteLogFile(log + "sl.log", "found\r\n", LogWrite::kReplace));
    EXPECT_EQ(test::ReadFile(victim), "keep");
    EXPECT_EQ(test::ReadFile(log + "sl.log"), "found\r\n");

    // A link, a second hard link or a FIFO at an appended log's name: refused at once.
    ASSERT_EQ(symlink(victim.c_str(), (log + "pl.log").c_str()), 0);
    ASSERT_EQ(link(victim.c_str(), (log + "hard.log").c_str()), 0);
    ASSERT_EQ(mkfifo((log + "fifo.log").c_str(), 0644), 0);
    testing::internal::CaptureStderr();
    pid_t pid = fork();
    if (pid == 0) {
        alarm(10);
        _exit(WriteLogFile(log + "fifo.log", "x", LogWrite::kAppend) ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a FIFO";
    EXPECT_FALSE(WriteLogFile(log + "pl.log", "x", LogWrite::kAppend));
    EXPECT_FALSE(WriteLogFile(log + "pl.log", "x", LogWrite::kAppend));
    EXPECT_FALSE(WriteLogFile(log + "hard.log", "x", LogWrite::kAppend));
    // The log folder itself a link to another folder.
    ASSERT_EQ(symlink(dir.path().c_str(), dir.File("linked").c_str()), 0);
    EXPECT_FALSE(WriteLogFile(dir.File("linked/new.log"), "x", LogWrite::kAppend));
    EXPECT_FALSE(WriteLogFile(dir.File("linked/sl.log"), "x", LogWrite::kReplace));
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_EQ(test::ReadFile(victim), "keep");
    EXPECT_FALSE(test::FileExists(dir.File("new.log")) || test::FileExists(dir.File("sl.log")));
    EXPECT_NE(told.find(log + "pl.log"), std::string::npos) << told;
    EXPECT_EQ(told.find(log + "pl.log"), told.rfind(log + "pl.log")) << "told once: " << told;
}

}  // namespace
}  // namespace tovarek
