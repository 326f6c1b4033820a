#include "update/list_fetch.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>

#include "tests/update/http_test_server.h"

namespace tovarek {
namespace {

using test::CannedResponse;
using test::HttpTestServer;

// "中文" in the two encodings a list arrives in.
const std::string kZhUtf8 = "\xE4\xB8\xAD\xE6\x96\x87";
const std::string kZhGbk = "\xD6\xD0\xCE\xC4";

TEST(IsUtf8Text, LeadByteRule) {
    struct Case {
        const char* what;
        std::string bytes;
        bool utf8;
    } cases[] = {
        {"empty", "", true},
        {"ascii", "<list/>", true},
        {"zero byte is walked over", std::string("a\0\xC3\xA9", 4), true},
        {"zero byte before a bad byte", std::string("a\0\x80", 3), false},
        {"two-byte", "caf\xC3\xA9", true},
        {"three-byte", kZhUtf8, true},
        {"stray continuation", "a\x80", false},
        {"two-byte lead without continuation",
         "\xC3"
         "A",
         false},
        {"three-byte lead, second continuation missing",
         "\xE4\xB8"
         "A",
         false},
        {"two-byte lead cut off at the end", "ab\xC3", true},
        {"three-byte lead cut off after one byte", "ab\xE4\xB8", true},
        {"three-byte lead cut off at once", "ab\xE4", true},
        {"four-byte sequence", "\xF0\x9F\x98\x80", true},
        {"four-byte sequence in Chinese text", "\xF0\xA0\x80\x80" + kZhUtf8, true},
        {"four-byte lead, third continuation missing",
         "\xF0\x9F\x98"
         "A",
         false},
        {"four-byte lead cut off at the end", "ab\xF0\x9F\x98", true},
        {"lead above U+10FFFF", "\xF5\x80\x80\x80", false},
        {"lead 0xFF", "a\xFF", false},
        {"GBK text", kZhGbk, false},
        {"over-long form passes", "\xC0\x80", true},
        {"encoded surrogate passes", "\xED\xA0\x80", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsUtf8Text(c.bytes.data(), c.bytes.size()), c.utf8) << c.what;
    }
}

TEST(ListConversions, GbkRoundTripAndZeroBytes) {
    EXPECT_EQ(WideToGbk(Utf8ToWide(kZhUtf8)), kZhGbk);
    EXPECT_EQ(GbkToWide(kZhGbk), u"中文");
    // What 936 cannot hold becomes '?', and the text goes on behind it.
    EXPECT_EQ(WideToGbk(u"a\u0E01b"), "a?b");
    // Both directions end at the first zero, as the zero-terminated originals did.
    EXPECT_EQ(Utf8ToWide(std::string("ab\0cd", 5)), u"ab");
    EXPECT_EQ(GbkToWide(std::string("ab\0cd", 5)), u"ab");
    EXPECT_EQ(WideToGbk(std::u16string(u"ab\0cd", 5)), "ab");
    // Invalid input is replaced, not dropped and not a failure.
    EXPECT_EQ(Utf8ToWide("a\xC0\x80z"), u"a\uFFFD\uFFFDz");
}

TEST(WriteToString, AppendsAndRefusesWhatPassesTheLimit) {
    std::string body = "ab";
    char data[] = "cdef";
    EXPECT_EQ(WriteToString(data, 2, 2, &body), 4u);
    EXPECT_EQ(body, "abcdef");
    // The size check comes before any byte is read, so the short buffer is never overrun.
    EXPECT_EQ(WriteToString(data, 1, kMaxListBytes, &body), 0u);
    EXPECT_TRUE(body.empty());
}

// A body that fills the cap in libcurl-sized pieces never reserves past it (doubling would reach
// twice the cap), and the last byte the cap allows still fits.
TEST(WriteToString, GrowsNoFurtherThanTheCap) {
    std::string body;
    std::string piece(16384, 'x');
    // The piece that arrives with the head can have any size.
    ASSERT_EQ(WriteToString(piece.data(), 1, 1000, &body), 1000u);
    while (body.size() + piece.size() < kMaxListBytes) {
        ASSERT_EQ(WriteToString(piece.data(), 1, piece.size(), &body), piece.size());
    }
    size_t rest = kMaxListBytes - body.size();
    EXPECT_EQ(WriteToString(piece.data(), 1, rest, &body), rest);
    EXPECT_EQ(body.size(), kMaxListBytes);
    EXPECT_EQ(body.capacity(), kMaxListBytes);
}

class FetchTest : public ::testing::Test {
protected:
    void SetUp() override {
        curl_global_init(CURL_GLOBAL_ALL);
        m_transfer.pHandle = curl_easy_init();
        ASSERT_NE(m_transfer.pHandle, nullptr);
        m_transfer.limits.connectTimeoutSeconds = 3;
        m_transfer.limits.lowSpeedTimeSeconds = 1;
    }
    void TearDown() override { curl_easy_cleanup(static_cast<CURL*>(m_transfer.pHandle)); }

