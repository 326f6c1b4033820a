// ravlin-cli import and update, run as a user runs them, against the shipped sample list.
#include <gtest/gtest.h>

#include "tests/cli/run_command.h"
#include "tests/support/temp_dir.h"
#include "tests/update/http_test_server.h"

namespace tovarek {
namespace {

using test::RunCommand;

const std::string kSampleList = SAMPLE_LIST;

TEST(CliImport, SampleListThenRepeatThenBadInput) {
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    auto r = RunCommand(kCli + " import " + kSampleList);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "3 rows added (3 records, 0 refused)\n");
    r = RunCommand(kCli + " import " + kSampleList);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "0 rows added (3 records, 3 refused)\n");

    test::WriteFile(dir.File("broken.xml"), "<list><File></list>");
    EXPECT_EQ(RunCommand(kCli + " import broken.xml 2>/dev/null").exitCode, 2);
    EXPECT_EQ(RunCommand(kCli + " import missing.xml 2>/dev/null").exitCode, 2);
    EXPECT_EQ(RunCommand(kCli + " import 2>/dev/null").exitCode, 2);
}

TEST(CliUpdate, OneCycleAgainstALoopbackServer) {
    test::HttpTestServer server;
    server.Add("/ravlin/list/curdaylist.xml",
               test::CannedResponse{200, "text/xml", test::ReadFile(kSampleList)});
    ASSERT_TRUE(server.Start()) << server.error();
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());

    auto r = RunCommand(kCli + " update " + server.Url("/ravlin/list/curdaylist.xml"));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("列表更新日期：20", 0), 0u) << r.out;
    EXPECT_EQ(RunCommand(kCli + " import " + kSampleList).out,
              "0 rows added (3 records, 3 refused)\n");

    r = RunCommand(kCli + " update " + server.Url("/elsewhere.xml") + " 2>/dev/null");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "列表更新失败.\n");
}

// A failing database is reported as such (exit 2), and an empty one is a new database.
TEST(CliImport, DatabaseFailureAndEmptyDatabase) {
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    test::WriteFile(dir.File("Ravlin.db"), std::string(8192, 'z'));
    auto r = RunCommand(kCli + " import " + kSampleList);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");

    test::WriteFile(dir.File("Ravlin.db"), "");
    r = RunCommand(kCli + " import " + kSampleList);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "3 rows added (3 records, 0 refused)\n");
}

// Whatever arrives, update exits 1 unless a usable list was imported.
TEST(CliUpdate, UnusableBodiesExitOne) {
    test::HttpTestServer server;
    server.Add("/random", test::CannedResponse{200, "text/xml", "\x8f\x01\xfe\x17garbage\x99"});
    server.Add("/cut", test::CannedResponse{200, "text/xml",
                                            std::string("<list><File>\0</File></list>", 27)});
    ASSERT_TRUE(server.Start()) << server.error();
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    for (const char* path : {"/random", "/cut"}) {
        auto r = RunCommand(kCli + " update " + server.Url(path) + " 2>/dev/null");
        EXPECT_EQ(r.exitCode, 1) << path;
    }
}

}  // namespace
}  // namespace tovarek
