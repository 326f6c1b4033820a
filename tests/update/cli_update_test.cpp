// ravlin-cli import and update, run as a user runs them, against the shipped sample list.
#include <gtest/gtest.h>

#include "tests/cli/run_command.h"
#include "tests/support/list_signing.h"
#include "tests/support/temp_dir.h"
#include "tests/update/http_test_server.h"

namespace tovarek {
namespace {

using test::RunCommand;

const std::string kSampleList = SAMPLE_LIST;

// The sample list copied into `dir` and signed there with the build's key.
std::string SignedSample(const test::TempDir& dir, uint64_t serial = 1) {
    const std::string path = dir.File("curdaylist.xml");
    test::WriteFile(path, test::ReadFile(kSampleList));
    EXPECT_TRUE(test::SignListFile(path, test::ListComment(serial)));
    return path;
}

class CliList : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::BuildKeyTrusted()) GTEST_SKIP() << "this build trusts other list keys";
    }
};
using CliImport = CliList;
using CliUpdate = CliList;

TEST_F(CliImport, SampleListThenRepeatThenBadInput) {
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    const std::string sample = SignedSample(dir);
    auto r = RunCommand(kCli + " import " + sample);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "3 rows added (3 records, 0 refused)\n");
    r = RunCommand(kCli + " import " + sample);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "0 rows added (3 records, 3 refused)\n");

    test::WriteFile(dir.File("broken.xml"), "<list><File></list>");
    ASSERT_TRUE(test::SignListFile(dir.File("broken.xml"), test::ListComment(1)));
    EXPECT_EQ(RunCommand(kCli + " import broken.xml 2>/dev/null").exitCode, 2);
    EXPECT_EQ(RunCommand(kCli + " import missing.xml 2>/dev/null").exitCode, 2);
    EXPECT_EQ(RunCommand(kCli + " import 2>/dev/null").exitCode, 2);
}

// Only a signed list is taken; one the user vouches for goes in with --unsigned and a warning.
TEST_F(CliImport, UnsignedListNeedsTheUsersWord) {
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    test::WriteFile(dir.File("mine.xml"), test::ReadFile(kSampleList));
    auto r = RunCommand(kCli + " import mine.xml 2>&1");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out,
              "ravlin-cli: import: list refused (mine.xml): no signature (import --unsigned FILE "
              "takes a list you vouch for)\n");
    r = RunCommand(kCli + " import --unsigned mine.xml 2>&1");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              "ravlin-cli: import: warning: mine.xml is imported without a signature check, on "
              "your word\n3 rows added (3 records, 0 refused)\n");

    // Signed, but older than the list taken last.
    const std::string newer = SignedSample(dir, 9);
    EXPECT_EQ(RunCommand(kCli + " import " + newer).exitCode, 0);
    ASSERT_TRUE(test::SignListFile(newer, test::ListComment(8)));
    r = RunCommand(kCli + " import " + newer + " 2>&1");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.out.find("its serial is lower than the last one taken"), std::string::npos);
}

TEST_F(CliUpdate, OneCycleAgainstALoopbackServer) {
    test::TempDir dir(true);
    const std::string sample = SignedSample(dir);
    test::HttpTestServer server;
    server.Add("/ravlin/list/curdaylist.xml",
               test::CannedResponse{200, "text/xml", test::ReadFile(sample)});
    server.Add("/ravlin/list/curdaylist.xml.minisig",
               test::CannedResponse{200, "text/plain", test::ReadFile(sample + ".minisig")});
    server.Add("/unsigned.xml", test::CannedResponse{200, "text/xml", test::ReadFile(sample)});
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());

    auto r = RunCommand(kCli + " update " + server.Url("/ravlin/list/curdaylist.xml"));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("列表更新日期：20", 0), 0u) << r.out;
    EXPECT_EQ(RunCommand(kCli + " import " + sample).out, "0 rows added (3 records, 3 refused)\n");

    // Refused: the cycle fails as a failed download does, with the reason on standard error.
    r = RunCommand(kCli + " update " + server.Url("/unsigned.xml") + " 2>&1");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "列表更新失败.\nravlin-cli: update: list refused (" +
                         server.Url("/unsigned.xml") + "): no signature\n");

    r = RunCommand(kCli + " update " + server.Url("/elsewhere.xml") + " 2>/dev/null");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "列表更新失败.\n");
}

// A failing database is reported as such (exit 2), and an empty one is a new database.
TEST_F(CliImport, DatabaseFailureAndEmptyDatabase) {
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    const std::string sample = SignedSample(dir);
    test::WriteFile(dir.File("Ravlin.db"), std::string(8192, 'z'));
    auto r = RunCommand(kCli + " import " + sample);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");

    test::WriteFile(dir.File("Ravlin.db"), "");
    r = RunCommand(kCli + " import " + sample);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "3 rows added (3 records, 0 refused)\n");
}

// Whatever arrives, update exits 1 unless a usable list was imported.
TEST_F(CliUpdate, UnusableBodiesExitOne) {
    test::HttpTestServer server;
    // Signed, so that only the import can find them unusable.
    const std::string random = "\x8f\x01\xfe\x17garbage\x99";
    const std::string cut("<list><File>\0</File></list>", 27);
    server.Add("/random", test::CannedResponse{200, "text/xml", random});
    server.Add(
        "/random.minisig",
        test::CannedResponse{200, "text/plain", test::SignListBytes(random, test::ListComment(1))});
    server.Add("/cut", test::CannedResponse{200, "text/xml", cut});
    server.Add(
        "/cut.minisig",
        test::CannedResponse{200, "text/plain", test::SignListBytes(cut, test::ListComment(1))});
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