    ListTransfer m_transfer;
};

TEST_F(FetchTest, AnswersOfTheServer) {
    const std::string doc = "<list><File><save>" + kZhUtf8 + "</save></File></list>";
    const std::string emoji = "<list>\xF0\x9F\x98\x80" + kZhUtf8 + "</list>";
    struct Case {
        const char* path;
        CannedResponse response;
        std::string expected;  // empty: the fetch fails
        long status;
    } cases[] = {
        {"/utf8", {200, "text/xml", doc}, WideToGbk(Utf8ToWide(doc)), 200},
        {"/gbk",
         {200, "text/xml", "<list>" + kZhGbk + "</list>"},
         "<list>" + kZhGbk + "</list>",
         200},
        {"/ascii", {200, "text/xml", "<list/>"}, "<list/>", 200},
        {"/empty", {200, "text/xml", ""}, "", 200},
        {"/error-page", {404, "text/html", "<html>not here</html>"}, "", 404},
        {"/server-error", {500, "text/xml", "<list/>"}, "", 500},
        // The connection closes before the announced length: a cut-off list is no list.
        {"/cut-off", {200, "text/xml", "<list><File>", false, 4096}, "", 200},
        // UTF-8 up to the zero: converted, and the conversion ends at the zero.
        {"/zero", {200, "text/xml", std::string("<a>x</a>\0<b/>", 13)}, "<a>x</a>", 200},
        // A four-byte sequence does not make the body 936: the Chinese text comes through and
        // only the emoji, which 936 cannot hold, becomes '?'.
        {"/four-byte", {200, "text/xml", emoji}, "<list>?" + kZhGbk + "</list>", 200},
        // Only 200 is a list: not a redirect (never followed) and not part of one.
        {"/redirect", {302, "text/xml", doc, false, -1, "Location: /utf8\r\n"}, "", 302},
        {"/partial", {206, "text/xml", doc, false, -1, "Content-Range: bytes 0-9/99\r\n"}, "", 206},
    };
    HttpTestServer server;
    for (const Case& c : cases) server.Add(c.path, c.response);
    ASSERT_TRUE(server.Start()) << server.error();
    for (const Case& c : cases) {
        std::string text = FetchListText(m_transfer, server.Url(c.path));
        EXPECT_EQ(text, c.expected) << c.path;
        EXPECT_EQ(m_transfer.nResponseCode, c.status) << c.path;
        EXPECT_EQ(m_transfer.strUrl, server.Url(c.path));
        EXPECT_EQ(server.Hits(c.path), 1) << c.path;
    }
}

// A hostile server is bounded by size, by total time and by protocol, not only by speed.
TEST_F(FetchTest, HostileAnswersAreCutShort) {
    EXPECT_EQ(TransferLimits{}.totalTimeoutSeconds, 300);
    HttpTestServer server;
    CannedResponse huge{200, "text/xml", "<list/>"};
    huge.declaredLength = static_cast<long long>(kMaxListBytes) + 1;
    server.Add("/huge", huge);
    CannedResponse drip{200, "text/xml", "<list/>"};
    drip.dripMs = 100;  // ten bytes a second: above the speed floor, never done
    server.Add("/drip", drip);
    ASSERT_TRUE(server.Start()) << server.error();

    // Refused on its announced length, before a body byte is read.
    EXPECT_EQ(FetchListText(m_transfer, server.Url("/huge")), "");
    EXPECT_EQ(m_transfer.nCurlCode, CURLE_FILESIZE_EXCEEDED);

    m_transfer.limits.totalTimeoutSeconds = 2;
    EXPECT_EQ(FetchListText(m_transfer, server.Url("/drip")), "");
    EXPECT_EQ(m_transfer.nCurlCode, CURLE_OPERATION_TIMEDOUT);
    EXPECT_TRUE(m_transfer.strBody.empty());

    // Only http and https: a local file is never read as the list.
    EXPECT_EQ(FetchListText(m_transfer, "file:///proc/self/status"), "");
    EXPECT_EQ(m_transfer.nCurlCode, CURLE_UNSUPPORTED_PROTOCOL);
}

TEST_F(FetchTest, DeadServersEndTheTransferInBoundedTime) {
    HttpTestServer server;
    server.Add("/silent", CannedResponse{200, "text/xml", "", true});
    ASSERT_TRUE(server.Start()) << server.error();

    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(FetchListText(m_transfer, server.Url("/silent")), "");
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(server.Hits("/silent"), 1);
    EXPECT_LT(waited, std::chrono::seconds(10));

    int port = test::UnusedLoopbackPort();
    ASSERT_NE(port, 0);
    std::string refused =
        "http://127.0.0.1:" + std::to_string(port) + "/ravlin/list/curdaylist.xml";
    EXPECT_EQ(FetchListText(m_transfer, refused), "");
    EXPECT_EQ(m_transfer.nResponseCode, 0);
}

TEST_F(FetchTest, StopFlagAbortsATransfer) {
    HttpTestServer server;
    server.Add("/silent", CannedResponse{200, "text/xml", "", true});
    ASSERT_TRUE(server.Start()) << server.error();
    std::atomic<bool> stop{true};
    m_transfer.pStop = &stop;
    m_transfer.limits.lowSpeedTimeSeconds = 60;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(FetchListText(m_transfer, server.Url("/silent")), "");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

TEST_F(FetchTest, MissingHandleFailsWithoutATransfer) {
    curl_easy_cleanup(static_cast<CURL*>(m_transfer.pHandle));
    m_transfer.pHandle = nullptr;
    EXPECT_EQ(FetchListText(m_transfer, "http://127.0.0.1:1/"), "");
}

}  // namespace
}  // namespace tovarek
