#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/code_page.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"
#include "xml/element_index.h"
#include "xml/xml_doc.h"
#include "xml/xml_file.h"

namespace tovarek {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string Utf8(std::u16string_view text) {
    return Utf16ToUtf8(text);
}

std::string Encode(std::u16string_view text, int codePage) {
    std::string out;
    EXPECT_TRUE(Utf16ToCodePage(codePage, text, out));
    return out;
}

class AnsiCodePageScope {
public:
    explicit AnsiCodePageScope(int codePage) { m_env.codePage = codePage; }

private:
    test::ScopedTestEnv m_env;
};

struct Loaded {
    bool ok;
    std::u16string text;
    std::u16string report;
    uint32_t options;
};

Loaded Load(const std::string& path, uint32_t options = 0) {
    Loaded l;
    l.options = options;
    l.ok = LoadFile(l.text, path, l.report, l.options);
    return l;
}

TEST(LoadFileTest, MarksDeclarationsAndDetection) {
    AnsiCodePageScope ansi(kCodePageGbk);
    TempDir dir;
    const std::u16string gbDecl = u"<?xml version=\"1.0\" encoding=\"gb2312\"?><a>中文</a>";
    struct Case {
        const char* what;
        std::string bytes;
        std::u16string text;
        std::u16string report;
        uint32_t options;
    } cases[] = {
        {"utf-8 mark", "\xEF\xBB\xBF<a>\xE4\xB8\xAD</a>", u"<a>中</a>",
         u"<bom/><read encoding=\"UTF-8\" length=\"10\"/>"
         u"<converted_to encoding=\"UTF-16\" length=\"8\"/>",
         kFileUtf8Bom},
        {"utf-16le mark", std::string("\xFF\xFE<\0a\0/\0>\0", 10), u"<a/>",
         u"<bom/><read encoding=\"UTF-16LE\" length=\"4\"/>", kFileUtf16LeBom},
        {"utf-16be mark", std::string("\xFE\xFF\0<\0a\0/\0>\x4E\x2D", 12), u"<a/>中",
         u"<bom/><read encoding=\"UTF-16BE\" length=\"5\"/><endian_swap/>", kFileUtf16BeBom},
        {"declared gb2312", Encode(gbDecl, 936), gbDecl,
         u"<read encoding=\"gb2312\" length=\"50\"/>"
         u"<converted_to encoding=\"UTF-16\" length=\"48\"/>",
         0},
        {"undeclared, starts with <", "<a>\xC3\xA9</a>", u"<a>é</a>",
         u"<read encoding=\"UTF-8\" length=\"9\"/><converted_to encoding=\"UTF-16\" length=\"8\"/>",
         0},
        {"undeclared, not utf-8", Encode(u"中文内容 <a/>", 936), u"中文内容 <a/>",
         u"<read encoding=\"\" length=\"13\"/><utf8_detection/>"
         u"<converted_to encoding=\"UTF-16\" length=\"9\"/>",
         0},
        {"undeclared utf-8 text", "x \xE4\xB8\xAD", u"x 中",
         u"<read encoding=\"UTF-8\" length=\"5\"/><utf8_detection/>"
         u"<converted_to encoding=\"UTF-16\" length=\"3\"/>",
         0},
        {"zero bytes", std::string("<a>\0b\0</a>", 10), u"<a>b</a>",
         u"<read encoding=\"UTF-8\" length=\"10\"/><nulls_removed count=\"2\"/>"
         u"<converted_to encoding=\"UTF-16\" length=\"8\"/>",
         0},
        {"zero units", std::string("\xFF\xFE<\0\0\0a\0", 8), u"<a",
         u"<bom/><read encoding=\"UTF-16LE\" length=\"3\"/><nulls_removed count=\"1\"/>",
         kFileUtf16LeBom},
        // Zero units are counted right behind "read", before what is done to the rest.
        {"zero bytes in undeclared 936 text", std::string("x\0\xD6\xD0 <a/>", 9), u"x中 <a/>",
         u"<read encoding=\"\" length=\"9\"/><nulls_removed count=\"1\"/><utf8_detection/>"
         u"<converted_to encoding=\"UTF-16\" length=\"7\"/>",
         0},
        {"zero units, big-endian", std::string("\xFE\xFF\0<\0\0\0a", 8), u"<a",
         u"<bom/><read encoding=\"UTF-16BE\" length=\"3\"/><nulls_removed count=\"1\"/>"
         u"<endian_swap/>",
         kFileUtf16BeBom},
        {"empty", "", u"", u"<read encoding=\"\" length=\"0\"/>", 0},
        {"utf-16 of odd length", std::string("\xFF\xFE<\0a\0>", 7), u"<a\uFFFD",
         u"<bom/><read encoding=\"UTF-16LE\" length=\"2\"/>"
         u"<truncation_error encoding=\"UTF-16LE\"/>",
         kFileUtf16LeBom},
        {"invalid utf-8 after <", "<a>\xFF</a>", u"<a>\uFFFD</a>",
         u"<read encoding=\"UTF-8\" length=\"8\"/><converted_to encoding=\"UTF-16\" length=\"8\"/>"
         u"<conversion_loss/>",
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.File("f.xml");
        WriteFile(path, c.bytes);
        // A stale big-endian bit from an earlier document must not decide this file.
        Loaded l = Load(path, kXmlIgnoreCase | kFileUtf16BeBom);
        EXPECT_TRUE(l.ok);
        EXPECT_EQ(Utf8(l.text), Utf8(c.text));
        EXPECT_EQ(Utf8(l.report), Utf8(c.report));
        EXPECT_EQ(l.options, kXmlIgnoreCase | c.options);
    }
}

TEST(LoadFileTest, FailuresLeaveTheTextEmpty) {
    TempDir dir;
    Loaded missing = Load(dir.File("missing.xml"));
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(Utf8(missing.report), "<file_error msg=\"No such file or directory\" n=\"2\"/>");

    Loaded directory = Load(dir.path());
    EXPECT_FALSE(directory.ok);
    EXPECT_EQ(Utf8(directory.report), "<file_error msg=\"Is a directory\" n=\"21\"/>");
    EXPECT_TRUE(directory.text.empty());

    // A FIFO without a writer would block a read for ever: refused at once.
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    Loaded fifo = Load(dir.File("fifo"));
    EXPECT_FALSE(fifo.ok);
    EXPECT_EQ(Utf8(fifo.report), "<file_error msg=\"Invalid argument\" n=\"22\"/>");

    // Bigger than the 32-bit fields: refused, not cut. The file is sparse.
    const std::string huge = dir.File("huge.xml");
    int fd = open(huge.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 0x80000000LL), 0);
    close(fd);
    Loaded big = Load(huge);
    EXPECT_FALSE(big.ok);
    EXPECT_EQ(Utf8(big.report), "<file_error msg=\"File too large\" n=\"27\"/>");

    // An encoding without a converter here converts nothing and says so.
    WriteFile(dir.File("thai.xml"), "<?xml version=\"1.0\" encoding=\"x-mac-thai\"?><a/>");
    Loaded thai = Load(dir.File("thai.xml"));
    EXPECT_FALSE(thai.ok);
    EXPECT_TRUE(thai.text.empty());
    EXPECT_NE(thai.report.find(u"<unsupported_encoding encoding=\"x-mac-thai\"/>"),
              std::u16string::npos);
}

// Large files are converted in blocks: characters and zero bytes at the block borders must come
// out as if the file had been converted at once.
TEST(LoadFileTest, LargeFilesConvertAcrossBlockBorders) {
    TempDir dir;
    for (int codePage : {936, 54936, 65001}) {
        SCOPED_TRACE(codePage);
        std::u16string body;
        for (int i = 0; body.size() < 1500000; ++i) body += u"中文内容 x\u00E9 ";
        const std::u16string text = u"<?xml version=\"1.0\" encoding=\"" +
                                    std::u16string(codePage == 936     ? u"gbk"
                                                   : codePage == 54936 ? u"gb18030"
                                                                       : u"utf-8") +
                                    u"\"?><a>" + body + u"</a>";
        std::string bytes = Encode(text, codePage);
        // Zero bytes right at and around the first block border, and one lone lead byte.
        for (size_t at : {(1u << 20) - 1, 1u << 20, (1u << 20) + 1, 2000001u}) {
            bytes.insert(at, 1, '\0');
        }
        std::string withoutZeros = bytes;
        std::erase(withoutZeros, '\0');
        withoutZeros += '\x81';
        bytes += '\x81';
        std::u16string expected;
        CodePageToUtf16(codePage, withoutZeros, expected);
        WriteFile(dir.File("big.xml"), bytes);
        Loaded l = Load(dir.File("big.xml"));
        EXPECT_TRUE(l.ok);
        EXPECT_TRUE(l.text == expected);
        EXPECT_EQ(l.text.back(), u'\uFFFD');
        EXPECT_NE(l.report.find(u"<nulls_removed count=\"4\"/>"), std::u16string::npos);
        EXPECT_NE(l.report.find(u"<conversion_loss/>"), std::u16string::npos);
    }
}

TEST(LoadFileTest, DeclaredUtf16WithoutMarkIsReadAsTheBytesItIs) {
    TempDir dir;
    WriteFile(dir.File("f.xml"), "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\xC3\xA9</a>");
    Loaded l = Load(dir.File("f.xml"));
    EXPECT_TRUE(l.ok);
    EXPECT_EQ(Utf8(l.text), "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\xC3\xA9</a>");
}

struct RoundTrip {
    const char* what;
    int codePage;  // 0: one of the marks
    uint32_t options;
    std::u16string text;
};

std::u16string Declared(const char16_t* encoding, std::u16string_view body) {
    return u"<?xml version=\"1.0\" encoding=\"" + std::u16string(encoding) + u"\"?>\r\n" +
           std::u16string(body);
}

std::vector<RoundTrip> RoundTrips() {
    const std::u16string cjk = u"<list><File name=\"中文 漢字\">内容 &amp; 😀</File></list>";
    return {
        {"utf-8 mark", 0, kFileUtf8Bom, Declared(u"UTF-8", cjk)},
        {"utf-16le mark", 0, kFileUtf16LeBom, Declared(u"UTF-16", cjk)},
        {"utf-16be mark", 0, kFileUtf16BeBom, Declared(u"UTF-16", cjk)},
        {"gbk", 936, 0, Declared(u"GBK", u"<a x=\"中文\">简体中文内容</a>")},
        {"gb18030", 54936, 0, Declared(u"GB18030", u"<a>中文 😀 € \u00E9</a>")},
        {"big5", 950, 0, Declared(u"Big5", u"<a>繁體中文內容</a>")},
        {"shift_jis", 932, 0, Declared(u"Shift_JIS", u"<a>かな カナ 漢字 ｶﾅ</a>")},
        {"koi8-r", 20866, 0, Declared(u"KOI8-R", u"<a>Привет, мир</a>")},
        {"windows-1252", 1252, 0, Declared(u"windows-1252", u"<a>café € “quoted”</a>")},
    };
}

TEST(SaveFileTest, RoundTripsInEveryEncoding) {
    TempDir dir;
    for (const RoundTrip& r : RoundTrips()) {
        SCOPED_TRACE(r.what);
        const std::string path = dir.File("out.xml");
        std::u16string report;
        ASSERT_TRUE(SaveFile(r.text, path, report, r.options | kXmlIgnoreCase));
        EXPECT_EQ(report.find(u"conversion_loss"), std::u16string::npos);
        const std::string bytes = ReadFile(path);
        std::string expected;
        if (r.options == kFileUtf8Bom) expected = "\xEF\xBB\xBF" + Encode(r.text, 65001);
        if (r.options == kFileUtf16LeBom) expected = "\xFF\xFE" + Encode(r.text, 1200);
        if (r.options == kFileUtf16BeBom) expected = "\xFE\xFF" + Encode(r.text, 1201);
        if (r.codePage) expected = Encode(r.text, r.codePage);
        EXPECT_EQ(bytes, expected);

        Loaded l = Load(path);
        EXPECT_TRUE(l.ok);
        EXPECT_EQ(Utf8(l.text), Utf8(r.text));
        EXPECT_EQ(l.options, r.options);
        EXPECT_EQ(l.report.find(u"conversion_loss"), std::u16string::npos);
    }
}

TEST(WriteTextTest, PiecesLossesAndAppending) {
    TempDir dir;
    const std::string path = dir.File("w.xml");
    {
        XmlFile file;
        file.m_nFlags = kFileWrite;
        ASSERT_TRUE(OpenFile(file, path));
        EXPECT_TRUE(file.m_strReport.empty());
        std::u16string text = Declared(u"gbk", u"<a>中😀</a>");
        const size_t declLength = text.find(u"<a>");
        // The first write chooses the encoding from the declaration and removes what it wrote.
        ASSERT_TRUE(WriteText(file, text, static_cast<long long>(declLength)));
        EXPECT_EQ(Utf8(text), "<a>中😀</a>");
        EXPECT_EQ(file.m_strEncoding, u"gbk");
        ASSERT_TRUE(WriteText(file, text));
        EXPECT_TRUE(text.empty());
        EXPECT_EQ(Utf8(file.m_strReport),
                  "<converted_from encoding=\"UTF-16\" length=\"10\"/><conversion_loss/>"
                  "<write encoding=\"gbk\" length=\"10\"/>");
        ASSERT_TRUE(WriteText(file, text, 0));
        EXPECT_EQ(Utf8(file.m_strReport), "<write encoding=\"gbk\" length=\"0\"/>");
        EXPECT_TRUE(CloseFile(file));
    }
    std::string bytes = ReadFile(path);
    EXPECT_EQ(bytes.substr(bytes.find("<a>")), "<a>\xD6\xD0?</a>");

    // Appending: the mark goes only into an empty file.
    const std::string log = dir.File("log.xml");
    for (int round = 0; round < 2; ++round) {
        XmlFile file;
        file.m_nFlags = kFileWrite | kFileAppend | kFileUtf16LeBom;
        ASSERT_TRUE(OpenFile(file, log));
        EXPECT_EQ(file.m_strReport, round == 0 ? u"<bom/>" : u"");
        std::u16string text = u"<e/>";
        ASSERT_TRUE(WriteText(file, text));
        EXPECT_TRUE(CloseFile(file));
    }
    EXPECT_EQ(ReadFile(log), std::string("\xFF\xFE<\0e\0/\0>\0<\0e\0/\0>\0", 18));

    // Writing to a stream that is not open for writing is an error, not a silent no-op.
    XmlFile closed;
    std::u16string text = u"<a/>";
    EXPECT_FALSE(WriteText(closed, text));
    EXPECT_NE(closed.m_strReport.find(u"file_error"), std::u16string::npos);
    EXPECT_EQ(text, u"<a/>");
}

// Reads a file in pieces of `pieceBytes` and returns the text joined from the pieces.
std::u16string ReadInPieces(const std::string& path, uint32_t pieceBytes, std::u16string& reports) {
    XmlFile file;
    file.m_nFlags = kFileRead;
    EXPECT_TRUE(OpenFile(file, path));
    file.m_nPieceSize = pieceBytes;
    std::u16string all, piece;
    while (file.m_nPosition < file.m_nFileSize) {
        const uint32_t before = file.m_nPosition;
        EXPECT_TRUE(ReadText(file, piece));
        reports += file.m_strReport;
        EXPECT_GT(file.m_nPosition, before);
        if (file.m_nPosition <= before) break;
        all += piece;
    }
    CloseFile(file);
    return all;
}

std::u16string LongDocument(std::u16string_view body) {
    std::u16string text = u"<list>\r\n";
    for (int i = 0; i < 12; ++i) {
        text += u"  <File id=\"" + std::u16string(1, static_cast<char16_t>(u'a' + i)) + u"\">";
        text += body;
        text += u"<!-- note --><![CDATA[<raw>]]></File>\r\n";
    }
    // A few findings so that the diagnostics are compared too.
    text += u"<open><inner></open></stray><unterminated";
    return text;
}

void ExpectSameParse(const XmlDoc& whole, const XmlDoc& pieces) {
    ASSERT_EQ(Utf8(pieces.m_strText), Utf8(whole.m_strText));
    EXPECT_EQ(Utf8(pieces.m_strReport), Utf8(whole.m_strReport));
    ASSERT_EQ(pieces.m_nElemCount, whole.m_nElemCount);
    for (uint32_t i = 0; i < whole.m_nElemCount; ++i) {
        const ElementPos& a = whole.m_index[i];
        const ElementPos& b = pieces.m_index[i];
        EXPECT_TRUE(a.nStart == b.nStart && a.nLength == b.nLength &&
                    a.nTagLengths == b.nTagLengths && a.nFlags == b.nFlags &&
                    a.iParent == b.iParent && a.iFirstChild == b.iFirstChild &&
                    a.iNext == b.iNext && a.iPrev == b.iPrev)
            << "record " << i;
    }
    EXPECT_EQ(IsWellFormed(pieces), IsWellFormed(whole));
}

TEST(PiecewiseReadingTest, SameTextAndParseAsWholeFileAtEveryPieceSize) {
    TempDir dir;
    // Longer documents than the round trips, so that small pieces cut everywhere.
    const std::pair<const char16_t*, std::u16string> bodies[] = {
        {u"UTF-8", u"中文 漢字 😀 é"},         {u"UTF-16", u"中文 漢字 😀 é"},
        {u"UTF-16", u"中文 漢字 😀 é"},        {u"GBK", u"简体中文内容"},
        {u"GB18030", u"中文 😀 € é"},          {u"Big5", u"繁體中文內容"},
        {u"Shift_JIS", u"かな カナ 漢字 ｶﾅ"}, {u"KOI8-R", u"Привет, мир"},
        {u"windows-1252", u"café € “q”"},
    };
    std::vector<RoundTrip> trips = RoundTrips();
    for (size_t i = 0; i < trips.size(); ++i) {
        const RoundTrip& r = trips[i];
        SCOPED_TRACE(r.what);
        const std::u16string text = Declared(bodies[i].first, LongDocument(bodies[i].second));
        const std::string path = dir.File("p.xml");
        std::u16string report;
        ASSERT_TRUE(SaveFile(text, path, report, r.options));

        XmlDoc whole;
        uint32_t options = 0;
        ASSERT_TRUE(LoadFile(whole.m_strText, path, report, options));
        ASSERT_EQ(Utf8(whole.m_strText), Utf8(text));
        whole.m_strReport.clear();
        ParseText(whole);

        for (uint32_t piece : {16u, 17u, 31u, 64u, 1000u}) {
            SCOPED_TRACE(piece);
            std::u16string reports;
            EXPECT_EQ(Utf8(ReadInPieces(path, piece, reports)), Utf8(text));
            EXPECT_EQ(reports.find(u"truncation_error"), std::u16string::npos);
            EXPECT_EQ(reports.find(u"conversion_loss"), std::u16string::npos);

            XmlDoc doc;
            std::u16string fileReport;
            ASSERT_TRUE(ParseFilePiecewise(doc, path, fileReport, piece));
            EXPECT_EQ(doc.m_nOptions, r.options);
            ExpectSameParse(whole, doc);
        }
    }
}

TEST(PiecewiseReadingTest, ZeroBytesAndUndeclaredTextAcrossPieces) {
    TempDir dir;
    std::string bytes = "x" + Encode(LongDocument(u"é中"), 65001);
    // Zero bytes, a few in a row, inside and between characters.
    for (size_t at : {5u, 40u, 41u, 42u, 100u, 333u}) bytes.insert(at, 1, '\0');
    const std::string path = dir.File("z.xml");
    WriteFile(path, bytes);
    XmlDoc whole;
    std::u16string report;
    uint32_t options = 0;
    ASSERT_TRUE(LoadFile(whole.m_strText, path, report, options));
    EXPECT_NE(report.find(u"<nulls_removed count=\"6\"/>"), std::u16string::npos);
    ParseText(whole);
    for (uint32_t piece : {16u, 19u, 64u}) {
        SCOPED_TRACE(piece);
        std::u16string reports;
        EXPECT_EQ(Utf8(ReadInPieces(path, piece, reports)), Utf8(whole.m_strText));
        XmlDoc doc;
        std::u16string fileReport;
        ASSERT_TRUE(ParseFilePiecewise(doc, path, fileReport, piece));
        ExpectSameParse(whole, doc);
    }
}

TEST(PiecewiseReadingTest, FailuresEmptyTheDocument) {
    TempDir dir;
    XmlDoc doc;
    std::u16string fileReport;
    EXPECT_FALSE(ParseFilePiecewise(doc, dir.File("none.xml"), fileReport));
    EXPECT_NE(fileReport.find(u"file_error"), std::u16string::npos);
    EXPECT_TRUE(doc.m_strText.empty());
    EXPECT_EQ(doc.m_nOptions & kXmlReadPiecewise, 0u);
    EXPECT_EQ(doc.m_pFile, nullptr);

    WriteFile(dir.File("empty.xml"), "");
    EXPECT_TRUE(ParseFilePiecewise(doc, dir.File("empty.xml"), fileReport));
    EXPECT_TRUE(doc.m_strText.empty());
    EXPECT_FALSE(IsWellFormed(doc));
}

}  // namespace
}  // namespace tovarek
