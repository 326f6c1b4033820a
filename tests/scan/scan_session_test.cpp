// One scan session: stop, pause and the program's end take effect inside a large file, a paused
// last file holds the scan, folders left unwalked are told, and deletions go through records.
#include "scan/scan_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "scan/scan_summary.h"
#include "tests/scan/scan_test_util.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"

namespace tovarek {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::ListByContent;
using test::MakeDirs;
using test::Paths;
using test::RecordingEnder;
using test::TempDir;
using test::WriteFile;

// Keeps what a session posts; the page's side.
class Inbox : public MessageSink {
public:
    void PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        messages.push_back({message, wParam, lParam});
        m_changed.notify_all();
    }
    bool WaitDone(std::chrono::milliseconds within = 20s) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, within, [this] { return HasDoneLocked(); });
    }
    bool HasDone() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return HasDoneLocked();
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return messages.size();
    }

private:
    bool HasDoneLocked() const {
        for (const Message& m : messages) {
            if (m.message == WM_SCAN_DONE) return true;
        }
        return false;
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Message> messages;
};

// Waits until `done` holds; false after `within`.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds within = 20s) {
    const auto deadline = Clock::now() + within;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

struct SessionTest : ::testing::Test {
    void SetUp() override {
        env.moduleDir = home.path();
        list = std::make_shared<BlacklistMap>();
    }
    ScanSessionSetup Setup(const std::vector<std::string>& roots, int hashThreads = -1) {
        ScanSessionSetup setup;
        for (const std::string& r : roots) setup.roots.push_back(PathToUtf16(r));
        auto scanList = std::make_shared<ScanList>();
        scanList->Assign(*list);
        setup.list = std::move(scanList);
        setup.options.pProcesses = &ender;
        setup.options.hashThreads = hashThreads;
        setup.moduleDir = PathToUtf16(home.path() + "/");
        return setup;
    }
    void ListName(const std::string& name) {
        // Under a fingerprint no file has: found by its name alone.
        std::u16string key(32, u'f');
        key[0] = static_cast<char16_t>(u'0' + list->size());
        (*list)[key].name = PathToUtf16(name);
    }

    test::ScopedTestEnv env;
    TempDir home{true};
    TempDir dir;
    std::shared_ptr<BlacklistMap> list;
    RecordingEnder ender;
    Inbox inbox;
};

// A sparse file far larger than any scan could read in the test's time.
std::string MakeHugeFile(const std::string& path) {
    int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(ftruncate(fd, off_t{64} << 30), 0);
    close(fd);
    return path;
}

// Stop, and the end of the program (the session's end), inside a 64 GiB file: at once, on the
// one-stream path and on the many-lane one. The file is dropped unjudged: listed by name, it
// would otherwise be a finding. Progress named it while it was being read.
TEST_F(SessionTest, StopAndEndTakeEffectInsideAHugeFile) {
    const std::string huge = MakeHugeFile(dir.File("huge.bin"));
    ListName("huge.bin");
    for (int hashThreads : {0, -1}) {
        for (bool viaDestructor : {false, true}) {
            SCOPED_TRACE(std::to_string(hashThreads) + (viaDestructor ? " end" : " stop"));
            auto session =
                std::make_unique<ScanSession>(Setup({dir.path() + "/"}, hashThreads), &inbox);
            ASSERT_TRUE(WaitUntil([&] { return session->CurrentFile() == PathToUtf16(huge); }));
            std::this_thread::sleep_for(50ms);
            const auto t0 = Clock::now();
            if (viaDestructor) {
                session.reset();
            } else {
                session->Stop();
                EXPECT_LT(Clock::now() - t0, 100ms) << "Stop() waited for the worker";
                session->Join();
                EXPECT_EQ(session->Findings().Size(), 0u);
                EXPECT_EQ(session->ScannedCount(), 0);
            }
            EXPECT_LT(Clock::now() - t0, 1s);
        }
    }
    EXPECT_FALSE(inbox.HasDone()) << "a stopped scan posts no end";
    EXPECT_TRUE(ender.calls.empty());
}

