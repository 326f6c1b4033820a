#include <gtest/gtest.h>

#include <random>

#include "ui/skin/markup.h"
#include "ui/skin/printf_format.h"

namespace tovarek {
namespace {

// ---- printf-style texts ----

struct FormatCase {
    const char16_t* format;
    std::vector<FormatArg> args;
    const char16_t* expected;
};

TEST(FormatText, ComposesLikePrintf) {
    const FormatCase cases[] = {
        {u"列表更新日期：%s", {u"2024-05-01 10:00:00"}, u"列表更新日期：2024-05-01 10:00:00"},
        {u"当前版本：%s", {std::u16string(u"1.0.0.1 ")}, u"当前版本：1.0.0.1 "},
        {u"扫描%d个文件，危险文件%d个", {12345, 2}, u"扫描12345个文件，危险文件2个"},
        {u"/a,p5=%d,btn_width=80,btn_text='扫描'/", {7}, u"/a,p5=7,btn_width=80,btn_text='扫描'/"},
        {u"/line_width=%d/%s", {485, u"/usr/lib/库/a b.so"}, u"/line_width=485//usr/lib/库/a b.so"},
        {u"%5d|%-5d|%05d|%+d", {42, 42, 42, 42}, u"   42|42   |00042|+42"},
        {u"%x %X %#x %o", {255, 255, 255, 8}, u"ff FF 0xff 10"},
        {u"%u %lu", {-1, -1}, u"4294967295 18446744073709551615"},
        {u"%I64d %lld %zu",
         {int64_t(1) << 40, -(int64_t(1) << 40), size_t(7)},
         u"1099511627776 -1099511627776 7"},
        {u"%.2s|%-4s|%4s|%ls|%S",
         {u"扫描目录", u"中", u"文", "utf8：好", u"宽"},
         u"扫描|中   |   文|utf8：好|宽"},
        {u"%*d|%-*d|%.*s", {4, 7, 3, 8, 2, u"abcdef"}, u"   7|8  |ab"},
        {u"%c%c%C", {u'中', 65, char('z')}, u"中Az"},
        {u"%.3f %g", {3.14159, 0.5}, u"3.142 0.5"},
        {u"%d%% 100%%", {50}, u"50% 100%"},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(FormatPrintf(c.format, c.args), QString::fromUtf16(c.expected))
            << QString::fromUtf16(c.format).toStdString();
    }
}

TEST(FormatText, HostileOrMismatchedFormatsStaySafe) {
    const FormatCase cases[] = {
        // Fewer arguments than conversions: the missing ones print nothing.
        {u"%s and %s", {u"one"}, u"one and "},
        {u"%d|%x|%c|%f|%p", {}, u"0|0||0.000000|(nil)"},
        // An argument's text is never read as a format.
        {u"%s", {u"%d %s %n 不会再展开"}, u"%d %s %n 不会再展开"},
        // %n writes nothing; it uses up its argument.
        {u"%n%s", {5, u"x"}, u"x"},
        // Text where a number was asked for prints as text.
        {u"[%d]", {u"abc"}, u"[abc]"},
        // Unknown conversions and a format cut short are copied as written.
        {u"%y %k", {1}, u"%y %k"},
        {u"100%", {}, u"100%"},
        {u"50%5", {1}, u"50%5"},
        {u"", {1, 2}, u""},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(FormatPrintf(c.format, c.args), QString::fromUtf16(c.expected))
            << QString::fromUtf16(c.format).toStdString();
    }
    // Huge widths and precisions are capped instead of allocating without bound.
    EXPECT_EQ(FormatText(u"%999999999d", 1).size(), 4096);
    EXPECT_EQ(FormatText(u"%.999999999d", 1).size(), 4096);
    EXPECT_EQ(FormatText(u"%999999999s", u"x").size(), 4096);
    EXPECT_EQ(FormatText(u"%*s", -3, u"x"), QString("x  "));  // negative '*' width: left-justify
}

// ---- markup ----

TEST(Markup, TheWindowsMarkupStrings) {
    Markup m = ParseMarkup(u"/a,p5=3,btn_width=80,btn_text='扫描'/");
    EXPECT_TRUE(m.clickable);
    EXPECT_EQ(m.imageId, 3);
    EXPECT_EQ(m.btnWidth, 80);
    EXPECT_EQ(m.btnHeight, -1);
    EXPECT_TRUE(m.hasBtnText);
    EXPECT_EQ(m.btnText, QString::fromUtf16(u"扫描"));
    EXPECT_TRUE(m.text.isEmpty());
    EXPECT_FALSE(m.twoState || m.link);

    m = ParseMarkup(u"/a,p5=12/开机自动运行");
    EXPECT_TRUE(m.clickable);
    EXPECT_EQ(m.imageId, 12);
    EXPECT_FALSE(m.hasBtnText);
    EXPECT_EQ(m.text, QString::fromUtf16(u"开机自动运行"));

    m = ParseMarkup(u"/a,p5=4,btn_type=1/全选//全不选");
    EXPECT_TRUE(m.twoState);
    EXPECT_EQ(m.text, QString::fromUtf16(u"全选"));
    EXPECT_EQ(m.text2, QString::fromUtf16(u"全不选"));

    m = ParseMarkup(u"/a,linkl=1/关闭");
    EXPECT_TRUE(m.clickable && m.link);
    EXPECT_EQ(m.imageId, 0);
    EXPECT_EQ(m.text, QString::fromUtf16(u"关闭"));

    m = ParseMarkup(u"/a,p5=5,btn_height=20,btn_text='删除所选'/");
    EXPECT_EQ(m.btnHeight, 20);
    EXPECT_EQ(m.btnWidth, -1);

    // A path after a line-width block keeps its own leading slash and any "//" in it.
    m = ParseMarkup(u"/line_width=485//usr//lib/x");
    EXPECT_FALSE(m.clickable);
    EXPECT_EQ(m.lineWidth, 485);
    EXPECT_EQ(m.text, QString("/usr//lib/x"));

    // Text without a block is drawn as is, whatever it contains.
    m = ParseMarkup(u"扫描0个文件，危险文件0个 a,p5=1/x");
    EXPECT_FALSE(m.clickable);
    EXPECT_EQ(m.text, QString::fromUtf16(u"扫描0个文件，危险文件0个 a,p5=1/x"));
}

struct MalformedCase {
    const char16_t* markup;
    bool clickable;
    int imageId, btnWidth, btnHeight, lineWidth;
    bool link, twoState;
    const char16_t* text;
};

TEST(Markup, MalformedMarkupNeverFailsAndIgnoresWhatItDoesNotKnow) {
    const MalformedCase cases[] = {
        {u"", false, 0, -1, -1, -1, false, false, u""},
        {u"/", false, 0, -1, -1, -1, false, false, u"/"},
        {u"//", false, 0, -1, -1, -1, false, false, u""},
        {u"/a", false, 0, -1, -1, -1, false, false, u"/a"},  // never closed: plain text
        {u" /a/x", false, 0, -1, -1, -1, false, false, u" /a/x"},
        {u"/A,P5=3/x", false, 0, -1, -1, -1, false, false, u"x"},  // names are exact
        {u"/ a , p5 = 3 /x", true, 3, -1, -1, -1, false, false, u"x"},
        {u"/a=0/x", false, 0, -1, -1, -1, false, false, u"x"},
        {u"/p5=abc,btn_width=-5,btn_height=99999999999,linkl=2,foo=bar,=,,/x", false, 0, -1, -1, -1,
         false, false, u"x"},
        {u"/p5=0,p5=-2,btn_width=3x,line_width=/x", false, 0, -1, -1, -1, false, false, u"x"},
        {u"/btn_width=123456,line_width=-7/x", false, 0, 10000, -1, 0, false, false, u"x"},
        {u"/a,btn_type=1/only", true, 0, -1, -1, -1, false, true, u"only"},
        {u"/a,btn_type=2/a//b", true, 0, -1, -1, -1, false, false, u"a//b"},
        {u"/linkl=1,linkl=0/x", false, 0, -1, -1, -1, false, false, u"x"},
    };
    for (const MalformedCase& c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.markup).toStdString());
        const Markup m = ParseMarkup(c.markup);
        EXPECT_EQ(m.clickable, c.clickable);
        EXPECT_EQ(m.imageId, c.imageId);
        EXPECT_EQ(m.btnWidth, c.btnWidth);
        EXPECT_EQ(m.btnHeight, c.btnHeight);
        EXPECT_EQ(m.lineWidth, c.lineWidth);
        EXPECT_EQ(m.link, c.link);
        EXPECT_EQ(m.twoState, c.twoState);
        EXPECT_EQ(m.text, QString::fromUtf16(c.text));
    }
    EXPECT_EQ(ParseMarkup(u"/a,btn_type=1/only").text2, QString("only"));
}

