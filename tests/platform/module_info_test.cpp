#include "platform/module_info.h"

#include <regex>

#include <gtest/gtest.h>

namespace tovarek {
namespace {

TEST(ModuleInfo, DirectoryIsThePathCutAfterItsLastSlash) {
    std::string path = ModulePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.substr(path.rfind('/') + 1), "platform_test");
    EXPECT_EQ(ModuleDir(), path.substr(0, path.rfind('/') + 1));

    SetModuleDirForTest("/tmp/somewhere");
    EXPECT_EQ(ModuleDir(), "/tmp/somewhere/");
    SetModuleDirForTest("");
    EXPECT_EQ(ModuleDir().back(), '/');
}

TEST(ModuleInfo, VersionTextHasFourNumbersAndATrailingBlank) {
    EXPECT_TRUE(std::regex_match(VersionText(), std::regex("[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+ ")))
        << "'" << VersionText() << "'";
}

}  // namespace
}  // namespace tovarek
