#include "platform/local_time.h"

#include <stdlib.h>
#include <time.h>

#include <gtest/gtest.h>

namespace tovarek {
namespace {

class LocalTime : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = getenv("TZ");
        if (tz) m_strOldTz = tz;
        m_bHadTz = tz != nullptr;
        setenv("TZ", "Asia/Shanghai", 1);
        tzset();
    }
    void TearDown() override {
        if (m_bHadTz)
            setenv("TZ", m_strOldTz.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    std::string m_strOldTz;
    bool m_bHadTz = false;
};

TEST_F(LocalTime, FormatsInTheLocalZone) {
    // 2026-01-01 00:00:00 UTC is 08:00 in Shanghai.
    EXPECT_EQ(FormatLocalTime(u"%Y-%m-%d %H:%M:%S", 1767225600), u"2026-01-01 08:00:00");
    EXPECT_EQ(FormatLocalTime(u"%Y-%m-%d", 1767225600 - 8 * 3600 - 1), u"2025-12-31");
    EXPECT_EQ(FormatLocalTime(u"日期%Y年", 1767225600), u"日期2026年");
}

TEST_F(LocalTime, TextsThatDoNotFitOrFailAreEmpty) {
    std::u16string pattern127(127, u'x');
    std::u16string pattern128(128, u'x');
    EXPECT_EQ(FormatLocalTime(pattern127, 0).size(), 127u);
    EXPECT_EQ(FormatLocalTime(pattern128, 0), u"");
    EXPECT_EQ(FormatLocalTime(std::u16string(127, u'扫'), 0).size(), 127u);
    EXPECT_EQ(FormatLocalTime(u"", 0), u"");
    // A year far outside what localtime can represent.
    EXPECT_EQ(FormatLocalTime(u"%Y", INT64_MAX), u"");
}

}  // namespace
}  // namespace tovarek