// A pause inside a large file holds the read where it is, and continuing goes on from there.
TEST_F(SessionTest, PauseWaitsInsideTheFile) {
    MakeHugeFile(dir.File("huge.bin"));
    ScanSession session(Setup({dir.path() + "/"}, 0), &inbox);
    ASSERT_TRUE(WaitUntil([&] { return !session.CurrentFile().empty(); }));
    session.Pause();
    std::this_thread::sleep_for(50ms);
    const std::string io1 = test::ReadFile("/proc/self/io");
    std::this_thread::sleep_for(200ms);
    const std::string io2 = test::ReadFile("/proc/self/io");
    auto rchar = [](const std::string& io) { return io.substr(0, io.find('\n')); };
    // Nothing but the test reads meanwhile (reading /proc/self/io itself counts a little).
    const long long read1 = atoll(rchar(io1).c_str() + 7), read2 = atoll(rchar(io2).c_str() + 7);
    EXPECT_LT(read2 - read1, 1 << 20) << "the paused scan went on reading";
    session.Continue();
    std::this_thread::sleep_for(50ms);
    const long long read3 = atoll(rchar(test::ReadFile("/proc/self/io")).c_str() + 7);
    EXPECT_GT(read3 - read2, 1 << 20) << "continuing did not resume the read";
}

// A scan paused on its last file does not end until it is continued; stopped instead, it ends
// without its end message.
TEST_F(SessionTest, PauseOnTheLastFileHoldsTheEnd) {
    WriteFile(dir.File("last.bin"), "x");
    ListName("last.bin");
    for (bool stop : {false, true}) {
        SCOPED_TRACE(stop);
        Inbox box;
        std::atomic<ScanSession*> running{nullptr};
        std::atomic<bool> pausedInRead{false};
        ScanSessionSetup setup = Setup({dir.path() + "/"});
        setup.options.beforeRead = [&](const std::string&) {
            while (!running.load()) std::this_thread::sleep_for(1ms);
            running.load()->Pause();
            pausedInRead = true;
        };
        ScanSession session(std::move(setup), &box);
        running = &session;
        ASSERT_TRUE(WaitUntil([&] { return pausedInRead.load(); }));
        std::this_thread::sleep_for(300ms);
        EXPECT_FALSE(box.HasDone()) << "the paused scan ended";
        EXPECT_FALSE(session.HasEnded());
        if (stop) {
            session.Stop();
            session.Join();
            EXPECT_FALSE(box.HasDone());
        } else {
            session.Continue();
            ASSERT_TRUE(box.WaitDone());
            EXPECT_EQ(session.Findings().Size(), 1u);
            EXPECT_EQ(session.ScannedCount(), 1);
        }
    }
}

// A pause part-way holds the whole scan (no file is judged until it continues), and the scan then
// ends as one never paused: every file judged, the same findings in the same order. A session
// with no roots posts its end alone.
TEST_F(SessionTest, APausedScanEndsAsOneNeverPaused) {
    for (int i = 0; i < 1500; ++i) {
        const std::string folder = dir.File("tree/d" + std::to_string(i / 50));
        if (i % 50 == 0) MakeDirs(folder);
        WriteFile(folder + "/f" + std::to_string(i), "file number " + std::to_string(i));
        if (i % 7 == 3) ListByContent(*list, folder + "/f" + std::to_string(i));
    }
    std::atomic<ScanSession*> running{nullptr};
    std::atomic<int> reads{0};
    ScanSessionSetup setup = Setup({dir.File("tree/")});
    setup.options.beforeRead = [&](const std::string&) {
        if (++reads != 200) return;
        while (!running.load()) std::this_thread::sleep_for(1ms);
        running.load()->Pause();
    };
    ScanSession paused(std::move(setup), &inbox);
    running = &paused;
    ASSERT_TRUE(WaitUntil([&] { return reads.load() >= 200; }));
    std::this_thread::sleep_for(100ms);
    const int64_t heldAt = paused.ScannedCount();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(paused.ScannedCount(), heldAt);
    EXPECT_LT(heldAt, 1500);
    paused.Continue();
    ASSERT_TRUE(inbox.WaitDone());
    EXPECT_EQ(paused.ScannedCount(), 1500);

    Inbox plainBox;
    ScanSession plain(Setup({dir.File("tree/")}), &plainBox);
    ASSERT_TRUE(plainBox.WaitDone());
    EXPECT_EQ(plain.Findings().Size(), 214u);
    EXPECT_EQ(Paths(paused.Findings()), Paths(plain.Findings()));

    Inbox emptyBox;
    ScanSession empty(Setup({}), &emptyBox);
    ASSERT_TRUE(emptyBox.WaitDone());
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(emptyBox.Count(), 1u);
}

