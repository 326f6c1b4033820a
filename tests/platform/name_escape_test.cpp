#include "platform/name_escape.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"

namespace tovarek {
namespace {

// What a name shows as, by rule; the first rows are the ordinary names whose bytes must never
// change (logs and command-line output read the same as before for them).
TEST(NameEscape, ShowsEveryHostileCharacterAsAnEscapeAndLeavesOrdinaryNamesAlone) {
    struct Case {
        std::string name;
        std::string display;
        std::string desktopEntry;
    };
    const Case cases[] = {
        {"/opt/a/plain name.exe", "/opt/a/plain name.exe", "/opt/a/plain name.exe"},
        {"/home/用户/病毒.exe", "/home/用户/病毒.exe", "/home/用户/病毒.exe"},
        {"emoji-\xF0\x9F\x98\x80", "emoji-\xF0\x9F\x98\x80", "emoji-\xF0\x9F\x98\x80"},
        {"a\\b\nc\rd\te", "a\\\\b\\nc\\rd\\te", "a\\\\b\\nc\\rd\\te"},
        {"esc\x1b[2Jbell\x07nul" + std::string(1, '\0') + "del\x7f",
         "esc\\x1b[2Jbell\\x07nul\\x00del\\x7f",
         "esc\x1b[2Jbell\x07nul" + std::string(1, '\0') + "del\x7f"},
        // U+202E turns "c<RLO>gpj.exe" into what looks like "cexe.jpg".
        {"c\xE2\x80\xAEgpj.exe", "c\\u202egpj.exe", "c\xE2\x80\xAEgpj.exe"},
        {"x\xE2\x80\xA8y\xE2\x80\xA9z\xE2\x81\xA6w\xE2\x81\xA9\xE2\x80\xAA",
         "x\\u2028y\\u2029z\\u2066w\\u2069\\u202a", ""},
        {"c1-\xC2\x85\xC2\x9B-\xC2\xA0", "c1-\\u0085\\u009b-\xC2\xA0", ""},
        // Bytes that are no UTF-8 stay the bytes they are, even where they look like C1.
        {"raw-\x9b\xff\xC2", "raw-\x9b\xff\xC2", "raw-\x9b\xff\xC2"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EscapeName(c.name), c.display) << c.name;
        if (!c.desktopEntry.empty()) {
            EXPECT_EQ(EscapeName(c.name, EscapeRule::kDesktopEntry), c.desktopEntry) << c.name;
        }
        EXPECT_EQ(NeedsEscape(c.name), c.display != c.name) << c.name;
        EXPECT_STREQ(EscapedLineMark(c.name), c.display != c.name ? "\\" : "");
        // The text form agrees with the byte form wherever the bytes are UTF-8.
        if (c.name.find("raw-") != 0) {
            EXPECT_EQ(Utf16ToUtf8(EscapeName(Utf8ToUtf16(c.name))), c.display) << c.name;
        }
    }
    // Text holding bytes a path could not decode keeps them, surrogate pairs pass whole.
    const std::u16string text = {u'a', 0xDCFF, 0xD83D, 0xDE00, u'\n'};
    EXPECT_EQ(EscapeName(text), (std::u16string{u'a', 0xDCFF, 0xD83D, 0xDE00, u'\\', u'n'}));
}

}  // namespace
}  // namespace tovarek
