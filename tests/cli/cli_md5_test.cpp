#include <gtest/gtest.h>

#include "tests/cli/run_command.h"
#include "tests/support/temp_dir.h"

namespace tovarek {
namespace {

using test::RunCommand;

TEST(CliMd5, OutputMatchesMd5sumByteForByteEvenForOddNames) {
    test::TempDir dir;
    const std::string names[] = {"plain",       "with space", "back\\slash",
                                 "line\nbreak", "cr\rname",   "\xff\xfe-not-utf8"};
    std::string args;
    for (const std::string& name : names) {
        test::WriteFile(dir.File(name), "content of " + name);
        std::string quoted = "'" + dir.File(name) + "'";
        args += " " + quoted;
    }
    auto ours = RunCommand(std::string(RAVLIN_CLI) + " md5" + args);
    auto theirs = RunCommand("md5sum" + args);
    EXPECT_EQ(ours.exitCode, 0);
    EXPECT_EQ(ours.out, theirs.out);
}

TEST(CliMd5, ExitCodes) {
    test::TempDir dir;
    test::WriteFile(dir.File("a"), "abc");
    auto partly = RunCommand(std::string(RAVLIN_CLI) + " md5 " + dir.File("a") + " " +
                             dir.File("missing") + " 2>/dev/null");
    EXPECT_EQ(partly.exitCode, 1);
    EXPECT_EQ(partly.out, "900150983cd24fb0d6963f7d28e17f72  " + dir.File("a") + "\n");

    // A file that opens but can't be read is an error, as md5sum reports it, not an empty digest.
    auto unreadable = RunCommand(std::string(RAVLIN_CLI) + " md5 /proc/self/clear_refs 2>&1");
    EXPECT_EQ(unreadable.exitCode, 1);
    EXPECT_EQ(unreadable.out.find("d41d8cd98f00b204e9800998ecf8427e"), std::string::npos)
        << unreadable.out;

    EXPECT_EQ(RunCommand(std::string(RAVLIN_CLI) + " md5 2>/dev/null").exitCode, 2);
    EXPECT_EQ(RunCommand(std::string(RAVLIN_CLI) + " frobnicate 2>/dev/null").exitCode, 2);
    EXPECT_EQ(RunCommand(std::string(RAVLIN_CLI) + " 2>/dev/null").exitCode, 2);
    EXPECT_EQ(RunCommand(std::string(RAVLIN_CLI) + " --help").exitCode, 0);
}

}  // namespace
}  // namespace tovarek
