#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/code_page.h"
#include "tests/support/limited_child.h"
#include "tests/xml/index_invariants.h"
#include "xml/element_index.h"
#include "xml/node_scanner.h"
#include "xml/xml_doc.h"

namespace tovarek {
namespace {

std::string U8(const std::u16string& s) {
    return Utf16ToUtf8(s);
}

// Parses `text` in a fresh document and checks the index structure.
bool Parse(XmlDoc& doc, std::u16string_view text) {
    bool ok = SetDocumentText(doc, text);
    std::string problem = test::CheckIndexInvariants(doc);
    EXPECT_EQ(problem, "") << U8(std::u16string(text.substr(0, 200)));
    return ok;
}

std::u16string Repeat(std::u16string_view s, size_t n) {
    std::u16string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

TEST(XmlParse, NewDocumentIsEmptyWithRoomForEight) {
    XmlDoc doc;
    EXPECT_EQ(doc.m_nElemCount, 1u);
    EXPECT_EQ(doc.m_index.Capacity(), 8u);
    EXPECT_EQ(doc.m_strReport, u"");
    EXPECT_FALSE(IsWellFormed(doc));
}

// Whole-document outcomes: well-formedness and the exact report.
TEST(XmlParse, ReportsAndResults) {
    struct Case {
        const char16_t* text;
        bool wellFormed;
        const char16_t* report;
    } cases[] = {
        {u"", false, u""},
        {u"<a/>", true, u""},
        {u"  <?xml version=\"1.0\"?>\n<!-- c --><a>t</a>\n", true, u""},
        {u"<a><b></a>", false, u"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"7\"/>"},
        {u"<a></b></a>", false, u"<lone_end_tag tagname=\"b\" offset=\"3\"/>"},
        {u"<a><b><c/></b", false,
         u"<unterminated_tag_syntax type=\"end_tag\" offset=\"10\"/>"
         u"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"13\"/>"
         u"<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"13\"/><root_has_sibling/>"},
        {u"<a x='1>2'/>", true, u""},
        {u"<a x=y/>", false, u"<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"8\"/>"},
        {u"<1a/>", false, u"<first_tag_syntax offset=\"0\"/><no_root_element/>"},
        {u"<a/><b/>", false, u"<root_has_sibling/>"},
        {u"just text", false, u"<no_root_element/>"},
        {u"<!x><a/>", false, u"<exclamation_tag_syntax offset=\"0\"/>"},
        {u"<!-x><a/>", false, u"<comment_tag_syntax offset=\"0\"/>"},
        {u"<![x<a/>", false, u"<cdata_section_syntax offset=\"0\"/>"},
        {u"<a><![CDATA[ <b> ]]></a>", true, u""},
        {u"<a><!-- <b> --></a>", true, u""},
        {u"<a><!-- x --</a>", false,
         u"<unterminated_tag_syntax type=\"comment\" offset=\"3\"/>"
         u"<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"16\"/>"},
        {u"<a><?pi x?></a>", true, u""},
        {u"<?x", false,
         u"<unterminated_tag_syntax type=\"processing_instruction\" offset=\"0\"/>"
         u"<no_root_element/>"},
        {u"<a", false,
         u"<unterminated_tag_syntax type=\"start_tag\" offset=\"0\"/><no_root_element/>"},
        {u"<", false, u"<unterminated_tag_syntax type=\"tag\" offset=\"0\"/><no_root_element/>"},
        {u"<!DOCTYPE a [<!ENTITY e \"x>y\"><!-- > --><?p > ?>]><a/>", true, u""},
        {u"<!DOCTYPE a [<!X>]><a/>", false, u"<doctype_tag_syntax offset=\"0\"/>"},
        {u"<!DOCTYPE a [<!ENTITY e \"x", false,
         u"<unterminated_tag_syntax type=\"document_type\" offset=\"0\"/><no_root_element/>"},
        // An end tag matches an open name that goes on with '=', '[' or ']'.
        {u"<a=b></a>", true, u""},
        {u"<ab></a></ab>", false, u"<lone_end_tag tagname=\"a\" offset=\"4\"/>"},
        {u"<A></a>", false,
         u"<lone_end_tag tagname=\"a\" offset=\"3\"/>"
         u"<unended_start_tag tagname=\"A\" offset=\"0\" offset2=\"7\"/>"},
        // A report value is escaped as attribute text.
        {u"<a></&'\"></a>", false, u"<lone_end_tag tagname=\"&amp;&apos;&quot;\" offset=\"3\"/>"},
    };
    for (const Case& c : cases) {
        XmlDoc doc;
        EXPECT_EQ(Parse(doc, c.text), c.wellFormed) << U8(c.text);
        EXPECT_EQ(U8(doc.m_strReport), U8(c.report)) << U8(c.text);
        EXPECT_EQ(doc.m_index[0].nLength, static_cast<int32_t>(std::u16string_view(c.text).size()));
    }
}

TEST(XmlParse, RecordsOfSimpleDocuments) {
    XmlDoc doc;
    ASSERT_TRUE(Parse(doc, u"<a/>"));
    ASSERT_EQ(doc.m_nElemCount, 2u);
    const ElementPos& a = doc.m_index[1];
    EXPECT_EQ(a.nStart, 0);
    EXPECT_EQ(a.nLength, 4);
    EXPECT_EQ(a.StartTagLength(), 4u);
    EXPECT_EQ(a.EndTagLength(), 0u);
    EXPECT_EQ(a.Level(), 0u);
    EXPECT_EQ(doc.m_index[0].iFirstChild, 1u);

    ASSERT_FALSE(Parse(doc, u"<a><b></a>"));
    EXPECT_EQ(doc.m_index[1].nLength, 10);
    EXPECT_EQ(doc.m_index[1].EndTagLength(), 4u);
    EXPECT_EQ(doc.m_index[2].nLength, 3);
    EXPECT_TRUE(doc.m_index[2].nFlags & kPosUnended);
    EXPECT_FALSE(doc.m_index[1].nFlags & kPosUnended);
    EXPECT_TRUE(doc.m_index[0].nFlags & kPosDocDiagnostic);

    // A lone end tag marks the element it stands in.
    ASSERT_FALSE(Parse(doc, u"<a></b></a>"));
    EXPECT_EQ(doc.m_index[1].nLength, 11);
    EXPECT_TRUE(doc.m_index[1].nFlags & kPosDiagnostic);

    // Children of unended elements become their following siblings.
    ASSERT_FALSE(Parse(doc, u"<a><b><c/><d/>"));
    ASSERT_EQ(doc.m_nElemCount, 5u);
    for (uint32_t i = 1; i <= 4; ++i) {
        EXPECT_EQ(doc.m_index[i].iParent, 0u) << i;
        EXPECT_EQ(doc.m_index[i].iNext, i < 4 ? i + 1 : 0u) << i;
    }
    EXPECT_EQ(doc.m_index[doc.m_index[0].iFirstChild].iPrev, 4u);

    // A diagnostic mark moves out of an unended element to its parent.
    ASSERT_FALSE(Parse(doc, u"<r><a><!x></r>"));
    EXPECT_FALSE(doc.m_index[2].nFlags & kPosDiagnostic);
    EXPECT_TRUE(doc.m_index[1].nFlags & kPosDiagnostic);

    ASSERT_TRUE(Parse(doc, u"<a x=\"1\"/>"));
    EXPECT_EQ(doc.m_nElemCount, 2u);
    ASSERT_FALSE(Parse(doc, u"<a x=y/>"));
    EXPECT_TRUE(doc.m_index[1].nFlags & kPosUnended);
}

TEST(XmlParse, LevelsAndLinks) {
    XmlDoc doc;
    ASSERT_TRUE(Parse(doc, u"<r><a><b/><c/></a><d>x</d></r>"));
    // r=1 a=2 b=3 c=4 d=5
    EXPECT_EQ(doc.m_index[1].Level(), 0u);
    EXPECT_EQ(doc.m_index[2].Level(), 1u);
    EXPECT_EQ(doc.m_index[3].Level(), 2u);
    EXPECT_EQ(doc.m_index[5].Level(), 1u);
    EXPECT_EQ(doc.m_index[2].iPrev, 5u);  // first child names the last
    EXPECT_EQ(doc.m_index[5].iPrev, 2u);
    EXPECT_EQ(doc.m_index[3].iPrev, 4u);
}

TEST(XmlParse, IgnoreCaseOption) {
    XmlDoc doc;
    doc.m_nOptions = kXmlIgnoreCase;
    EXPECT_TRUE(Parse(doc, u"<Root><ITEM></item></rOOT>"));
    // After a shared character above 127 the rest of the name compares exactly.
    EXPECT_TRUE(Parse(doc, u"<A\u00e9B></a\u00e9B>"));
    EXPECT_FALSE(Parse(doc, u"<A\u00e9B></a\u00e9b>"));
}

TEST(XmlParse, ReportStopsAtThousandCharacters) {
    std::u16string report;
    while (report.size() < 1000) AddReportEntry(report, u"lone_end_tag", u"x", 0, 1);
    std::u16string full = report;
    AddReportEntry(report, u"no_root_element", std::nullopt, 0);
    EXPECT_EQ(report, full);

    // A parse with many findings keeps the flags but not the entries.
    XmlDoc doc;
    EXPECT_FALSE(Parse(doc, u"<a>" + Repeat(u"</zz>", 500) + u"</a>"));
    EXPECT_LT(doc.m_strReport.size(), 1100u);
    EXPECT_TRUE(doc.m_index[1].nFlags & kPosDiagnostic);
}

// A value is cut to the report's own cap before it is escaped: a lone end tag named with 40
// million quotation marks once made one entry of 240 million characters.
TEST(XmlReport, LongValuesAreCutBeforeEscaping) {
    std::u16string report;
    AddReportEntry(report, u"lone_end_tag", std::u16string(1500, u'a'), 0, 3);
    EXPECT_EQ(report,
              u"<lone_end_tag tagname=\"" + std::u16string(1000, u'a') + u"\" offset=\"3\"/>");
    // The cut never leaves half of a surrogate pair; a pair that ends at the cut stays whole.
    for (size_t before : {999u, 998u}) {
        report.clear();
        std::u16string name = std::u16string(before, u'a') + u"\U0001F600b";
        AddReportEntry(report, u"x", name, 0);
        std::u16string kept = before == 999 ? std::u16string(999, u'a') : name.substr(0, 1000);
        EXPECT_EQ(report, u"<x tagname=\"" + kept + u"\"/>") << before;
    }

    test::ChildOutcome outcome = test::RunLimited(512u << 20, 20, [] {
        const size_t kQuotes = 40000000;
        XmlDoc doc;
        doc.m_strText.reserve(kQuotes + 8);
        doc.m_strText = u"<r></";
        doc.m_strText.append(kQuotes, u'"');
        doc.m_strText += u'>';
        if (ParseText(doc)) return 2;
        std::u16string quotes;
        for (int i = 0; i < 1000; ++i) quotes += u"&quot;";
        return doc.m_strReport == u"<lone_end_tag tagname=\"" + quotes + u"\" offset=\"3\"/>" ? 0
                                                                                              : 3;
    });
    EXPECT_EQ(outcome.signal, 0) << outcome.Describe();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.Describe();
}

TEST(XmlReport, AttributesByFlagsAndUpdates) {
    std::u16string report;
    AddReportEntry(report, u"read", u"UTF-8", kReportEncoding | kReportLength, 12);
    AddReportEntry(report, u"file_error", u"No such <file>", kReportMsg | kReportN, 2);
    AddReportEntry(report, u"nulls_removed", std::nullopt, kReportCount, 3);
    AddReportEntry(report, u"x", u"v", kReportType, -1, 9);
    EXPECT_EQ(U8(report),
              "<read encoding=\"UTF-8\" length=\"12\"/>"
              "<file_error msg=\"No such &lt;file&gt;\" n=\"2\"/>"
              "<nulls_removed count=\"3\"/>"
              "<x type=\"v\" offset2=\"9\"/>");
    // Updating replaces values in place and adds missing attributes; an absent entry is left be.
    AddReportEntry(report, u"read", std::nullopt, kReportUpdate | kReportLength, 123456);
    AddReportEntry(report, u"nulls_removed", u"e", kReportUpdate | kReportEncoding, -1);
    AddReportEntry(report, u"missing", u"e", kReportUpdate | kReportEncoding, 1);
    EXPECT_EQ(U8(report),
              "<read encoding=\"UTF-8\" length=\"123456\"/>"
              "<file_error msg=\"No such &lt;file&gt;\" n=\"2\"/>"
              "<nulls_removed count=\"3\" encoding=\"e\"/>"
              "<x type=\"v\" offset2=\"9\"/>");
}

TEST(XmlParse, SetDocumentTextRefusedInFileModes) {
    for (uint32_t mode : {kXmlReadPiecewise, kXmlWritePiecewise}) {
        XmlDoc doc;
        doc.m_nOptions = mode;
        doc.m_strText = u"<keep/>";
        EXPECT_FALSE(SetDocumentText(doc, u"<new/>"));
        EXPECT_FALSE(SetDocumentText(doc));
        EXPECT_EQ(doc.m_strText, u"<keep/>");
    }
    XmlDoc doc;
    ASSERT_TRUE(SetDocumentText(doc, u"<a/>"));
    doc.m_strReport = u"<old/>";
    EXPECT_FALSE(SetDocumentText(doc));
    EXPECT_EQ(doc.m_strReport, u"");
    EXPECT_EQ(doc.m_nElemCount, 1u);
    EXPECT_EQ(doc.m_index.Capacity(), 8u);
}

// The parse must stay linear and iterative with a million elements, closed or not, nested as
// deep as the open-element cap allows.
TEST(XmlParse, MillionLevelsOfNesting) {
    const size_t kDepth = 1000000;
    const size_t kRun = 4000;  // levels opened at once, under kMaxOpenElements
    const size_t kRuns = kDepth / kRun;
    auto runs = [&](std::u16string_view open, std::u16string_view close) {
        return Repeat(Repeat(open, kRun) + Repeat(close, kRun), kRuns);
    };
    struct Case {
        const char* what;
        std::u16string text;
        bool wellFormed;
    } cases[] = {
        {"never closed", Repeat(u"<a>", kMaxOpenElements), false},
        {"closed", u"<r>" + runs(u"<a>", u"</a>") + u"</r>", true},
        {"closed as unended by an outer end tag",
         u"<r>" + Repeat(u"<g>" + Repeat(u"<a>", kRun) + u"</g>", kRuns) + u"</r>", false},
        {"lone end tags under deep nesting", Repeat(u"<a>", kRun) + Repeat(u"</b>", kDepth), false},
        {"outermost closes all",
         u"<r>" + Repeat(u"<g>" + Repeat(u"<a><b/>", kRun) + u"</g>", kRuns) + u"</r>", false},
    };
    for (Case& c : cases) {
        auto t0 = std::chrono::steady_clock::now();
        XmlDoc doc;
        EXPECT_EQ(Parse(doc, c.text), c.wellFormed) << c.what;
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_LT(seconds, 60.0) << c.what;  // quadratic would take hours
        EXPECT_LE(doc.m_strReport.size(), 1100u) << c.what;
        EXPECT_EQ(doc.m_strReport.find(u"nesting_too_deep"), std::u16string::npos) << c.what;
    }
    // Every unclosed level ends up a top-level sibling.
    XmlDoc doc;
    Parse(doc, cases[0].text);
    EXPECT_EQ(doc.m_nElemCount, kMaxOpenElements + 1);
    EXPECT_EQ(doc.m_index[doc.m_index[0].iFirstChild].iPrev, kMaxOpenElements);
    EXPECT_EQ(doc.m_index[kMaxOpenElements].iParent, 0u);
    // Runs of unended elements closed by an outer end tag become its children.
    Parse(doc, cases[2].text);
    const uint32_t last = kDepth + kRuns + 1;
    const uint32_t lastG = last - kRun;
    EXPECT_EQ(doc.m_nElemCount, last + 1);
    EXPECT_EQ(doc.m_index[last].iParent, lastG);
    EXPECT_EQ(doc.m_index[doc.m_index[lastG].iFirstChild].iPrev, last);
}

// Nesting deeper than kMaxOpenElements ends the parse: each open level costs memory, and a list
// near the body cap could open 22 million of them.
TEST(XmlParse, NestingIsCappedAtTheOpenElementLimit) {
    const size_t kCap = kMaxOpenElements;
    struct Case {
        const char* what;
        std::u16string text;
        bool wellFormed;
        std::u16string report;
    } cases[] = {
        {"at the cap", Repeat(u"<a>", kCap) + Repeat(u"</a>", kCap), true, u""},
        {"an empty element at the cap opens nothing",
         Repeat(u"<a>", kCap) + u"<b/>" + Repeat(u"</a>", kCap), true, u""},
        {"the cap again after closing",
         u"<r>" + Repeat(Repeat(u"<a>", kCap - 1) + Repeat(u"</a>", kCap - 1), 3) + u"</r>", true,
         u""},
        {"one over", Repeat(u"<a>", kCap + 1) + Repeat(u"</a>", kCap + 1), false,
         u"<nesting_too_deep offset=\"12288\"/>"},
        {"earlier findings stay",
         u"<r></x>" + Repeat(u"<a>", kCap) + Repeat(u"</a>", kCap) + u"</r>", false,
         u"<lone_end_tag tagname=\"x\" offset=\"3\"/><nesting_too_deep offset=\"12292\"/>"},
    };
    for (const Case& c : cases) {
        XmlDoc doc;
        EXPECT_EQ(Parse(doc, c.text), c.wellFormed) << c.what;
        EXPECT_EQ(U8(doc.m_strReport), U8(c.report)) << c.what;
        if (!c.wellFormed) {
            EXPECT_EQ(doc.m_nElemCount, 1u) << c.what;
        }
    }

    // 22 million open elements, the most a list under the body cap can hold, once took 2.5 GB.
    test::ChildOutcome outcome = test::RunLimited(512u << 20, 20, [] {
        const size_t kLevels = 22000000;
        XmlDoc doc;
        doc.m_strText.reserve(kLevels * 3 + 4);
        for (size_t i = 0; i < kLevels; ++i) doc.m_strText += u"<a>";
        doc.m_strText += u"</b>";
        if (ParseText(doc)) return 2;
        return doc.m_strReport == u"<nesting_too_deep offset=\"12288\"/>" ? 0 : 3;
    });
    EXPECT_EQ(outcome.signal, 0) << outcome.Describe();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.Describe();
}

// A flat list of more elements than any real list could hold ends the parse too: the index costs
// 32 bytes an element, so 16 million "<a/>" under the body cap once took 682 MiB.
TEST(XmlParse, ElementCountIsCapped) {
    const std::u16string atCap = u"<r>" + Repeat(u"<a/>", kMaxElements - 1) + u"</r>";
    XmlDoc doc;
    EXPECT_TRUE(Parse(doc, atCap));
    EXPECT_EQ(doc.m_nElemCount, kMaxElements + 1);  // with the document's own record
    const std::u16string over = u"<r>" + Repeat(u"<a/>", kMaxElements) + u"</r>";
    EXPECT_FALSE(Parse(doc, over));
    EXPECT_EQ(doc.m_nElemCount, 1u);
    EXPECT_EQ(U8(doc.m_strReport),
              "<too_many_elements offset=\"" + std::to_string(3 + 4 * (kMaxElements - 1)) + "\"/>");

    test::ChildOutcome outcome = test::RunLimited(512u << 20, 20, [] {
        XmlDoc flat;
        flat.m_strText = Repeat(u"<a/>", 16u << 20);  // 64 MiB of a list body
        return ParseText(flat) ? 2 : 0;
    });
    EXPECT_EQ(outcome.signal, 0) << outcome.Describe();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.Describe();
}

// End tags are matched against open names that go on with '=', '[' or ']' (any prefix that
// ends before one of them), also when the open elements are too many for the linear search.
TEST(XmlParse, EndTagsUnderDeepNestingOfOddNames) {
    // 40 open levels put the outer names past the linear search.
    const std::u16string deep = Repeat(u"<x>", 40);
    const std::u16string closeDeep = Repeat(u"</x>", 40);
    struct Case {
        const char* what;
        std::u16string text;
        bool wellFormed;
    } cases[] = {
        {"first part", u"<r=1[2]>" + deep + closeDeep + u"</r></r=1[2]>", false},
        {"whole name", u"<r=1[2]>" + deep + closeDeep + u"</r=1[2]>", true},
        {"prefix up to a later terminator", u"<r=1[2]>" + deep + closeDeep + u"</r=1[2>", true},
        {"prefix up to the first terminator", u"<r=1[2]>" + deep + closeDeep + u"</r>", true},
        {"not a prefix that ends at a terminator", u"<r=1[2]>" + deep + closeDeep + u"</r=1[>",
         false},
        {"innermost of equals closes first",
         u"<r>" + Repeat(u"<a=b>", 40) + Repeat(u"</a=b>", 40) + u"</r>", true},
        {"nested in its own name", u"<a>" + deep + u"<a></a>" + closeDeep + u"</a>", true},
    };
    for (const Case& c : cases) {
        XmlDoc doc;
        EXPECT_EQ(Parse(doc, c.text), c.wellFormed) << c.what << ": " << U8(doc.m_strReport);
    }
    // An end tag that matches only as a longer prefix closes that element and every one above.
    XmlDoc doc;
    EXPECT_FALSE(Parse(doc, u"<r><a=b=c>" + deep + u"</a=b></r>"));
    EXPECT_EQ(doc.m_index[2].EndTagLength(), 6u);
    EXPECT_TRUE(doc.m_index[3].nFlags & kPosUnended);
    EXPECT_FALSE(doc.m_index[1].nFlags & kPosUnended);
}

// Open names full of '=' once cost a hash key per '=' and took gigabytes; the same document
// must now parse within a fixed address space and a few seconds of CPU.
TEST(XmlParse, LongOddNamesStayWithinBounds) {
    test::ChildOutcome outcome = test::RunLimited(512u << 20, 20, [] {
        const size_t kLevels = 40;
        const size_t kEquals = 1000000;
        std::u16string text;
        text.reserve(kLevels * (kEquals + 16));
        for (size_t i = 0; i < kLevels; ++i) {
            text += u"<a";
            text.append(kEquals, u'=');
            text += u">";
        }
        // Lone odd end tags, then the real ones.
        for (size_t i = 0; i < kLevels; ++i) {
            text += u"</a";
            text.append(kEquals / 2, u'=');
            text += u"x>";
        }
        for (size_t i = 0; i < kLevels; ++i) text += u"</a>";
        XmlDoc doc;
        doc.m_strText = std::move(text);
        bool wellFormed = ParseText(doc);
        if (doc.m_nElemCount != kLevels + 1) return 2;
        if (doc.m_index[kLevels].EndTagLength() != 4) return 3;
        return wellFormed ? 4 : 0;  // the lone end tags are diagnostics
    });
    EXPECT_EQ(outcome.signal, 0) << outcome.Describe();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.Describe();
}

// A text node ends at the first '<' (before it) or '>' (after it), wherever that falls in the
// blocks the scanner compares at once.
TEST(XmlScan, TextEndsAtTheFirstStopInAnyPosition) {
    for (char16_t stop : {u'<', u'>'}) {
        for (size_t before = 0; before < 20; ++before) {
            std::u16string text;
            for (size_t k = 0; k < before; ++k) text += (k % 3 == 0) ? u'中' : u'x';
            text += stop;
            text += u"x>y<";
            NodeScanner scanner;
            scanner.pText = text.data();
            scanner.nTextLength = static_cast<int32_t>(text.size());
            ScannedNode node;
            int kind = ScanNode(scanner, node);
            if (before == 0 && stop == u'<') {
                EXPECT_EQ(kind, kNodeStartTag);  // "<x>" opens the text
                continue;
            }
            EXPECT_EQ(kind, kNodeText) << before;
            EXPECT_EQ(node.nLength, static_cast<int32_t>(before + (stop == u'>' ? 1 : 0)))
                << before << " " << static_cast<char>(stop);
        }
    }
}

// A parse that meets hundreds of scanner-level errors keeps its report within the cap too.
TEST(XmlParse, ReportCapHoldsForScannerErrors) {
    for (const char16_t* bad : {u"<1/>", u"<!x>", u"<![y>"}) {
        XmlDoc doc;
        EXPECT_FALSE(Parse(doc, u"<a>" + Repeat(bad, 500) + u"</a>"));
        EXPECT_LT(doc.m_strReport.size(), 1100u) << U8(bad);
        EXPECT_GE(doc.m_strReport.size(), 1000u) << U8(bad);
        EXPECT_TRUE(doc.m_index[1].nFlags & kPosDiagnostic);
        EXPECT_TRUE(doc.m_index[0].nFlags & kPosDocDiagnostic);
    }
}

// An element nested in one of its own name is well-formed; the inner one closes first.
TEST(XmlParse, SameNameNestingClosesInnermostFirst) {
    XmlDoc doc;
    ASSERT_TRUE(Parse(doc, u"<a><a></a></a>"));
    ASSERT_EQ(doc.m_nElemCount, 3u);
    EXPECT_EQ(doc.m_index[2].iParent, 1u);
    EXPECT_EQ(doc.m_index[2].nStart, 3);
    EXPECT_EQ(doc.m_index[2].nLength, 7);
    EXPECT_EQ(doc.m_index[1].nLength, 14);
    EXPECT_EQ(doc.m_index[1].iFirstChild, 2u);
    EXPECT_EQ(doc.m_strReport, u"");
}

TEST(XmlParse, IndexGrowsAcrossBlocks) {
    const size_t kCount = 200000;  // several 65,536-record blocks
    XmlDoc doc;
    ASSERT_TRUE(Parse(doc, u"<r>" + Repeat(u"<e/>", kCount) + u"</r>"));
    EXPECT_EQ(doc.m_nElemCount, kCount + 2);
    EXPECT_EQ(doc.m_index[kCount + 1].nStart, static_cast<int32_t>(3 + 4 * (kCount - 1)));

    ElementIndex index;
    ASSERT_TRUE(index.Reserve(10));
    for (uint32_t i = 0; i < 10; ++i) index[i].nStart = static_cast<int32_t>(i * 7);
    ASSERT_TRUE(index.Reserve(70000));
    index[69999].nStart = 5;
    ASSERT_TRUE(index.Reserve(140000));
    for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(index[i].nStart, static_cast<int32_t>(i * 7));
    EXPECT_EQ(index[69999].nStart, 5);
    EXPECT_EQ(index.Capacity(), 140000u);
}

TEST(XmlParse, IndexMemoryFailureFailsCleanly) {
    XmlDoc doc;
    doc.m_index.SetCapacityLimitForTest(100);
    EXPECT_FALSE(Parse(doc, u"<r>" + Repeat(u"<e/>", 1000) + u"</r>"));
    EXPECT_EQ(doc.m_nElemCount, 1u);
    EXPECT_EQ(doc.m_index[0].iFirstChild, 0u);
    EXPECT_NE(doc.m_strReport.find(u"<out_of_memory/>"), std::u16string::npos);
    // Within the limit the same document parses.
    EXPECT_TRUE(Parse(doc, u"<r>" + Repeat(u"<e/>", 50) + u"</r>"));
    ElementIndex index;
    index.SetCapacityLimitForTest(5);
    EXPECT_FALSE(index.Reserve(6));
    EXPECT_EQ(index.Capacity(), 0u);
}

TEST(XmlParse, OverlongStartTagIsADiagnostic) {
    std::u16string tag = u"<a x=\"" + std::u16string(kMaxStartTagLength, u'x') + u"\">";
    XmlDoc doc;
    EXPECT_FALSE(Parse(doc, u"<r>" + tag + u"</a></r>"));
    EXPECT_EQ(doc.m_nElemCount, 2u);  // r only
    EXPECT_NE(doc.m_strReport.find(u"<start_tag_too_long offset=\"3\"/>"), std::u16string::npos);
    EXPECT_NE(doc.m_strReport.find(u"<lone_end_tag tagname=\"a\""), std::u16string::npos);
}

// The scanner asks for more text through the document's hook when reading a file piecewise;
// fed in small pieces the parse must come out as over the whole text.
struct Feed {
    std::u16string rest;
    size_t pieceUnits;
};
Feed* g_feed = nullptr;

bool FeedMore(NodeScanner& scanner, ScannedNode&) {
    if (g_feed->rest.empty()) return false;
    size_t n = std::min(g_feed->pieceUnits, g_feed->rest.size());
    XmlDoc& doc = *scanner.pDoc;
    doc.m_strText.append(g_feed->rest, 0, n);
    g_feed->rest.erase(0, n);
    scanner.pText = doc.m_strText.data();
    scanner.nTextLength = static_cast<int32_t>(doc.m_strText.size());
    return true;
}

TEST(XmlParse, PiecewiseReadingHook) {
    const std::u16string text =
        u"<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY e 'x>'>]><list><File a='1>2'>"
        u"<save>n</save><!-- c --><![CDATA[x]]></File><File/></list>";
    XmlDoc whole;
    ASSERT_TRUE(Parse(whole, text));
    for (size_t piece : {1u, 2u, 7u, 64u}) {
        Feed feed{text, piece};
        g_feed = &feed;
        XmlDoc doc;
        doc.m_nOptions = kXmlReadPiecewise;
        doc.m_pFile = reinterpret_cast<XmlFile*>(&feed);  // only tested for null here
        doc.m_pfnMoreText = FeedMore;
        // An empty text is not scanned at all: the first piece is loaded up front.
        doc.m_strText = text.substr(0, 1);
        feed.rest = text.substr(1);
        EXPECT_TRUE(ParseText(doc)) << piece;
        EXPECT_EQ(doc.m_strText, text);
        EXPECT_EQ(doc.m_index[0].nLength, static_cast<int32_t>(text.size()));
        ASSERT_EQ(doc.m_nElemCount, whole.m_nElemCount) << piece;
        for (uint32_t i = 1; i < doc.m_nElemCount; ++i) {
            EXPECT_EQ(doc.m_index[i].nStart, whole.m_index[i].nStart) << piece;
            EXPECT_EQ(doc.m_index[i].nLength, whole.m_index[i].nLength) << piece;
            EXPECT_EQ(doc.m_index[i].iParent, whole.m_index[i].iParent) << piece;
        }
        g_feed = nullptr;
    }
}

}  // namespace
}  // namespace tovarek
