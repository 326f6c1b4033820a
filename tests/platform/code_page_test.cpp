#include "platform/code_page.h"

#include <gtest/gtest.h>

namespace tovarek {
namespace {

struct RoundTrip {
    int codePage;
    std::u16string text;
    std::string bytes;
};

TEST(CodePage, RoundTripsThroughIconv) {
    const RoundTrip cases[] = {
        {936, u"扫描", "\xC9\xA8\xC3\xE8"},
        {54936, u"\U0001F600", "\x94\x39\xFC\x36"},
        {950, u"掃描", "\xB1\xBD\xB4\x79"},
        {1252, u"caf\u00e9 \u20ac", "caf\xE9 \x80"},
        {20866, u"\u043f\u0440\u0438", "\xD0\xD2\xC9"},
        {65001, u"\u00e9\U00010348", "\xC3\xA9\xF0\x90\x8D\x88"},
    };
    for (const RoundTrip& c : cases) {
        std::string bytes;
        bool lost = false;
        ASSERT_TRUE(Utf16ToCodePage(c.codePage, c.text, bytes, &lost)) << c.codePage;
        EXPECT_EQ(bytes, c.bytes) << c.codePage;
        EXPECT_FALSE(lost);
        std::u16string back;
        ASSERT_TRUE(CodePageToUtf16(c.codePage, c.bytes, back, &lost));
        EXPECT_EQ(back, c.text) << c.codePage;
        EXPECT_FALSE(lost);
    }
}

TEST(CodePage, LossesAreMarkedAndReplaced) {
    std::string bytes;
    bool lost = false;
    // No form in windows-1252: written as '?', the rest kept.
    ASSERT_TRUE(Utf16ToCodePage(1252, u"a扫b", bytes, &lost));
    EXPECT_EQ(bytes, "a?b");
    EXPECT_TRUE(lost);

    // A lone surrogate cannot be encoded anywhere.
    lost = false;
    ASSERT_TRUE(
        Utf16ToCodePage(65001, std::u16string(u"x") + char16_t(0xD800) + u"y", bytes, &lost));
    EXPECT_EQ(bytes, "x?y");
    EXPECT_TRUE(lost);

    // Invalid and cut input bytes decode as U+FFFD and the text after them survives.
    std::u16string text;
    lost = false;
    ASSERT_TRUE(CodePageToUtf16(65001,
                                "a\xFF"
                                "b\xE6\x89",
                                text, &lost));
    EXPECT_EQ(text, u"a\uFFFDb\uFFFD");
    EXPECT_TRUE(lost);
}

TEST(CodePage, UnknownCodePageConvertsNothing) {
    std::string bytes = "stale";
    std::u16string text = u"stale";
    EXPECT_FALSE(Utf16ToCodePage(12345, u"abc", bytes));
    EXPECT_FALSE(CodePageToUtf16(12345, "abc", text));
    EXPECT_TRUE(bytes.empty());
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(IconvNameOfCodePage(12345), nullptr);
}

TEST(CodePage, AnsiCodePageCanBeSetForTests) {
    SetAnsiCodePageForTest(936);
    EXPECT_EQ(AnsiCodePage(), 936);
    EXPECT_EQ(Utf16ToAnsi(u"错误"), "\xB4\xED\xCE\xF3");
    EXPECT_EQ(AnsiToUtf16("\xB4\xED\xCE\xF3"), u"错误");
    SetAnsiCodePageForTest(0);
    EXPECT_NE(AnsiCodePage(), 0);
}

TEST(CodePage, LargeInputGrowsTheBuffer) {
    std::u16string text(100000, u'扫');
    std::string bytes;
    ASSERT_TRUE(Utf16ToCodePage(65001, text, bytes));
    EXPECT_EQ(bytes.size(), 300000u);
    EXPECT_EQ(Utf8ToUtf16(bytes), text);
}

}  // namespace
}  // namespace tovarek
