#include "update/down_control_thread.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "store/core_state.h"
#include "store/database.h"
#include "store/list_state.h"
#include "tests/store/store_fixture.h"
#include "tests/support/limited_child.h"
#include "tests/support/list_signing.h"
#include "tests/update/http_test_server.h"
#include "update/list_import.h"

namespace tovarek {
namespace {

using test::CannedResponse;
using test::HttpTestServer;
using namespace std::chrono_literals;

// The window side: collects the posted results.
class RecordingSink : public MessageSink {
public:
    void PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override {
        m_queue.Post(Message{message, wParam, lParam});
    }
    // The next message, or message 0 when none comes within `wait`.
    Message Next(std::chrono::milliseconds wait = 20s) {
        auto deadline = std::chrono::steady_clock::now() + wait;
        Message m;
        while (!m_queue.TryGet(m)) {
            if (std::chrono::steady_clock::now() > deadline) return Message{};
            std::this_thread::sleep_for(5ms);
        }
        return m;
    }

private:
    MessageQueue m_queue;
};

// One whole cycle of a fresh worker against `url`, started as the window starts it: the wParam
// of its WM_LIST_DOWNLOAD_DONE, or -1 when the worker did not start or did not answer in time.
long RunCycle(CoreState& app, const std::string& url, ListCycleReport* report = nullptr) {
    RecordingSink sink;
    DownControlThread worker(app);
    worker.m_strListUrl = url;
    worker.m_hNotifyWnd.store(&sink);
    if (!worker.CreateThread()) return -1;
    worker.PostThreadMessage(WM_LIST_DOWNLOAD);
    Message m = sink.Next(60s);
    if (report) *report = worker.LastReport();
    return m.message == WM_LIST_DOWNLOAD_DONE ? static_cast<long>(m.wParam) : -1;
}

// Serves `response` at `path` and its signature by the build's key beside it.
void AddSigned(HttpTestServer& server, const std::string& path, const CannedResponse& response,
               uint64_t serial = 1) {
    server.Add(path, response);
    const std::string signature = test::SignListBytes(response.body, test::ListComment(serial));
    ASSERT_FALSE(signature.empty());
    server.Add(path + ".minisig", CannedResponse{200, "text/plain", signature});
}

// Stands in for the import where only the handed-over text matters.
std::mutex g_importMutex;
std::vector<std::u16string> g_imported;

int RecordImport(CoreState&, int mode, std::u16string text, ImportOutcome*,
                 const std::atomic<bool>*) {
    std::lock_guard<std::mutex> lock(g_importMutex);
    EXPECT_EQ(mode, kImportText);
    g_imported.push_back(std::move(text));
    return 0;
}

std::vector<std::u16string> TakeImported() {
    std::lock_guard<std::mutex> lock(g_importMutex);
    std::vector<std::u16string> out;
    out.swap(g_imported);
    return out;
}

class WorkerTest : public test::StoreTest {
protected:
    void SetUp() override {
        test::StoreTest::SetUp();
        if (!test::BuildKeyTrusted()) GTEST_SKIP() << "this build trusts other list keys";
        TakeImported();
        ASSERT_TRUE(m_server.Start()) << m_server.error();
    }
    // A worker on `path` of the test server with short bounds.
    std::unique_ptr<DownControlThread> MakeWorker(const std::string& path, bool fakeImport = true) {
        auto worker = std::make_unique<DownControlThread>(m_app);
        worker->m_strListUrl = m_server.Url(path);
        worker->m_limits.connectTimeoutSeconds = 3;
        worker->m_limits.lowSpeedTimeSeconds = 1;
        if (fakeImport) worker->m_pImport = RecordImport;
        worker->m_hNotifyWnd.store(&m_sink);
        EXPECT_TRUE(worker->CreateThread());
        return worker;
    }

