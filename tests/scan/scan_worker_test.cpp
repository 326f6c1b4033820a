#include "scan/scan_worker.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/module_info.h"
#include "store/app_settings.h"
#include "store/core_state.h"
#include "tests/scan/scan_test_util.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"

namespace tovarek {
namespace {

using namespace std::chrono_literals;
using test::FileExists;
using test::ListByContent;
using test::MakeDirs;
using test::Paths;
using test::RecordingEnder;
using test::RecordingSink;
using test::TempDir;
using test::WriteFile;

bool HasDone(const std::vector<Message>& ms) {
    return !ms.empty() && ms.back().message == WM_SCAN_DONE;
}

// The page's side of one scan: app state with its own settings, stores, list and recorded
// messages. The database and the logs live in a folder of the test's own.
struct Page {
    Page() : home(true) {
        testEnv.moduleDir = home.path() + "/";
        settings = std::make_unique<AppSettings>();
        app.m_pSettings = settings.get();
    }

    test::ScopedTestEnv testEnv;
    TempDir home;
    CoreState app;
    std::unique_ptr<AppSettings> settings;
    BlacklistMap blacklist;
    ScanList list;
    // The list as the worker takes it, made from `blacklist` as it is now.
    const ScanList* List() {
        list.Assign(blacklist);
        return &list;
    }
    ScanRecordStore scanned;
    ScanRecordStore findings;
    RecordingSink sink{scanned, findings};
    RecordingEnder ender;
};

// A tree of `count` small files, every seventh one listed by content.
std::string MakeTree(const TempDir& dir, int count, BlacklistMap& list) {
    for (int i = 0; i < count; ++i) {
        std::string folder = dir.File("tree/d" + std::to_string(i / 50));
        if (i % 50 == 0) MakeDirs(folder);
        std::string path = folder + "/f" + std::to_string(i);
        WriteFile(path, "file number " + std::to_string(i));
        if (i % 7 == 3) ListByContent(list, path);
    }
    return dir.File("tree/");
}

TEST(ScanWorker, RequestPostedAtOnceIsServedAndEndsWithDone) {
    Page page;
    TempDir dir;
    ScanRoots roots{Utf8ToUtf16(MakeTree(dir, 120, page.blacklist))};
    UITdScan worker(page.app);
    worker.Options().pEnder = &page.ender;
    worker.PostScanRequest(roots, &page.scanned, &page.findings, page.List(), &page.sink);
    ASSERT_TRUE(page.sink.WaitFor(HasDone));
    EXPECT_EQ(page.scanned.Size(), 120u);
    EXPECT_EQ(page.findings.Size(), 17u);
    EXPECT_EQ(page.sink.incompleteRecords, 0);
}

TEST(ScanWorker, EmptyRootListPostsOnlyDone) {
    Page page;
    UITdScan worker(page.app);
    worker.PostScanRequest({}, &page.scanned, &page.findings, page.List(), &page.sink);
    ASSERT_TRUE(page.sink.WaitFor(HasDone));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(page.sink.Count(), 1u);
}

TEST(ScanWorker, DeleteOnFindIsReadOnceWhenTheScanStarts) {
    Page page;
    TempDir dir;
    ScanRoots roots{Utf8ToUtf16(MakeTree(dir, 100, page.blacklist))};
    page.settings->deleteOnFind.store(1);
    // The user clears the switch while the scan runs: this scan still deletes.
    page.ender.onCall = [&](const std::string&) { page.settings->deleteOnFind.store(0); };
    UITdScan worker(page.app);
    worker.Options().pEnder = &page.ender;
    worker.PostScanRequest(roots, &page.scanned, &page.findings, page.List(), &page.sink);
    ASSERT_TRUE(page.sink.WaitFor(HasDone));
    ASSERT_EQ(page.findings.Size(), 14u);
    for (const std::string& path : Paths(page.findings)) EXPECT_FALSE(FileExists(path)) << path;
}

// Pausing from the page's side holds the scan: no file is checked until it continues, and the
// results are those of a scan that was never paused.
TEST(ScanWorker, PauseHoldsTheScanAndContinueFinishesItAlike) {
    Page page;
    TempDir dir;
    ScanRoots roots{Utf8ToUtf16(MakeTree(dir, 1500, page.blacklist))};
    UITdScan worker(page.app);
    worker.Options().pEnder = &page.ender;
    std::atomic<bool> paused{false};
    page.sink.onMessage = [&](const Message& m) {
        if (m.message == WM_SCAN_PROGRESS && m.wParam == 200 && !paused.exchange(true)) {
            worker.Pause();
        }
    };
    worker.PostScanRequest(roots, &page.scanned, &page.findings, page.List(), &page.sink);
    ASSERT_TRUE(page.sink.WaitFor([](const std::vector<Message>& ms) { return ms.size() >= 200; }));
    std::this_thread::sleep_for(100ms);
    const size_t heldAt = page.scanned.Size();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(page.scanned.Size(), heldAt);
    EXPECT_LT(heldAt, 1500u);
    worker.Continue();
    ASSERT_TRUE(page.sink.WaitFor(HasDone));

    Page plain;
    plain.blacklist = page.blacklist;
    UITdScan other(plain.app);
    other.Options().pEnder = &plain.ender;
    other.PostScanRequest(roots, &plain.scanned, &plain.findings, plain.List(), &plain.sink);
    ASSERT_TRUE(plain.sink.WaitFor(HasDone));
    EXPECT_EQ(Paths(page.scanned), Paths(plain.scanned));
    EXPECT_EQ(Paths(page.findings), Paths(plain.findings));
}

// Stop, whether the scan runs or is paused: nothing more is posted, not even the end message,
// and what was stored stays.
TEST(ScanWorker, StopEndsTheScanAndNothingIsPostedAfterIt) {
    for (bool pauseFirst : {false, true}) {
        SCOPED_TRACE(pauseFirst);
        Page page;
        TempDir dir;
        ScanRoots roots{Utf8ToUtf16(MakeTree(dir, 3000, page.blacklist))};
        auto worker = std::make_unique<UITdScan>(page.app);
        worker->Options().pEnder = &page.ender;
        worker->PostScanRequest(roots, &page.scanned, &page.findings, page.List(), &page.sink);
        ASSERT_TRUE(
            page.sink.WaitFor([](const std::vector<Message>& ms) { return ms.size() >= 100; }));
        if (pauseFirst) worker->Pause();
        worker->Stop();
        const size_t postedAtStop = page.sink.Count();
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(page.sink.Count(), postedAtStop);
        EXPECT_LT(page.scanned.Size(), 3000u);
        // What was stored before the stop stays: every reported record is still there.
        for (const Message& m : page.sink.messages) {
            if (m.message == WM_SCAN_PROGRESS) {
                EXPECT_LE(m.wParam, page.scanned.Size());
            }
        }
        const auto t0 = std::chrono::steady_clock::now();
        worker.reset();  // joins the thread
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
        EXPECT_EQ(page.sink.Count(), postedAtStop);
        for (const Message& m : page.sink.messages) EXPECT_NE(m.message, WM_SCAN_DONE);
    }
}

// Real processes, ended for real: only inside a PID namespace of the test's own, where every
// process is one this test started.
const char kInnerEnv[] = "TOVAREK_SCAN_TEST_IN_PIDNS";

TEST(ScanWorkerProcesses, FoundFileHasItsProcessesEnded) {
    if (!getenv(kInnerEnv)) {
        std::string self = ModulePath();
        std::string cmd = std::string(kInnerEnv) + "=1 unshare --pid --fork --mount-proc '" + self +
                          "' --gtest_filter=ScanWorkerProcesses.* > /tmp/tovarek-pidns-" +
                          std::to_string(getpid()) + ".log 2>&1";
        int status = system(cmd.c_str());
        std::string log = test::ReadFile("/tmp/tovarek-pidns-" + std::to_string(getpid()) + ".log");
        unlink(("/tmp/tovarek-pidns-" + std::to_string(getpid()) + ".log").c_str());
        if (log.find("unshare failed") != std::string::npos ||
            log.find("unshare:") != std::string::npos) {
            GTEST_SKIP() << "no PID namespace here (unshare refused): " << log;
        }
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
        EXPECT_NE(log.find("[  PASSED  ] 1 test"), std::string::npos) << log;
        return;
    }
    ASSERT_EQ(getpid(), 1) << "not inside the test's own PID namespace";
    for (int deleteOnFind : {0, 1}) {
        SCOPED_TRACE(deleteOnFind);
        Page page;
        TempDir dir;
        MakeDirs(dir.File("bin"));
        const std::string target = dir.File("bin/evil-sleep");
        WriteFile(target, test::ReadFile("/bin/sleep"));
        chmod(target.c_str(), 0755);
        ListByContent(page.blacklist, target);
        pid_t child = fork();
        if (child == 0) {
            execl(target.c_str(), "evil-sleep", "60", static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(child, 0);
        // Wait until the kernel names the running executable as our copy.
        for (int i = 0; i < 200; ++i) {
            char link[512] = {};
            std::string exe = "/proc/" + std::to_string(child) + "/exe";
            if (readlink(exe.c_str(), link, sizeof link - 1) > 0 && target == link) break;
            std::this_thread::sleep_for(5ms);
        }
        page.settings->deleteOnFind.store(deleteOnFind);
        UITdScan worker(page.app);  // the system's own way of ending processes
        worker.PostScanRequest({Utf8ToUtf16(dir.File("bin/"))}, &page.scanned, &page.findings,
                               page.List(), &page.sink);
        ASSERT_TRUE(page.sink.WaitFor(HasDone));
        EXPECT_EQ(page.findings.Size(), 1u);
        int status = 0;
        pid_t waited = 0;
        for (int i = 0; i < 400 && waited == 0; ++i) {
            waited = waitpid(child, &status, WNOHANG);
            if (waited == 0) std::this_thread::sleep_for(5ms);
        }
        if (waited == 0) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            ADD_FAILURE() << "the found file's process was left running";
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        }
        EXPECT_EQ(FileExists(target), deleteOnFind == 0);
    }
}

}  // namespace
}  // namespace tovarek
