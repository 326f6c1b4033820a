#include "platform/path_text.h"

#include <random>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "tests/support/test_env.h"

namespace tovarek {
namespace {

TEST(PathText, EveryByteStringRoundTripsAndInvalidBytesBecomeTheirOwnSurrogates) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"plain/ascii", u"plain/ascii"},
        {"\xC3\xA9\xE6\x89\xAB\xF0\x9F\x98\x80", u"\u00e9\u626b\U0001F600"},
        {"a\xFF"
         "b",
         u"a\xDCFF"
         u"b"},
        {"\xC3", u"\xDCC3"},                                // cut sequence
        {"\xC0\xAF", u"\xDCC0\xDCAF"},                      // overlong '/'
        {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},            // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},  // past U+10FFFF
        {"\xE6\x89", u"\xDCE6\xDC89"},
        {"\xE6\x89\xAB\xAB", u"\u626b\xDCAB"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(PathToUtf16(bytes), text);
        EXPECT_EQ(Utf16ToPath(text), bytes);
    }
    // Two names that differ only in bytes that are not UTF-8 keep different texts.
    EXPECT_NE(PathToUtf16("a\xFE.bin"), PathToUtf16("a\xFF.bin"));
    std::mt19937 random(7);
    for (int i = 0; i < 2000; ++i) {
        std::string bytes(random() % 12, '\0');
        for (char& b : bytes) b = static_cast<char>(random() % 256);
        ASSERT_EQ(Utf16ToPath(PathToUtf16(bytes)), bytes);
    }
    // A lone surrogate outside the escapes has no bytes.
    EXPECT_EQ(Utf16ToPath(u"a\xD800"
                          u"b\xDC10"),
              "a?b?");
}

TEST(PathText, OutputTextKeepsEscapedBytesInAnyCodePage) {
    // The lowest and the highest byte that is never UTF-8 on its own.
    for (const char* own : {"\xFF", "\x80"}) {
        const std::u16string text = PathToUtf16(std::string("/opt/") + own + "\xE6\x89\xAB");
        test::ScopedTestEnv testEnv;
        testEnv.codePage = kCodePageUtf8;
        EXPECT_EQ(Utf16ToAnsiPath(text), std::string("/opt/") + own + "\xE6\x89\xAB");
        testEnv.codePage = kCodePageGbk;
        // The name's own byte, not '?' nor what the code page makes of U+0080.
        EXPECT_EQ(Utf16ToAnsiPath(text), std::string("/opt/") + own + "\xC9\xA8");
    }
}

}  // namespace
}  // namespace tovarek
