#include "platform/lower_case.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"

namespace tovarek {
namespace {

TEST(LowerCase, FoldsTheScriptsOfFileNames) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"ABC.EXE", u"abc.exe"},     {u"Äpfel ÉÀÞ × ÿ", u"äpfel éàþ × ÿ"},
        {u"ĀĂĹŃŸŹŽ", u"āăĺńÿźž"},     {u"ΑΒΓΩ Ά", u"αβγω ά"},
        {u"ПРИВЕТ ЁЂ", u"привет ёђ"}, {u"ＡＢＣ", u"ａｂｃ"},
        {u"扫描.EXE", u"扫描.exe"},   {u"already lower 123", u"already lower 123"},
    };
    for (const auto& [in, want] : cases) EXPECT_EQ(LowerCase(in), want);
}

TEST(LowerCase, BordersOfEveryFoldedRange) {
    // Each range's first and last letter fold, and their outside neighbours do not.
    const std::pair<char16_t, char16_t> cases[] = {
        {u'@', u'@'},     {u'A', u'a'},     {u'Z', u'z'},     {u'[', u'['},     {u'`', u'`'},
        {u'a', u'a'},     {u'z', u'z'},     {u'{', u'{'},     {0xBF, 0xBF},     {0xC0, 0xE0},
        {0xD6, 0xF6},     {0xD7, 0xD7},     {0xD8, 0xF8},     {0xDE, 0xFE},     {0xDF, 0xDF},
        {0x130, u'i'},    {0x131, 0x131},   {0x132, 0x133},   {0x133, 0x133},   {0x134, 0x135},
        {0x136, 0x137},   {0x137, 0x137},   {0x138, 0x138},   {0x139, 0x13A},   {0x148, 0x148},
        {0x149, 0x149},   {0x14A, 0x14B},   {0x178, 0xFF},    {0x17D, 0x17E},   {0x17F, 0x17F},
        {0xFF20, 0xFF20}, {0xFF21, 0xFF41}, {0xFF3A, 0xFF5A}, {0xFF3B, 0xFF3B},
    };
    for (const auto& [in, want] : cases) {
        EXPECT_EQ(static_cast<int>(LowerCaseChar(in)), static_cast<int>(want))
            << std::hex << static_cast<int>(in);
    }
}

}  // namespace
}  // namespace tovarek
