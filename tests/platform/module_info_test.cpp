#include "platform/module_info.h"
#include "tests/support/test_env.h"

#include <stdio.h>

#include <gtest/gtest.h>

namespace tovarek {
namespace {

TEST(ModuleInfo, DirectoryIsThePathCutAfterItsLastSlash) {
    std::string path = ModulePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.substr(path.rfind('/') + 1), "platform_test");
    EXPECT_EQ(ModuleDir(), path.substr(0, path.rfind('/') + 1));

    test::ScopedTestEnv testEnv;
    testEnv.moduleDir = "/tmp/somewhere";
    EXPECT_EQ(ModuleDir(), "/tmp/somewhere/");
    testEnv.moduleDir = "";
    EXPECT_EQ(ModuleDir().back(), '/');
}

TEST(ModuleInfo, VersionTextHasFourNumbersAndATrailingBlank) {
    std::string v = VersionText();
    int a = -1, b = -1, c = -1, d = -1, used = 0;
    ASSERT_EQ(sscanf(v.c_str(), "%d.%d.%d.%d%n", &a, &b, &c, &d, &used), 4) << v;
    EXPECT_EQ(v.substr(static_cast<size_t>(used)), " ");
    EXPECT_EQ(v, std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." +
                     std::to_string(d) + " ");
}

}  // namespace
}  // namespace tovarek
