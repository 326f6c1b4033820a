// What a scan leaves behind in text: the elapsed time and summary, the result lines, the scan
// log file, the canonical roots, and the gate that coalesces progress on its way to the page.
#include "scan/scan_log.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "platform/path_text.h"
#include "scan/canonical_root.h"
#include "scan/scan_message_gate.h"
#include "scan/scan_summary.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"

namespace tovarek {
namespace {

using test::FileExists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string U8(const std::u16string& s) {
    return Utf16ToUtf8(s);
}

TEST(ScanSummary, ElapsedKeepsHoursWithinTheDayAndNeverGoesNegative) {
    const std::pair<int64_t, const char*> cases[] = {
        {0, "00小时00分钟00秒"},
        {65, "00小时01分钟05秒"},
        {25 * 3600, "01小时00分钟00秒"},                 // whole days are dropped
        {int64_t(400) * 86400 + 7, "00小时00分钟07秒"},  // beyond 32 bits of milliseconds
        {-5, "00小时00分钟00秒"},                        // the clock was set back
        {INT64_MIN, "00小时00分钟00秒"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(U8(FormatElapsed(seconds)), text) << seconds;
    }
}

TEST(ScanSummary, RunningAndFinalTexts) {
    EXPECT_EQ(U8(BuildScanSummary(120, 1, 5, false)),
              "扫描120个文件,危险文件1个,耗时00小时00分钟05秒");
    EXPECT_EQ(U8(BuildScanSummary(0, 0, 0, true)),
              "扫描结束，共扫描0个文件,危险文件0个,耗时00小时00分钟00秒");
    // The count goes through its low 32 bits, as the page prints it.
    EXPECT_EQ(U8(BuildScanSummary((int64_t(1) << 32) + 7, 2, 0, false)),
              "扫描7个文件,危险文件2个,耗时00小时00分钟00秒");
}

class ScanLogTest : public ::testing::Test {
protected:
    void SetUp() override { testEnv.codePage = kCodePageUtf8; }
    test::ScopedTestEnv testEnv;
    std::u16string ModuleDir() const { return Utf8ToUtf16(m_dir.path() + "/"); }
    TempDir m_dir;
};

TEST_F(ScanLogTest, WritesLinesWithCrLfAndRewritesTheSameFile) {
    const int64_t start = 1796000000;
    const std::string path = ScanLogPath(ModuleDir(), start);
    time_t t = static_cast<time_t>(start);
    struct tm local;
    localtime_r(&t, &local);
    char stamp[64];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H_%M_%S", &local);
    EXPECT_EQ(path, m_dir.path() + "/log/sl" + stamp + ".log");

    // Nothing to write: no file and not even the folder.
    EXPECT_EQ(WriteScanLog(ModuleDir(), start, {}), 0);
    struct stat st;
    EXPECT_NE(stat(m_dir.File("log").c_str(), &st), 0);

    ASSERT_EQ(
        WriteScanLog(ModuleDir(), start,
                     {{u"/d/evil.exe", false, false, u""}, {u"/d/病毒.exe", false, true, u""}}),
        0);
    EXPECT_EQ(ReadFile(path), "/d/evil.exe\r\n/d/病毒.exe(已删除)\r\n");

    // A later deletion rewrites the whole file with what is left.
    ASSERT_EQ(WriteScanLog(ModuleDir(), start, {{u"/d/病毒.exe", false, true, u""}}), 0);
    EXPECT_EQ(ReadFile(path), "/d/病毒.exe(已删除)\r\n");

    // A name can't forge a line of its own, nor pass for another.
    ASSERT_EQ(WriteScanLog(
                  ModuleDir(), start,
                  {{u"/d/a\r\nfake", false, false, u""}, {u"/d/c\u202egpj.exe", false, true, u""}}),
              0);
    EXPECT_EQ(ReadFile(path), "/d/a\\r\\nfake\r\n/d/c\\u202egpj.exe(已删除)\r\n");

    // An empty list leaves the last file as it was.
    EXPECT_EQ(WriteScanLog(ModuleDir(), start, {}), 0);
    EXPECT_EQ(ReadFile(path), "/d/a\\r\\nfake\r\n/d/c\\u202egpj.exe(已删除)\r\n");

    // A log that can't be written is reported, not fatal.
    TempDir blocked;
    WriteFile(blocked.File("log"), "x");  // a file where the folder should be
    EXPECT_EQ(
        WriteScanLog(Utf8ToUtf16(blocked.path() + "/"), start, {{u"/d/x", false, false, u""}}), -1);
}

// The page's own mark goes out in the ANSI code page; the name as the bytes it has on disk.
TEST_F(ScanLogTest, TextGoesOutInTheAnsiCodePage) {
    testEnv.codePage = kCodePageGbk;
    const int64_t start = 1796000001;
    // GBK: 病 B2A1, 毒 B6BE, 已 D2D1, 删 C9BE, 除 B3FD.
    ASSERT_EQ(WriteScanLog(ModuleDir(), start,
                           {{PathToUtf16("/d/\xB2\xA1\xB6\xBE"), false, true, u""},
                            {u"/d/病毒", false, false, u""}}),
              0);
    EXPECT_EQ(ReadFile(ScanLogPath(ModuleDir(), start)),
              "/d/\xB2\xA1\xB6\xBE(\xD2\xD1\xC9\xBE\xB3\xFD)\r\n"
              "/d/\xE7\x97\x85\xE6\xAF\x92\r\n");
}

TEST_F(ScanLogTest, ResultLineMarksWhatNoLongerExists) {
    WriteFile(m_dir.File("here"), "x");
    ASSERT_EQ(symlink("gone-target", m_dir.File("dangling").c_str()), 0);
    const std::u16string here = Utf8ToUtf16(m_dir.File("here"));
    const std::u16string gone = Utf8ToUtf16(m_dir.File("gone"));
    const std::u16string dangling = Utf8ToUtf16(m_dir.File("dangling"));
    EXPECT_EQ(ScanResultLine(here), here);
    EXPECT_EQ(ScanResultLine(gone), gone + u"(已删除)");
    EXPECT_EQ(ScanResultLine(dangling), dangling) << "the link itself is still there";
}

TEST_F(ScanLogTest, RootsAreCanonicalWithOneTrailingSlash) {
    test::WriteFile(m_dir.File("f"), "");
    ASSERT_EQ(mkdir(m_dir.File("real").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(m_dir.File("real/sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink("real", m_dir.File("link").c_str()), 0);
    char* base = realpath(m_dir.path().c_str(), nullptr);
    ASSERT_NE(base, nullptr);
    const std::string real = std::string(base) + "/real/";
    free(base);

    std::u16string out;
    ASSERT_TRUE(CanonicalScanRoot(Utf8ToUtf16(m_dir.File("link/./sub/../")), out));
    EXPECT_EQ(U8(out), real);
    ASSERT_TRUE(CanonicalScanRoot(Utf8ToUtf16(m_dir.File("real//")), out));
    EXPECT_EQ(U8(out), real);
    ASSERT_TRUE(CanonicalScanRoot(u"/", out));
    EXPECT_EQ(U8(out), "/");
    out = u"unchanged";
    EXPECT_FALSE(CanonicalScanRoot(Utf8ToUtf16(m_dir.File("missing/")), out));
    EXPECT_FALSE(CanonicalScanRoot(u"", out));
    EXPECT_EQ(U8(out), "unchanged");

    ScanRoots roots =
        CanonicalScanRoots({Utf8ToUtf16(m_dir.File("link/")), Utf8ToUtf16(m_dir.File("missing/"))});
    ASSERT_EQ(roots.size(), 2u);
    EXPECT_EQ(U8(roots.front()), real);
    EXPECT_EQ(U8(roots.back()), m_dir.File("missing/")) << "kept for the walk to skip";
}

// A window's queue: what reaches the page, in order.
class QueueSink : public MessageSink {
public:
    void PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override {
        queue.Post({message, wParam, lParam});
    }
    MessageQueue queue;
};

TEST(ScanMessageGate, ProgressWaitsOnceAndFindingsAndTheEndPassWithTheTag) {
    QueueSink page;
    ScanMessageGate gate(&page, 7);
    for (uintptr_t s = 1; s <= 1000; ++s) gate.PostMessage(WM_SCAN_PROGRESS, s, 0);
    gate.PostMessage(WM_SCAN_FOUND, 3, 0);
    gate.PostMessage(WM_SCAN_DONE, 0, 0);

    // One progress message stands for the thousand; the end is right behind it.
    std::vector<Message> got;
    Message m;
    while (page.queue.TryGet(m)) got.push_back(m);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].message, WM_SCAN_PROGRESS);
    EXPECT_EQ(got[1].message, WM_SCAN_FOUND);
    EXPECT_EQ(got[1].wParam, 3u);
    EXPECT_EQ(got[2].message, WM_SCAN_DONE);
    for (const Message& each : got) EXPECT_EQ(each.lParam, 7);
    EXPECT_EQ(gate.TakeProgress(), 1000u) << "the newest, not the first";

    // Taken: the next progress is posted again.
    gate.PostMessage(WM_SCAN_PROGRESS, 1001, 0);
    ASSERT_TRUE(page.queue.TryGet(m));
    EXPECT_EQ(m.message, WM_SCAN_PROGRESS);
    EXPECT_EQ(gate.TakeProgress(), 1001u);
    EXPECT_FALSE(page.queue.TryGet(m));
}

TEST(ScanMessageGate, ReceiverAlwaysEndsOnTheLastProgressUnderRacing) {
    for (int round = 0; round < 20; ++round) {
        QueueSink page;
        ScanMessageGate gate(&page, 1);
        constexpr uintptr_t kFiles = 20000;
        std::thread worker([&] {
            for (uintptr_t s = 1; s <= kFiles; ++s) gate.PostMessage(WM_SCAN_PROGRESS, s, 0);
            gate.PostMessage(WM_SCAN_DONE, 0, 0);
        });
        uintptr_t shown = 0;
        size_t received = 0;
        for (;;) {
            Message m = page.queue.Wait();
            if (m.message == WM_SCAN_DONE) break;
            ++received;
            uintptr_t newest = gate.TakeProgress();
            EXPECT_GE(newest, shown) << "progress never goes back";
            shown = newest;
        }
        worker.join();
        ASSERT_EQ(shown, kFiles) << "the last file is shown before the end, round " << round;
        EXPECT_LE(received, kFiles);
    }
}

}  // namespace
}  // namespace tovarek
