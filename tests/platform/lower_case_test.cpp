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

TEST(LowerCase, Utf8FormAgreesWithUtf16Form) {
    const char* cases[] = {"NOTEPAD.EXE", "Ärger.TXT", "ПРИВЕТ.bin", "ＡＢＣ", "ĹŸ ΆΏ Ӂ"};
    for (const char* c : cases)
        EXPECT_EQ(LowerCaseUtf8(c), Utf16ToUtf8(LowerCase(Utf8ToUtf16(c)))) << c;
    EXPECT_EQ(LowerCaseUtf8("\xFF"
                            "AB\xC3"),
              "\xFF"
              "ab\xC3");  // invalid bytes pass through
}

}  // namespace
}  // namespace tovarek
