#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/code_page.h"
#include "xml/code_page_names.h"
#include "xml/encoding.h"
#include "xml/utf8.h"

namespace tovarek {
namespace {

std::string Bytes(std::u16string_view text, int codePage) {
    std::string out;
    EXPECT_TRUE(Utf16ToCodePage(codePage, text, out));
    return out;
}

TEST(CodePageFromNameTest, KnownUnknownAndSpecialNames) {
    struct Case {
        std::u16string name;
        int codePage;
    } cases[] = {
        {u"", 0},
        {u"gbk", 936},
        {u"GBK", 936},
        {u"Gb2312", 936},
        {u"UTF-32BE", kCodePageUtf32},  // capitals: the native UTF-32 form
        {u"UTF-32", kCodePageUtf32},
        {u"utf-32be", 12001},
        {u"utf-32", 12000},
        {u"Shift_JIS", 932},
        {u"shifft_jis", 932},
        {u"Big5", 950},
        {u"GB18030", 54936},
        {u"KOI8-R", 20866},
        {u"windows-1252", 1252},
        {u"ISO_8859-1:1987", 28591},
        {u"cp1256 ", 1256},
        {u"cp1256", 1256},
        {u"utf-8", kCodePageUtf8},
        {u"x-mac-thai", 10021},
        {u"cp500", 500},
        {u"ebcdic-cp-be", 500},
        {u"cp775", 775},
        {u"no-such-charset", -1},
        {u"gbk ", -1},
        {std::u16string(100, u'a'), -1},
        {u"\u00C4gbk", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CodePageFromName(c.name), c.codePage)
            << std::string(c.name.begin(), c.name.end());
    }
}

TEST(CodePageFromNameTest, EveryTableNameSitsInItsBucketAndIsFound) {
    int count = 0;
    std::set<std::u16string> names;
    std::set<int> codePages;
    ForEachCodePageName([&](std::u16string_view name, int codePage, int bucket) {
        ++count;
        unsigned sum = 0;
        for (char16_t c : name) {
            sum += c;
            EXPECT_FALSE(c >= u'A' && c <= u'Z');
        }
        EXPECT_EQ(static_cast<int>(sum % 155), bucket);
        EXPECT_TRUE(names.insert(std::u16string(name)).second);
        codePages.insert(codePage);
        // The first entry of its bucket with this name must be this one.
        EXPECT_EQ(CodePageFromName(name), codePage);
    });
    EXPECT_EQ(count, 365);
    EXPECT_EQ(codePages.size(), 111u);
}

TEST(Utf8Test, EncodeAndLenientDecode) {
    struct Case {
        uint32_t codePoint;
        size_t length;
    } cases[] = {{0x41, 1},  {0x7F, 1},   {0x80, 2},    {0x7FF, 2},
                 {0x800, 3}, {0xFFFF, 3}, {0x10000, 4}, {0x10FFFF, 4}};
    for (const Case& c : cases) {
        size_t counted = 0;
        Utf8Encode(c.codePoint, nullptr, counted);
        ASSERT_EQ(counted, c.length) << c.codePoint;
        char buffer[8];
        size_t pos = 0;
        Utf8Encode(c.codePoint, buffer, pos);
        EXPECT_EQ(pos, c.length);
        const char* p = buffer;
        EXPECT_EQ(Utf8Decode(p, buffer + pos), static_cast<int32_t>(c.codePoint));
        EXPECT_EQ(p, buffer + pos);
    }
    // Lenient: an over-long NUL and an encoded surrogate decode; cut and 5-byte leads do not.
    std::string overLong = "\xC0\x80", surrogate = "\xED\xA0\x80", cut = "\xE4\xB8", five = "\xF8";
    const char* p = overLong.data();
    EXPECT_EQ(Utf8Decode(p, overLong.data() + 2), 0);
    p = surrogate.data();
    EXPECT_EQ(Utf8Decode(p, surrogate.data() + 3), 0xD800);
    p = cut.data();
    EXPECT_EQ(Utf8Decode(p, cut.data() + 2), -1);
    EXPECT_EQ(p, cut.data() + 1);  // callers make progress
    p = five.data();
    EXPECT_EQ(Utf8Decode(p, five.data() + 1), -1);
}

TEST(Utf8Test, IsUtf8BytesIsStrictAndTellsCutSequences) {
    const std::string gbk = Bytes(u"中文内容", kCodePageGbk);
    struct Case {
        std::string bytes;
        bool isUtf8;
        int multiByte;
        bool cutOff;
    } cases[] = {
        {"plain <ascii/>", true, 0, false},
        {"\xE4\xB8\xAD\xE6\x96\x87", true, 2, false},
        {gbk, false, 0, false},  // the lenient decoder would accept these
        {"ab\xE4\xB8", false, 0, true},
        {"a\xE4\xB8"
         "b",
         false, 0, false},
        {"\xC0\x80", false, 0, false},
        {"\xED\xA0\x80", false, 0, false},
        {"\xF4\x90\x80\x80", false, 0, false},
        {std::string("ok\0\xFF", 4), true, 0, false},  // stops at the zero byte
    };
    for (const Case& c : cases) {
        int count = -1;
        bool cutOff = !c.cutOff;
        EXPECT_EQ(IsUtf8Bytes(c.bytes.data(), c.bytes.size(), &count, &cutOff), c.isUtf8)
            << c.bytes;
        EXPECT_EQ(cutOff, c.cutOff) << c.bytes;
        if (c.isUtf8) {
            EXPECT_EQ(count, c.multiByte) << c.bytes;
        }
    }
}

TEST(CarryLengthTest, Utf8AndUtf16Tails) {
    struct Case {
        std::string bytes;
        std::u16string encoding;
        size_t carry;
    } cases[] = {
        {"ab\xE4\xB8", u"UTF-8", 2},
        {"ab\xE4", u"UTF-8", 1},
        {"ab\xE4\xB8\xAD", u"UTF-8", 0},
        {"abc", u"utf-8", 0},
        {std::string("a\0b", 3), u"UTF-16LE", 1},              // half a unit
        {std::string("a\0\x3D\xD8", 4), u"UTF-16LE", 2},       // high surrogate last
        {std::string("\x3D\xD8\x00\xDE", 4), u"UTF-16LE", 0},  // a whole pair
        {std::string("\xD8\x3D", 2), u"UTF-16BE", 2},
        {"\xE9\xE8\xE7", u"windows-1252", 0},
    };
    for (const Case& c : cases) {
        size_t carry = 99;
        EXPECT_TRUE(CarryLength(c.bytes.data(), c.bytes.size(), c.encoding, carry));
        EXPECT_EQ(carry, c.carry) << c.bytes;
    }
}

// Cutting a double-byte text anywhere and carrying what CarryLength says must give two parts
// that convert, one after the other, to exactly the whole text.
TEST(CarryLengthTest, EveryCutOfMultiByteTextsSplitsAtACharacter) {
    const std::u16string text =
        u"<a>中文 mixed ASCII 漢字かなカナ한글 \u00E9 \U0001F600 end丂@</a>";
    const struct {
        const char16_t* name;
        int codePage;
    } encodings[] = {{u"GBK", 936}, {u"GB18030", 54936}, {u"Big5", 950}, {u"Shift_JIS", 932}};
    for (const auto& e : encodings) {
        const std::string bytes = Bytes(text, e.codePage);
        std::u16string whole;
        CodePageToUtf16(e.codePage, bytes, whole);
        for (size_t cut = 4; cut < bytes.size(); ++cut) {
            size_t carry = 0;
            ASSERT_TRUE(CarryLength(bytes.data(), cut, e.name, carry)) << cut;
            ASSERT_LT(carry, cut);
            std::u16string head, tail;
            CodePageToUtf16(e.codePage, std::string_view(bytes).substr(0, cut - carry), head);
            CodePageToUtf16(e.codePage, std::string_view(bytes).substr(cut - carry), tail);
            ASSERT_EQ(head + tail, whole) << "code page " << e.codePage << " cut " << cut;
        }
    }
}

TEST(ConvertEncodingTest, CodePagesUtf16AndUtf32) {
    const std::u16string text = u"A中\U0001F600";
    const std::u16string thai = u"A中\u0E01";
    // UTF-16 -> GBK counts first, then fills; a Thai letter has no GBK form.
    bool lost = false;
    int64_t n = ConvertEncoding(u"gbk", u"UTF-16", thai.data(), thai.size(), nullptr, 0, &lost);
    EXPECT_EQ(n, 4);  // 'A', two bytes, '?'
    EXPECT_TRUE(lost);
    std::string gbk(static_cast<size_t>(n), '\0');
    EXPECT_EQ(ConvertEncoding(u"gbk", u"UTF-16", thai.data(), thai.size(), gbk.data(), 2), -1);
    EXPECT_EQ(ConvertEncoding(u"gbk", u"UTF-16", thai.data(), thai.size(), gbk.data(), 4), 4);
    EXPECT_EQ(gbk, "A\xD6\xD0?");

    // GBK -> Big5 through UTF-16.
    std::string big5(8, '\0');
    lost = false;
    n = ConvertEncoding(u"big5", u"cp936", "\xD6\xD0", 2, big5.data(), big5.size(), &lost);
    EXPECT_EQ(std::string(big5.data(), static_cast<size_t>(n)), Bytes(u"中", 950));
    EXPECT_FALSE(lost);

    // UTF-16 -> UTF-32 and back, with a supplementary character.
    uint32_t wide[8];
    n = ConvertEncoding(u"UTF-32", u"utf-16", text.data(), text.size(), wide, 8);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(wide[2], 0x1F600u);
    char16_t back[8];
    n = ConvertEncoding(u"utf-16", u"UTF-32", wide, 3, back, 8);
    EXPECT_EQ(std::u16string(back, static_cast<size_t>(n)), text);

    // UTF-32 -> UTF-8 byte by byte.
    char utf8[16];
    n = ConvertEncoding(u"utf-8", u"UTF-32", wide, 3, utf8, sizeof utf8);
    EXPECT_EQ(std::string(utf8, static_cast<size_t>(n)), "A\xE4\xB8\xAD\xF0\x9F\x98\x80");

    // UTF-8 -> UTF-32: an invalid byte becomes '?'.
    lost = false;
    n = ConvertEncoding(u"UTF-32", u"utf-8", "a\xF8z", 3, wide, 8, &lost);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(wide[1], static_cast<uint32_t>('?'));
    EXPECT_TRUE(lost);
}

TEST(ConvertEncodingTest, BrokenSurrogatesNeverSwallowTheNextCharacter) {
    // A low surrogate first, a high surrogate before a letter, a high surrogate at the end.
    const char16_t broken[] = {0xDC00, u'a', 0xD800, u'b', 0xD83D};
    uint32_t out[8];
    bool lost = false;
    int64_t n = ConvertEncoding(u"UTF-32", u"UTF-16", broken, 5, out, 8, &lost);
    ASSERT_EQ(n, 5);
    const uint32_t expected[] = {'?', 'a', '?', 'b', '?'};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], expected[i]) << i;
    EXPECT_TRUE(lost);
    // Code points past Unicode from UTF-32 are lost as '?', not wrapped.
    const uint32_t tooBig[] = {0x110000, 'x'};
    char16_t units[4];
    n = ConvertEncoding(u"UTF-16", u"UTF-32", tooBig, 2, units, 4);
    EXPECT_EQ(std::u16string(units, static_cast<size_t>(n)), u"?x");
}

