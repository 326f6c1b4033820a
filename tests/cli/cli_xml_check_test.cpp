#include <gtest/gtest.h>

#include "tests/cli/run_command.h"
#include "tests/support/temp_dir.h"

namespace tovarek {
namespace {

using test::RunCommand;

TEST(CliXmlCheck, VerdictReportAndExitCode) {
    struct Case {
        const char* name;
        std::string bytes;
        int exitCode;
        const char* output;
    } cases[] = {
        {"good.xml", "<list><File><save>a</save></File></list>", 0,
         "<read encoding=\"UTF-8\" length=\"40\"/><converted_to encoding=\"UTF-16\" "
         "length=\"40\"/>\nwell-formed\n"},
        // Declared GBK: offsets count UTF-16 units, not bytes.
        {"gbk.xml", "<?xml version=\"1.0\" encoding=\"gbk\"?><a>\xd6\xd0</a><b", 1,
         "<read encoding=\"gbk\" length=\"47\"/><converted_to encoding=\"UTF-16\" length=\"46\"/>"
         "<unterminated_tag_syntax type=\"start_tag\" offset=\"44\"/>\n"
         "not well-formed\n"},
        {"missing.xml", "", 1, nullptr},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        if (c.output) test::WriteFile(dir.File(c.name), c.bytes);
        auto r =
            RunCommand(std::string(RAVLIN_CLI) + " xml-check " + dir.File(c.name) + " 2>/dev/null");
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name;
        if (c.output) {
            EXPECT_EQ(r.out, c.output) << c.name;
        } else {
            EXPECT_NE(r.out.find("<file_error"), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("not well-formed\n"), std::string::npos) << r.out;
        }
    }
    EXPECT_EQ(RunCommand(std::string(RAVLIN_CLI) + " xml-check 2>/dev/null").exitCode, 2);
}

}  // namespace
}  // namespace tovarek