// A root that can't be opened and a subtree past the depth cap are told in the final summary,
// not in the running one; a complete scan's summary has no such suffix.
TEST_F(SessionTest, FinalSummaryTellsTheFoldersNotWalked) {
    MakeDirs(dir.File("a"));
    WriteFile(dir.File("a/one.bin"), "1");
    std::string deep = dir.File("deep");
    MakeDirs(deep);
    int at = open(deep.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 1030; ++level) {
        ASSERT_EQ(mkdirat(at, "d", 0755), 0);
        int next = openat(at, "d", O_RDONLY | O_DIRECTORY);
        close(at);
        at = next;
    }
    close(at);
    ScanSession session(Setup({dir.File("a/"), dir.File("missing/"), deep + "/"}), &inbox);
    ASSERT_TRUE(inbox.WaitDone());
    EXPECT_EQ(session.Outcome().refusedRoots, std::vector<std::string>{dir.File("missing/")});
    EXPECT_EQ(session.Outcome().tooDeepSubtrees, 1u);
    EXPECT_EQ(session.FoldersNotWalked(), 2u);
    const std::u16string final = session.Summary(true);
    EXPECT_EQ(final.rfind(u"扫描结束，共扫描1个文件,危险文件0个,耗时", 0), 0u);
    EXPECT_EQ(final.substr(final.size() - 9), u",无法扫描目录2个");
    EXPECT_EQ(session.Summary(false).find(u"无法扫描"), std::u16string::npos);

    Inbox clean;
    ScanSession whole(Setup({dir.File("a/")}), &clean);
    ASSERT_TRUE(clean.WaitDone());
    EXPECT_EQ(whole.Summary(true).find(u"无法扫描"), std::u16string::npos);
    EXPECT_EQ(BuildScanSummary(3, 0, 0, true, 1),
              u"扫描结束，共扫描3个文件,危险文件0个,耗时00小时00分钟00秒,无法扫描目录1个");
}

// Deleting findings while the stopped worker may still store one: numbers are never reused, so
// a finding stored after a deletion never takes the number of one that was deleted.
TEST(ScanRecordStore, NumbersAreNeverGivenTwice) {
    ScanRecordStore store;
    EXPECT_EQ(store.Insert({}), 1);
    EXPECT_EQ(store.Insert({}), 2);
    EXPECT_EQ(store.Erase(1), 1u);
    EXPECT_EQ(store.Insert({}), 3);
    store.Clear();
    EXPECT_EQ(store.Insert({}), 1);
}

// "删除所选" through the session: the found file goes into quarantine and its processes are
// ended through the ender, a file put at its path since is left alone, and the log written from
// the records marks what is gone.
TEST_F(SessionTest, DeleteFindingsHandlesOnlyTheFilesTheScanFound) {
    WriteFile(dir.File("evil.exe"), "e");
    WriteFile(dir.File("swapped.exe"), "s");
    ListName("evil.exe");
    ListName("swapped.exe");
    TempDir store;
    Quarantine quarantine(store.path());
    ScanSessionSetup setup = Setup({dir.path() + "/"});
    setup.options.pQuarantine = &quarantine;
    ScanSession session(std::move(setup), &inbox);
    ASSERT_TRUE(inbox.WaitDone());
    ASSERT_EQ(session.Findings().Size(), 2u);
    ender.calls.clear();
    // Replaced after the scan: another file at the same path.
    WriteFile(dir.File("new.exe"), "new");
    ASSERT_EQ(rename(dir.File("new.exe").c_str(), dir.File("swapped.exe").c_str()), 0);
    session.DeleteFindings({1, 2});
    EXPECT_EQ(session.Findings().Size(), 0u);
    EXPECT_FALSE(test::FileExists(dir.File("evil.exe")));
    EXPECT_TRUE(test::FileExists(dir.File("swapped.exe")));
    ASSERT_EQ(ender.calls.size(), 1u);
    EXPECT_EQ(ender.calls[0].first, dir.File("evil.exe"));
}

}  // namespace
}  // namespace tovarek