TEST(Markup, CaptionsInQuotesMayHoldSlashesAndCommas) {
    Markup m = ParseMarkup(u"/a,btn_text='a/b,c',p5=2/tail");
    EXPECT_EQ(m.btnText, QString("a/b,c"));
    EXPECT_EQ(m.imageId, 2);
    EXPECT_EQ(m.text, QString("tail"));
    // An unpaired quote: the first later slash still ends the block.
    m = ParseMarkup(u"/btn_text='open/rest");
    EXPECT_TRUE(m.hasBtnText);
    EXPECT_EQ(m.btnText, QString("open"));
    EXPECT_EQ(m.text, QString("rest"));
    m = ParseMarkup(u"/btn_text=plain/x");
    EXPECT_EQ(m.btnText, QString("plain"));
}

TEST(Markup, RandomInputNeverCrashes) {
    // Strings built from the grammar's own characters reach every branch of the parser.
    const char16_t alphabet[] = u"/,='a p5btn_widthypelk1290-+中/";
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pick(0, int(std::size(alphabet)) - 2);
    std::uniform_int_distribution<int> length(0, 40);
    for (int i = 0; i < 20000; ++i) {
        QString s;
        for (int n = length(rng); n > 0; --n) s += QChar(alphabet[pick(rng)]);
        const Markup m = ParseMarkup(s);
        ASSERT_GE(m.imageId, 0);
        ASSERT_LE(m.btnWidth, 10000);
        ASSERT_LE(m.text.size(), s.size());
    }
}

}  // namespace
}  // namespace tovarek