    CoreState m_app;
    HttpTestServer m_server;
    RecordingSink m_sink;
};

TEST_F(WorkerTest, EachStartMessageIsOneCycleWithOneResultInOrder) {
    AddSigned(m_server, "/list", CannedResponse{200, "text/xml", "<list/>"});
    m_server.Add("/list", CannedResponse{404, "text/html", "<html>gone</html>"});
    auto worker = MakeWorker("/list");
    worker->PostThreadMessage(WM_LIST_DOWNLOAD);
    worker->PostThreadMessage(WM_LIST_DOWNLOAD);
    worker->PostThreadMessage(0x465);  // not the worker's: ignored

    Message first = m_sink.Next();
    Message second = m_sink.Next();
    EXPECT_EQ(first.message, WM_LIST_DOWNLOAD_DONE);
    EXPECT_EQ(first.wParam, 0u);
    EXPECT_EQ(second.message, WM_LIST_DOWNLOAD_DONE);
    EXPECT_EQ(second.wParam, 1u);
    EXPECT_EQ(first.lParam, 0);
    EXPECT_EQ(second.lParam, 0);
    EXPECT_EQ(m_sink.Next(300ms).message, 0u);
    EXPECT_EQ(m_server.Hits("/list"), 2);
    EXPECT_EQ(TakeImported(), std::vector<std::u16string>{u"<list/>"});
}

TEST_F(WorkerTest, WhatTheImportIsHanded) {
    struct Case {
        const char* path;
        CannedResponse response;
        uintptr_t result;
        std::vector<std::u16string> imported;
    } cases[] = {
        {"/utf8", {200, "text/xml", "<a>\xE4\xB8\xAD\xE6\x96\x87</a>"}, 0, {u"<a>中文</a>"}},
        {"/gbk", {200, "text/xml", "<a>\xD6\xD0\xCE\xC4</a>"}, 0, {u"<a>中文</a>"}},
        // Not UTF-8 (the GBK bytes), so kept whole; the text still ends at the zero.
        {"/zero", {200, "text/xml", std::string("<a>\xD6\xD0</a>\0<b/>", 14)}, 0, {u"<a>中</a>"}},
        {"/empty", {200, "text/xml", ""}, 1, {}},
        {"/error-page", {404, "text/html", "<html><body>404</body></html>"}, 1, {}},
        {"/silent", {200, "text/xml", "", true}, 1, {}},
    };
    for (const Case& c : cases) AddSigned(m_server, c.path, c.response);
    for (const Case& c : cases) {
        auto worker = MakeWorker(c.path);
        worker->PostThreadMessage(WM_LIST_DOWNLOAD);
        Message m = m_sink.Next();
        EXPECT_EQ(m.message, WM_LIST_DOWNLOAD_DONE) << c.path;
        EXPECT_EQ(m.wParam, c.result) << c.path;
        EXPECT_EQ(TakeImported(), c.imported) << c.path;
    }
}

TEST_F(WorkerTest, EndingTheWorkerStopsATransferInProgress) {
    m_server.Add("/silent", CannedResponse{200, "text/xml", "", true});
    auto worker = MakeWorker("/silent");
    worker->m_limits.lowSpeedTimeSeconds = 600;  // only the stop can end this transfer
    worker->PostThreadMessage(WM_LIST_DOWNLOAD);
    for (int i = 0; i < 400 && m_server.Hits("/silent") == 0; ++i) std::this_thread::sleep_for(5ms);
    ASSERT_EQ(m_server.Hits("/silent"), 1);
    auto t0 = std::chrono::steady_clock::now();
    worker.reset();
    // The program ends within a second of being asked, a transfer in progress included.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
    Message m = m_sink.Next(1s);
    EXPECT_EQ(m.message, WM_LIST_DOWNLOAD_DONE);
    EXPECT_EQ(m.wParam, 1u);
}

// A server that sends without end fails the cycle once the size cap is reached, and the whole
// cycle fits a fixed address space.
TEST_F(WorkerTest, EndlessBodyFailsTheCycleWithinBoundedMemory) {
    CannedResponse endless{200, "text/xml", "<list>"};
    endless.endless = true;
    m_server.Add("/endless", endless);
    std::string url = m_server.Url("/endless");
    test::ChildOutcome outcome = test::RunLimited(512u << 20, 60, [&] {
        CoreState app;
        return RunCycle(app, url) == 1 ? 0 : 3;
    });
    EXPECT_EQ(outcome.signal, 0) << outcome.Describe();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.Describe();
}

class WorkerImportTest : public test::StoreTest {
protected:
    void SetUp() override {
        test::StoreTest::SetUp();
        if (!test::BuildKeyTrusted()) GTEST_SKIP() << "this build trusts other list keys";
    }
};

TEST_F(WorkerImportTest, DownloadedListReachesTheTable) {
    HttpTestServer server;
    const std::string list =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<list>"
        "<File><save>eicar.com</save><md5>44d88612fea8a8f36de82e1278abb02f</md5><size>68</size>"
        "</File><File><save>\xE7\x97\x85\xE6\xAF\x92.exe</save>"
        "<md5>0123456789abcdef0123456789abcdef</md5><size>1</size></File></list>";
    AddSigned(server, "/ravlin/list/curdaylist.xml", CannedResponse{200, "text/xml", list});
    AddSigned(server, "/broken", CannedResponse{200, "text/xml", "<list><File></list>"});
    ASSERT_TRUE(server.Start()) << server.error();

    CoreState app;
    app.SetListDate(u"暂无更新");
    // A body arrived: success as far as the download goes, though nothing is stored.
    EXPECT_EQ(RunCycle(app, server.Url("/broken")), 0);
    EXPECT_EQ(app.ListDate(), u"暂无更新");
    EXPECT_EQ(app.m_bBlacklistStale.load(), 0);
    EXPECT_EQ(RunCycle(app, server.Url("/ravlin/list/curdaylist.xml")), 0);
    EXPECT_NE(app.ListDate(), u"暂无更新");
    EXPECT_EQ(app.m_bBlacklistStale.load(), 1);
    {
        // A database that fails under the import fails the cycle.
        sqlite3* holder = nullptr;
        ASSERT_EQ(sqlite3_open("Ravlin.db", &holder), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(holder, "begin exclusive;", nullptr, nullptr, nullptr), SQLITE_OK);
        EXPECT_EQ(RunCycle(app, server.Url("/ravlin/list/curdaylist.xml")), 1);
        sqlite3_close(holder);
    }
    BlacklistMap map;
    GetBlacklist(app, map);
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map[u"44d88612fea8a8f36de82e1278abb02f"].name, u"eicar.com");
    EXPECT_EQ(map[u"0123456789abcdef0123456789abcdef"].name, u"病毒.exe");
}

// A list one byte under the size cap goes all the way: fetched, converted to code page 936 and
// back, parsed and imported, and the whole cycle fits the address space an endless body gets.
// The conversions once sized their outputs at twice the need and kept the slack when handing
// them on, and decoded through a second copy: 512 MiB were not enough.
TEST_F(WorkerImportTest, ListJustUnderTheCapIsImportedWithinBoundedMemory) {
    HttpTestServer server;
    CannedResponse list{200, "text/xml",
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<list><File><save>a.exe</save>"
                        "<md5>44d88612fea8a8f36de82e1278abb02f</md5><size>68</size></File>"};
    list.tail =
        "<File><save>b.exe</save><md5>0123456789abcdef0123456789abcdef</md5>"
        "<size>1</size></File></list>";
    list.blankPadding = kMaxListBytes - 1 - list.body.size() - list.tail.size();
    server.Add("/near-cap", list);
    {
        // Signed as served, written piece by piece: this process never holds the whole list.
        test::TempDir signing;
        const std::string path = signing.File("near-cap");
        FILE* f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(list.body.data(), 1, list.body.size(), f);
        const std::string blanks(1 << 16, ' ');
        for (size_t left = list.blankPadding; left > 0;) {
            size_t n = std::min(left, blanks.size());
            fwrite(blanks.data(), 1, n, f);
            left -= n;
        }
        fwrite(list.tail.data(), 1, list.tail.size(), f);
        fclose(f);
        ASSERT_TRUE(test::SignListFile(path, test::ListComment(1)));
        server.Add("/near-cap.minisig",
                   CannedResponse{200, "text/plain", test::ReadFile(path + ".minisig")});
    }
    ASSERT_TRUE(server.Start()) << server.error();
    std::string url = server.Url("/near-cap");
    test::ChildOutcome outcome = test::RunLimited(512u << 20, 60, [&] {
        CoreState app;
        if (RunCycle(app, url) != 0) return 4;
        BlacklistMap map;
        GetBlacklist(app, map);
        if (map.size() != 2 || map[u"0123456789abcdef0123456789abcdef"].name != u"b.exe") return 5;
        return 0;
    });
    EXPECT_EQ(outcome.signal, 0) << outcome.Describe();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.Describe();
}

// An unchanged list costs a conditional request and a 304: a successful cycle that imports
// nothing and fetches no signature.
TEST_F(WorkerImportTest, UnchangedListIsAskedForConditionally) {
    HttpTestServer server;
    const std::string list =
        "<list><File><save>a.exe</save><md5>44d88612fea8a8f36de82e1278abb02f</md5></File></list>";
    CannedResponse first{200, "text/xml", list};
    first.extraHeaders = "ETag: \"v1\"\r\nLast-Modified: Tue, 01 Dec 2026 00:00:00 GMT\r\n";
    AddSigned(server, "/l.xml", first, 7);
    server.Add("/l.xml", CannedResponse{304, "text/xml", ""});
    ASSERT_TRUE(server.Start()) << server.error();

    CoreState app;
    ListCycleReport report;
    ASSERT_EQ(RunCycle(app, server.Url("/l.xml"), &report), 0);
    EXPECT_EQ(report.kind, ListCycleReport::kImported);
    EXPECT_EQ(server.LastRequestHead("/l.xml").find("If-None-Match"), std::string::npos);
    {
        Database db;
        OpenDatabase(db);
        ListState state;
        ASSERT_EQ(ReadListState(db, state), 0);
        EXPECT_EQ(state.lastSerial, 7u);
        EXPECT_EQ(state.strEtag, "\"v1\"");
    }

    app.m_bBlacklistStale.store(0);
    app.SetListDate(u"before");
    EXPECT_EQ(RunCycle(app, server.Url("/l.xml"), &report), 0);
    EXPECT_EQ(report.kind, ListCycleReport::kNotModified);
    const std::string head = server.LastRequestHead("/l.xml");
    EXPECT_NE(head.find("If-None-Match: \"v1\"\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("If-Modified-Since: Tue, 01 Dec 2026 00:00:00 GMT\r\n"), std::string::npos)
        << head;
    EXPECT_EQ(server.Hits("/l.xml.minisig"), 1);
    EXPECT_EQ(app.m_bBlacklistStale.load(), 0);  // nothing new for the index
    EXPECT_NE(app.ListDate(), u"before");
    // Validators that could end a request header are not kept, so they are never sent back.
    CannedResponse odd{200, "text/xml", list};
    odd.extraHeaders =
        "ETag: \"v\x7f\" \"2\"\r\nLast-Modified: Wed, 02 Dec 2026\x01 00:00:00 GMT\r\n";
    AddSigned(server, "/odd.xml", odd, 8);
    ASSERT_EQ(RunCycle(app, server.Url("/odd.xml"), &report), 0);
    EXPECT_EQ(report.kind, ListCycleReport::kImported);
    Database db;
    OpenDatabase(db);
    ListState state;
    ASSERT_EQ(ReadListState(db, state), 0);
    EXPECT_EQ(state.lastSerial, 8u);
    EXPECT_EQ(state.strEtag, "");
    EXPECT_EQ(state.strLastModified, "");
}

// A list that may not be taken fails the cycle as a failed download does, imports nothing and
// leaves its reason in the error log.
TEST_F(WorkerImportTest, RefusedListsFailTheCycleAndImportNothing) {
    HttpTestServer server;
    const std::string good =
        "<list><File><save>a.exe</save><md5>44d88612fea8a8f36de82e1278abb02f</md5></File></list>";
    const std::string older =
        "<list><File><save>b.exe</save><md5>0123456789abcdef0123456789abcdef</md5></File></list>";
    AddSigned(server, "/good", CannedResponse{200, "text/xml", good}, 5);
    AddSigned(server, "/older", CannedResponse{200, "text/xml", older}, 4);
    server.Add("/unsigned", CannedResponse{200, "text/xml", older});
    server.Add("/huge-signature", CannedResponse{200, "text/xml", older});
    server.Add("/huge-signature.minisig",
               CannedResponse{200, "text/plain", std::string(kMaxSignatureBytes + 1, 'x')});
    ASSERT_TRUE(server.Start()) << server.error();

    CoreState app;
    ASSERT_EQ(RunCycle(app, server.Url("/good")), 0);
    struct Case {
        const char* path;
        ListRefusal refusal;
    } cases[] = {
        {"/older", ListRefusal::kSerialLower},
        {"/unsigned", ListRefusal::kSignatureMissing},
        {"/huge-signature", ListRefusal::kSignatureTooLarge},
    };
    for (const Case& c : cases) {
        app.m_bBlacklistStale.store(0);
        ListCycleReport report;
        EXPECT_EQ(RunCycle(app, server.Url(c.path), &report), 1) << c.path;
        EXPECT_EQ(report.kind, ListCycleReport::kRefused) << c.path;
        EXPECT_EQ(report.refusal, c.refusal) << c.path;
        EXPECT_EQ(app.m_bBlacklistStale.load(), 0) << c.path;
        EXPECT_NE(DbErrLog().find("list refused (" + server.Url(c.path) +
                                  "): " + ListRefusalText(c.refusal) + "\r\n"),
                  std::string::npos)
            << DbErrLog();
    }
    BlacklistMap map;
    app.m_bBlacklistStale.store(1);
    GetBlacklist(app, map);
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map.begin()->second.name, u"a.exe");
}

}  // namespace
}  // namespace tovarek