TEST(ConvertEncodingTest, EncodingsWithoutAConverterProduceNothing) {
    EXPECT_FALSE(IsEncodingSupported(u"x-mac-thai"));
    EXPECT_TRUE(IsEncodingSupported(u"gb18030"));
    EXPECT_TRUE(IsEncodingSupported(u"no-such-name"));  // means the ANSI code page
    char out[16];
    EXPECT_EQ(ConvertEncoding(u"x-mac-thai", u"utf-16", u"abc", 3, out, sizeof out), 0);
    EXPECT_EQ(ConvertEncoding(u"utf-16", u"x-iscii-de", "abc", 3, out, 8), 0);
}

TEST(FindDeclaredEncodingTest, DeclarationsAndMetaTags) {
    struct Case {
        std::u16string text;
        std::u16string encoding;
    } cases[] = {
        {u"<?xml version=\"1.0\" encoding=\"gb2312\"?><a/>", u"gb2312"},
        {u"<?XML version='1.0' ENCODING='Big5' standalone='yes'?>", u"Big5"},
        {u"<?xml version=\"1.0\"?><a encoding=\"gbk\"/>", u""},
        {u" <?xml version=\"1.0\" encoding=\"gbk\"?>", u""},  // not at the very start
        {u"<?xml-stylesheet encoding=\"gbk\"?>", u""},
        {u"<a><?xml encoding=\"gbk\"?></a>", u""},
        {u"<html><head><meta http-equiv=\"Content-Type\" "
         u"content=\"text/html; charset=GBK\"></head></html>",
         u"GBK"},
        {u"<!DOCTYPE html><HTML><HEAD><META name=x content=y>"
         u"<meta HTTP-EQUIV='content-type' CONTENT='text/html;charset=koi8-r;x'></HEAD>",
         u"koi8-r"},
        {u"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html\"></head>", u""},
        {u"<html><head></head><meta http-equiv=\"Content-Type\" "
         u"content=\"text/html; charset=gbk\">",
         u""},
        {u"<body><meta http-equiv=\"Content-Type\" content=\"charset=gbk\">", u""},
        {u"plain text", u""},
        {u"", u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindDeclaredEncoding(c.text), c.encoding) << Utf16ToUtf8(c.text);
    }
}

}  // namespace
}  // namespace tovarek
