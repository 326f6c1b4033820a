#include "platform/code_page.h"
#include "platform/code_page_decoder.h"
#include "tests/support/test_env.h"

#include <errno.h>
#include <iconv.h>

#include <random>

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
        // In code page 936 but not in GB2312: a GB2312 converter would lose them.
        {936, u"丟€", "\x81\x47\x80"},
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
    test::ScopedTestEnv testEnv;
    testEnv.codePage = 936;
    EXPECT_EQ(AnsiCodePage(), 936);
    EXPECT_EQ(Utf16ToAnsi(u"错误"), "\xB4\xED\xCE\xF3");
    EXPECT_EQ(AnsiToUtf16("\xB4\xED\xCE\xF3"), u"错误");
    testEnv.codePage = 0;
    EXPECT_NE(AnsiCodePage(), 0);
}

TEST(CodePage, LargeInputGrowsTheBuffer) {
    std::u16string text(100000, u'扫');
    std::string bytes;
    ASSERT_TRUE(Utf16ToCodePage(65001, text, bytes));
    EXPECT_EQ(bytes.size(), 300000u);
    EXPECT_EQ(Utf8ToUtf16(bytes), text);
}

// Large outputs are kept and handed on (a whole list moves into its document), so they carry no
// large slack, also for code pages that need more room than the first estimate (GB18030 for a
// character outside the BMP, UTF-16 and UTF-32 for ASCII).
TEST(CodePage, LargeOutputsAreSizedToTheirContent) {
    std::u16string text;
    std::u16string in936;  // what comes back from 936, which has no form for the emoji
    for (int i = 0; i < 20000; ++i) {
        text += u"<File>扫描 a\U0001F600</File>\n";
        in936 += u"<File>扫描 a?</File>\n";
    }
    auto slackOk = [](const auto& s) { return s.capacity() <= s.size() + s.size() / 8 + 4096; };
    for (int codePage : {936, 54936, 1200, 12000, 65001}) {
        std::string bytes;
        bool lost = false;
        ASSERT_TRUE(Utf16ToCodePage(codePage, text, bytes, &lost)) << codePage;
        EXPECT_EQ(lost, codePage == 936) << codePage;
        EXPECT_TRUE(slackOk(bytes))
            << codePage << ": " << bytes.size() << " of " << bytes.capacity();
        std::u16string back;
        ASSERT_TRUE(CodePageToUtf16(codePage, bytes, back)) << codePage;
        EXPECT_TRUE(back == (codePage == 936 ? in936 : text)) << codePage;
        EXPECT_TRUE(slackOk(back)) << codePage << ": " << back.size() << " of " << back.capacity();
    }
}

}  // namespace
}  // namespace tovarek

namespace tovarek {
namespace {

// The same conversion through an iconv descriptor, with the replacement rules the library
// promises: U+FFFD per invalid byte, one U+FFFD for a sequence cut by the end.
std::u16string DecodeWithIconv(const std::string& in) {
    iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    std::u16string out;
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    while (left > 0) {
        char16_t buf[256];
        char* dst = reinterpret_cast<char*>(buf);
        size_t room = sizeof buf;
        size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(buf, (sizeof buf - room) / 2);
        if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
        out.push_back(0xFFFD);
        if (errno == EINVAL) break;
        ++src;
        --left;
    }
    iconv_close(cd);
    return out;
}

TEST(CodePage, Utf8LoopsAnswerAsIconvDoes) {
    std::mt19937 rng(7);
    // Bytes drawn mostly from the interesting lead and continuation ranges.
    const unsigned char pool[] = {'a',  0x7F, 0x80, 0xBF, 0xC0, 0xC2, 0xDF, 0xE0, 0xED, 0xF8, 0xFC,
                                  0xFE, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF, 0x9F, 0xA0, 0x8F, 0x90};
    for (int round = 0; round < 20000; ++round) {
        std::string bytes(rng() % 9, '\0');
        for (char& c : bytes) c = static_cast<char>(pool[rng() % sizeof pool]);
        std::u16string ours;
        bool lost = false;
        ASSERT_TRUE(CodePageToUtf16(kCodePageUtf8, bytes, ours, &lost));
        std::u16string reference = DecodeWithIconv(bytes);
        ASSERT_EQ(ours, reference) << testing::PrintToString(bytes);
        EXPECT_EQ(lost, reference.find(u'\uFFFD') != std::u16string::npos);
    }
    // Every valid UTF-16 text survives the trip out and back, surrogate pairs included.
    for (int round = 0; round < 2000; ++round) {
        std::u16string text;
        while (text.size() < 12) {
            uint32_t cp = rng() % 0x110000;
            if (cp >= 0xD800 && cp <= 0xDFFF) continue;
            if (cp >= 0x10000) {
                text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
                text.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            } else {
                text.push_back(static_cast<char16_t>(cp));
            }
        }
        ASSERT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
    }
}

}  // namespace
}  // namespace tovarek

namespace tovarek {
namespace {

// Feeds `in` to the decoder `chunk` bytes at a time, carrying back what it leaves unused, as the
// file layer does.
std::u16string DecodeInChunks(CodePageDecoder& decoder, std::string_view in, size_t chunk,
                              bool* lost) {
    std::u16string out;
    std::string pending;
    size_t pos = 0;
    for (;;) {
        size_t take = std::min(chunk, in.size() - pos);
        pending.append(in.substr(pos, take));
        pos += take;
        bool final = pos == in.size();
        pending.erase(0, decoder.Decode(pending, final, out, lost));
        if (final) return out;
    }
}

// The decoder's own paths for UTF-8 and 936 give exactly what the system converter gives, on
// good text, bad bytes and sequences cut by block ends.
TEST(CodePageDecoderTest, FastPathsAgreeWithTheConverter) {
    std::string gbk;
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        for (int trail = 0x30; trail <= 0xFF; trail += 3) {
            gbk += "ab";
            gbk += static_cast<char>(lead);
            gbk += static_cast<char>(trail);
        }
    }
    gbk += "\xD6";  // a lead cut by the end
    const std::string utf8 =
        "plain <a>\xE4\xB8\xAD\xE6\x96\x87</a> \xF0\x9F\x98\x80 caf\xC3\xA9 \xFF x \xC0\x80 "
        "\xED\xA0\x80 \xF4\x90\x80\x80 \xE4\xB8 y \xF0\x9F\x98"
        "0123456789abcdef0123456789abcdef\xEF\xBF\xBD\xEF\xBB\xBF\xE4";
    struct Case {
        int codePage;
        std::string bytes;
    } cases[] = {{kCodePageGbk, gbk}, {kCodePageUtf8, utf8}};
    for (const Case& c : cases) {
        for (size_t chunk : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{1} << 20}) {
            CodePageDecoder fast(c.codePage);
            CodePageDecoder reference(c.codePage, false);
            ASSERT_TRUE(fast.IsOpen() && reference.IsOpen());
            bool fastLost = false;
            bool referenceLost = false;
            std::u16string got = DecodeInChunks(fast, c.bytes, chunk, &fastLost);
            std::u16string want = DecodeInChunks(reference, c.bytes, chunk, &referenceLost);
            EXPECT_TRUE(got == want) << "code page " << c.codePage << ", chunk " << chunk;
            EXPECT_EQ(fastLost, referenceLost) << "code page " << c.codePage;
        }
    }
}

}  // namespace
}  // namespace tovarek
