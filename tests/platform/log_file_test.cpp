#include "platform/log_file.h"

#include <signal.h>
#include <sys/resource.h>
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

// A write that stops part-way (here the file size limit, as a full disk would) is a failure, and a
// log replaced whole keeps its old text.
TEST(LogFile, AWriteCutShortIsAFailure) {
    test::TempDir dir;
    const std::string log = dir.File("log/");
    ASSERT_TRUE(WriteLogFile(log + "r.log", "old", LogWrite::kReplace));
    const std::string big(64 * 1024, 'x');
    testing::internal::CaptureStderr();
    pid_t pid = fork();
    if (pid == 0) {
        alarm(10);
        signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG
        const struct rlimit limit = {4096, 4096};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
        const bool appended = WriteLogFile(log + "a.log", big, LogWrite::kAppend);
        const bool replaced = WriteLogFile(log + "r.log", big, LogWrite::kReplace);
        _exit((appended ? 1 : 0) | (replaced ? 2 : 0));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const std::string told = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the append, 2: the replace was called done";
    EXPECT_TRUE(test::ReadFile(log + "r.log") == "old") << "the log replaced part-way";
    EXPECT_NE(told.find(log + "a.log"), std::string::npos) << told;
}

}  // namespace
}  // namespace tovarek
