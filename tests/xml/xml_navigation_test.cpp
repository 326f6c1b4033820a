#include <gtest/gtest.h>

#include <string>

#include "platform/code_page.h"
#include "tests/xml/index_invariants.h"
#include "xml/entity_table.h"
#include "xml/xml_doc.h"
#include "xml/xml_navigate.h"
#include "xml/xml_text.h"

namespace tovarek {
namespace {

std::string U8(const std::u16string& s) {
    return Utf16ToUtf8(s);
}

// The text of the current element's next child `name`, as the list import reads a field.
std::u16string ChildText(XmlDoc& doc, const char16_t* name) {
    if (!FindChild(doc, name)) return u"<none>";
    EXPECT_TRUE(EnterElement(doc));
    std::u16string text = ElementText(doc, doc.m_iPos);
    EXPECT_TRUE(LeaveElement(doc));
    return text;
}

TEST(XmlNavigate, WalkOfAList) {
    XmlDoc doc;
    ASSERT_TRUE(SetDocumentText(doc, u"<list><File><save>a</save></File></list>"));
    ASSERT_TRUE(FindChild(doc, u"File"));
    EXPECT_EQ(doc.m_iPos, 1u);  // moved to the root first
    EXPECT_EQ(doc.m_iPosChild, 2u);
    ASSERT_TRUE(EnterElement(doc));
    EXPECT_EQ(doc.m_iPos, 2u);
    EXPECT_EQ(doc.m_iPosParent, 1u);
    ASSERT_TRUE(FindChild(doc, u"save"));
    ASSERT_TRUE(EnterElement(doc));
    EXPECT_EQ(ElementText(doc, doc.m_iPos), u"a");
    ASSERT_TRUE(LeaveElement(doc));
    EXPECT_EQ(doc.m_iPos, 2u);
    ASSERT_TRUE(LeaveElement(doc));
    EXPECT_EQ(doc.m_iPos, 1u);
    EXPECT_EQ(doc.m_iPosChild, 2u);
    EXPECT_FALSE(FindChild(doc, u"File"));  // only one
    EXPECT_FALSE(LeaveElement(doc));        // the root has no parent element
}

TEST(XmlNavigate, FieldsAreFoundOnlyBehindThePreviousOne) {
    XmlDoc doc;
    ASSERT_TRUE(
        SetDocumentText(doc,
                        u"<l><File><md5>m0</md5><save>s</save><size>1</size></File>"
                        u"<Other/><File><save>t</save><md5>m</md5><size>2</size></File></l>"));
    ASSERT_TRUE(FindChild(doc, u"File"));
    ASSERT_TRUE(EnterElement(doc));
    EXPECT_EQ(ChildText(doc, u"save"), u"s");
    EXPECT_EQ(ChildText(doc, u"md5"), u"<none>");  // stands before save
    EXPECT_EQ(ChildText(doc, u"size"), u"1");
    ASSERT_TRUE(LeaveElement(doc));
    ASSERT_TRUE(FindChild(doc, u"File"));  // passes over Other
    ASSERT_TRUE(EnterElement(doc));
    EXPECT_EQ(ChildText(doc, u"save"), u"t");
    EXPECT_EQ(ChildText(doc, u"md5"), u"m");
    EXPECT_EQ(ChildText(doc, u"size"), u"2");
    ASSERT_TRUE(LeaveElement(doc));
    EXPECT_FALSE(FindChild(doc, u"File"));
}

TEST(XmlNavigate, FailuresLeavePositionsAlone) {
    XmlDoc doc;
    ASSERT_TRUE(SetDocumentText(doc, u"<r><a/><b/></r>"));
    EXPECT_FALSE(EnterElement(doc));  // no current element
    EXPECT_FALSE(LeaveElement(doc));
    // The preliminary move to the root stays when the child search fails.
    EXPECT_FALSE(FindChild(doc, u"zz"));
    EXPECT_EQ(doc.m_iPos, 1u);
    EXPECT_EQ(doc.m_iPosChild, 0u);
    ASSERT_TRUE(FindChild(doc, u"b"));
    EXPECT_FALSE(FindChild(doc, u"a"));
    EXPECT_EQ(doc.m_iPosChild, 3u);
    // Entering with no child position makes the current position empty.
    ASSERT_TRUE(SetDocumentText(doc, u"<r><a/><b/></r>"));
    ASSERT_TRUE(FindElement(doc));
    ASSERT_TRUE(EnterElement(doc));
    EXPECT_EQ(doc.m_iPos, 0u);
    EXPECT_EQ(doc.m_nNodeType, 0u);
    EXPECT_FALSE(EnterElement(doc));
    ASSERT_TRUE(FindElement(doc, u"b"));  // among r's children
    EXPECT_EQ(doc.m_iPos, 3u);
    // A new parse resets the positions.
    ASSERT_TRUE(SetDocumentText(doc, u"<r/>"));
    EXPECT_EQ(doc.m_iPos + doc.m_iPosParent + doc.m_iPosChild + doc.m_nNodeType, 0u);
    // The piecewise file modes refuse navigation.
    doc.m_nOptions = kXmlWritePiecewise;
    EXPECT_FALSE(FindElement(doc));
    doc.m_nOptions = kXmlReadPiecewise;
    EXPECT_FALSE(FindChild(doc));
}

TEST(XmlNavigate, PathForms) {
    XmlDoc doc;
    ASSERT_TRUE(SetDocumentText(doc, u"<r><x/><a/><ab/><a/></r>"));
    struct Case {
        const char16_t* path;
        uint32_t found;  // record number, 0 = fails
    } cases[] = {
        {nullptr, 2}, {u"", 2},      {u"a", 3},     {u"ab", 4},         {u"a/b", 3},
        {u"a/b/", 0}, {u"a//b", 0},  {u"/a", 0},    {u"//a", 0},        {u"a[", 0},
        {u"a[2]", 3}, {u"a[0]", 0},  {u"a[@k]", 3}, {u"a[@k='v]']", 3}, {u"a[@k=v]", 3},
        {u"a[b]", 3}, {u"a[2]x", 0}, {u"a/@k", 3},  {u"a/@", 0},        {u"a/@k/b", 0},
        {u"A", 0},    {u"a b", 0},   {u"[1]", 0},   {u"a]", 0},
    };
    for (const Case& c : cases) {
        doc.m_iPos = doc.m_iPosChild = 0;
        doc.m_iPosParent = 0;
        bool ok = FindChild(doc, c.path);
        EXPECT_EQ(ok ? doc.m_iPosChild : 0u, c.found) << (c.path ? U8(c.path) : "null");
    }
    doc.m_nOptions = kXmlIgnoreCase;
    doc.m_iPos = doc.m_iPosChild = doc.m_iPosParent = 0;
    ASSERT_TRUE(FindChild(doc, u"AB"));
    EXPECT_EQ(doc.m_iPosChild, 4u);
}

TEST(XmlNavigate, ElementText) {
    struct Case {
        const char16_t* doc;
        const char16_t* text;
    } cases[] = {
        {u"<e>a&lt;b</e>", u"a<b"},
        {u"<e>&#x41;&#66;</e>", u"AB"},
        {u"&#X41;", u""},  // no element
        {u"<e>&bogus;</e>", u"&bogus;"},
        {u"<e>&#x1F600;</e>", u"\U0001F600"},
        {u"<e>&#128512;&#xFFFF;</e>", u"\U0001F600\uFFFF"},
        {u"<e>one<!-- c -->two</e>", u"onetwo"},
        {u"<e><![CDATA[<b>&amp;</b>]]></e>", u"<b>&amp;</b>"},
        {u"<e>x<?p?> <![CDATA[ y ]]>\n  <!--c--></e>", u"x y "},
        {u"<e>text<c/>more</e>", u""},
        {u"<e/>", u""},
        {u"<e>  spaced  </e>", u"  spaced  "},
        {u"<e>a>b</e>", u"a>b"},
        {u"<e>a>b<!---->c</e>", u"a>bc"},
    };
    for (const Case& c : cases) {
        XmlDoc doc;
        SetDocumentText(doc, c.doc);
        uint32_t pos = doc.m_index[0].iFirstChild;
        EXPECT_EQ(U8(ElementText(doc, pos)), U8(c.text)) << U8(c.doc);
    }
    XmlDoc doc;
    SetDocumentText(doc, u"<e>x</e>");
    EXPECT_EQ(ElementText(doc, 0), u"");
    EXPECT_EQ(ElementText(doc, 99), u"");  // not a record
}

TEST(XmlNavigate, ElementTextBehindAnOverlongEndTag) {
    // The end-tag length field holds 10 bits; longer end tags must not shift the content.
    std::u16string name(1500, u'n');
    XmlDoc doc;
    ASSERT_TRUE(SetDocumentText(doc, u"<" + name + u">v&amp;w</" + name + u">"));
    EXPECT_EQ(ElementText(doc, 1), u"v&w");
    ASSERT_TRUE(SetDocumentText(doc, u"<" + name + u">v<!--x-->w</" + name + u">"));
    EXPECT_EQ(ElementText(doc, 1), u"vw");
}

TEST(XmlNavigate, AttributeValue) {
    XmlDoc doc;
    ASSERT_TRUE(SetDocumentText(
        doc,
        u"<e plain=v1 quoted=\"a > b\" apos='x\"y' bare ent=\"&lt;&#65;\" path=a/b?c=d "
        u"sp = 'z' />"));
    EXPECT_EQ(AttributeValue(doc, 1, u"plain"), u"");  // node type is not 1 yet
    ASSERT_TRUE(FindElement(doc));
    struct Case {
        const char16_t* name;
        const char16_t* value;
    } cases[] = {
        {u"plain", u"v1"}, {u"quoted", u"a > b"}, {u"apos", u"x\"y"},   {u"bare", u"bare"},
        {u"ent", u"<A"},   {u"path", u"a/b?c=d"}, {u"sp", u"z"},        {u"missing", u""},
        {u"e", u""},       {nullptr, u""},        {u"plain[1]", u"v1"}, {u"PLAIN", u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(U8(AttributeValue(doc, 1, c.name)), U8(c.value)) << (c.name ? U8(c.name) : "");
    }
    ASSERT_TRUE(SetDocumentText(doc, u"<e a='1'/ b='2'>x</e>"));
    ASSERT_TRUE(FindElement(doc));
    EXPECT_EQ(AttributeValue(doc, 1, u"a"), u"1");
    EXPECT_EQ(AttributeValue(doc, 1, u"b"), u"");  // the '/' ended the tag
}

TEST(XmlText, DecodeEntities) {
    struct Case {
        const char16_t* in;
        const char16_t* out;
    } cases[] = {
        {u"&amp;&lt;&gt;&quot;&apos;", u"&<>\"'"},
        {u"&AMP;", u"&"},
        {u"&nbsp;&euro;&hearts;", u"\u00a0\u20ac\u2665"},
        {u"&#0;", u"&#0;"},
        {u"&#x;", u"&#x;"},
        {u"&#65abc;", u"A"},  // the number is read as far as its digits go
        {u"&amp", u"&amp"},
        {u"& amp;", u"& amp;"},
        {u"&thetasym;", u"\u03d1"},        // nine letters
        {u"&thetasymm;", u"&thetasymm;"},  // ten: too long
        {u"&\u00e9;", u"&\u00e9;"},
        {u"&#x110000;", u"&#x110000;"},  // past Unicode
        {u"&#x10FFFF;", u"\U0010FFFF"},
        {u"&&lt;;", u"&<;"},
        {u"", u""},
    };
    for (const Case& c : cases) EXPECT_EQ(U8(DecodeEntities(c.in)), U8(c.out)) << U8(c.in);
    // The length bounds the reference.
    EXPECT_EQ(DecodeEntities(u"&lt;", 3), u"&lt");
    EXPECT_EQ(DecodeEntities(u"&lt;x", 4), u"<");
}

TEST(XmlText, CaseOfAReferenceChoosesBetweenPairedEntities) {
    struct Case {
        const char16_t* in;
        char16_t out;
    } cases[] = {
        {u"&Eacute;", 0xC9},   {u"&eacute;", 0xE9},   {u"&EACUTE;", 0xC9}, {u"&THORN;", 0xDE},
        {u"&thorn;", 0xFE},    {u"&Yuml;", 0x178},    {u"&yuml;", 0xFF},   {u"&Sigma;", 0x3A3},
        {u"&sigma;", 0x3C3},   {u"&sigmaf;", 0x3C2},  {u"&lArr;", 0x21D0}, {u"&larr;", 0x2190},
        {u"&Dagger;", 0x2021}, {u"&dagger;", 0x2020}, {u"&Copy;", 0xA9},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeEntities(c.in), std::u16string(1, c.out)) << U8(c.in);
}

// Code points of the capital forms among HTML's names that differ only in case.
bool IsCapitalForm(uint32_t cp) {
    return (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) || (cp >= 0x391 && cp <= 0x3A9) ||
           cp == 0x152 || cp == 0x160 || cp == 0x178 || cp == 0x2021 || cp == 0x2033 ||
           (cp >= 0x21D0 && cp <= 0x21D4);
}

TEST(XmlText, EntityTableLayout) {
    int entries = 0;
    int pairs = 0;
    for (int b = 0; b < kEntityBucketCount; ++b) {
        std::u16string_view bucket = EntityBucket(b);
        std::u16string seen;  // names met so far in this bucket, ';'-separated
        size_t p = 0;
        while (p < bucket.size()) {
            size_t len = bucket[p] - u'0';
            ASSERT_LE(p + 5 + len, bucket.size());
            std::u16string_view name = bucket.substr(p + 5, len);
            unsigned sum = 0;
            for (char16_t c : name) {
                EXPECT_FALSE(c >= 'A' && c <= 'Z');
                sum += c;
            }
            EXPECT_EQ(static_cast<int>(sum % kEntityBucketCount), b);
            unsigned cp = 0;
            for (size_t k = 1; k <= 4; ++k) cp = cp * 10 + (bucket[p + k] - u'0');
            std::u16string key = std::u16string(name) + u";";
            if (seen.find(u";" + key) != std::u16string::npos ||
                seen.substr(0, key.size()) == key) {
                ++pairs;
                // The entry met first was the capital form.
                EXPECT_TRUE(IsCapitalForm(LookupEntity(name, true))) << U8(std::u16string(name));
                EXPECT_FALSE(IsCapitalForm(cp)) << U8(std::u16string(name));
                EXPECT_EQ(LookupEntity(name, false), cp);
            }
            seen += key;
            ++entries;
            p += 5 + len;
        }
    }
    EXPECT_EQ(entries, 253);
    EXPECT_EQ(pairs,
              24 + 30 + 2 + 3 + 5);  // Greek, Latin-1, OElig/Scaron, Yuml/Dagger/Prime, arrows
}

TEST(XmlText, EscapeAndCdataRoundTrips) {
    const std::u16string samples[] = {
        u"",          u"plain",       u"<a href=\"x\">&amp; 'q' </a>",
        u"]]>",       u"x]]>y]]]>>z", u"\U0001F600 & \u4e2d\u6587 <",
        u"&&;&#;&lt",
    };
    for (const std::u16string& s : samples) {
        EXPECT_EQ(DecodeEntities(EscapeText(s)), s) << U8(s);
        EXPECT_EQ(DecodeEntities(EscapeText(s, kEscapeAttribute)), s) << U8(s);
        // A CDATA section parses back to the same text.
        XmlDoc doc;
        ASSERT_TRUE(SetDocumentText(doc, u"<e>" + MakeCdata(s) + u"</e>")) << U8(s);
        EXPECT_EQ(ElementText(doc, 1), s) << U8(s);
    }
    EXPECT_EQ(EscapeText(u"a'\"b"), u"a'\"b");
    EXPECT_EQ(EscapeText(u"a'\"b", kEscapeAttribute), u"a&apos;&quot;b");
    EXPECT_EQ(EscapeText(u"&amp; & &#65; &x_1.-:; &;", kEscapeKeepReferences),
              u"&amp; &amp; &#65; &x_1.-:; &amp;;");
    EXPECT_EQ(MakeCdata(u"a]]>b"), u"<![CDATA[a]]]]><![CDATA[>b]]>");
}

}  // namespace
}  // namespace tovarek
