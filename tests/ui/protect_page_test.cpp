// The protection page with a fake process source: no pass here reaches a real process. Files
// that a pass "intercepts" are made in the test's own folder, which is also where deletions go.
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QScrollBar>
#include <QThread>

#include <atomic>
#include <cstring>
#include <map>

#include "platform/file_id.h"
#include "platform/local_time.h"
#include "scan/file_fingerprint.h"
#include "scan/quarantine.h"
#include "tests/ui/page_env.h"
#include "tests/ui/test_ui_env.h"
#include "ui/protect_dlg.h"
#include "ui/show_in_folder.h"

namespace tovarek {
namespace {

using test::FileExists;
using test::ReadFile;
using test::WriteFile;

constexpr char kListedMd5[] = "0123456789abcdef0123456789abcdef";

// Canned processes and fingerprints; chains are recorded, never ended.
class FakeProcesses : public Processes {
public:
    int Snapshot(ProcessTable& table, uint32_t& shellProcessId) override {
        ++snapshots;
        if (onSnapshot) onSnapshot();
        table = processes;
        // What ran is the file at the path at the time of the pass, unless told otherwise.
        for (auto& [pid, e] : table) {
            e.exeId = noIdentity.count(pid) ? FileId{} : FileIdOfPath(Utf16ToUtf8(e.exePath));
        }
        shellProcessId = 0;
        return 0;
    }
    void EndChain(const ProcessTable&, uint32_t processId, uint32_t,
                  const std::set<uint32_t>&) override {
        ended.push_back(processId);
    }
    WatchSetup Setup(std::function<int64_t()> clock = nullptr) {
        WatchSetup setup;
        setup.processes = this;
        setup.packages = packages;
        setup.fingerprint = [this](const ProcessEntry& entry, char digestText[33]) {
            if (onFingerprint) onFingerprint();
            if (!listedByContent.count(entry.processId)) return false;
            memcpy(digestText, kListedMd5, 33);
            return true;
        };
        setup.clock = std::move(clock);
        return setup;
    }
    void Add(uint32_t pid, std::u16string name, std::u16string path) {
        ProcessEntry e;
        e.processId = pid;
        e.parentProcessId = 1;
        e.exeName = std::move(name);
        e.exePath = std::move(path);
        processes[pid] = e;
    }

    ProcessTable processes;
    std::set<uint32_t> listedByContent;
    std::set<uint32_t> noIdentity;
    std::vector<uint32_t> ended;
    PackageFiles* packages = nullptr;
    std::atomic<int> snapshots{0};  // passes run on the page's worker
    std::function<void()> onSnapshot;
    std::function<void()> onFingerprint;
};

// Runs the event loop until `done` or `ms` have passed.
template <typename Pred>
void WaitFor(Pred done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

// One watch pass as the timer starts it, waited for until its lines and notices are shown.
void RunPass(ProtectDlg& page) {
    page.OnTimer(0);
    WaitFor([&] { return !page.IsInPass(); }, 10000);
    ASSERT_FALSE(page.IsInPass());
}

class ProtectPageTest : public ::testing::Test {
protected:
    test::TestUiEnv m_env;
    void SetUp() override {
        m_env.showFileInFolder = [this](const QString& path) { opened.push_back(path); };
    }

    std::u16string Path(const std::string& name) { return Utf8ToUtf16(env.dir.File(name)); }
    static QStringList Lines(const QListWidget* list) {
        QStringList lines;
        for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
        return lines;
    }

    test::PageEnv env;
    FakeProcesses control;
    int64_t now = 1767225600 + 13 * 3600;  // a fixed second: equal names give equal lines
    QStringList opened;
};

TEST_F(ProtectPageTest, StartsProtectingWithItsObjectsWhereDesigned) {
    ProtectDlg page(env.app, &env.mainWnd, nullptr, control.Setup());
    EXPECT_TRUE(page.IsProtecting());
    EXPECT_EQ(page.startButton()->GetState(), 4);
    EXPECT_EQ(page.stopButton()->GetState(), -1);
    ASSERT_EQ(env.mainWnd.posted.size(), 1u);
    EXPECT_EQ(env.mainWnd.posted[0].message, WM_PROTECT_ICON);
    EXPECT_EQ(env.mainWnd.posted[0].wParam, 0u);
    EXPECT_TRUE(page.watchTimer().isActive());
    EXPECT_TRUE(page.watchTimer().isSingleShot());
    EXPECT_EQ(page.watchTimer().interval(), 3000);

    const int button = env.res.imgButton->GetId();
    const int checkBox = env.res.imgCheckBox->GetId();
    EXPECT_EQ(page.startButton()->GetText(),
              QString("/a,p5=%1,btn_width=60,btn_text='开始保护'/").arg(button));
    EXPECT_EQ(page.stopButton()->GetText(),
              QString("/a,p5=%1,btn_width=60,btn_text='停止保护'/").arg(button));
    EXPECT_EQ(page.selectAllToggle()->GetText(),
              QString("/a,p5=%1,btn_type=1/全选//全不选").arg(checkBox));
    EXPECT_EQ(page.deleteButton()->GetText(),
              QString("/a,p5=%1,btn_height=20,btn_text='删除所选'/").arg(button));
    EXPECT_EQ(page.historyCaption()->GetText(), QString("拦截历史(鼠标双击打开目录)："));
    EXPECT_EQ(page.historyList()->font(), env.res.fntText);
    EXPECT_FALSE(page.historyList()->isSortingEnabled());

    for (QSize size : {QSize(600, 400), QSize(450, 300)}) {
        test::ShowAndPaint(page, size.width(), size.height());
        const int w = size.width(), h = size.height();
        EXPECT_EQ(page.startButton()->GetBounds().topLeft(), QPoint(30, 15));
        EXPECT_EQ(page.stopButton()->GetBounds().topLeft(), QPoint(120, 15));
        EXPECT_EQ(page.selectAllToggle()->GetBounds().topLeft(), QPoint(w - 160, 45));
        EXPECT_EQ(page.deleteButton()->GetBounds().topLeft(), QPoint(w - 70, 40));
        EXPECT_EQ(page.historyCaption()->GetBounds().topLeft(), QPoint(5, 45));
        EXPECT_EQ(page.historyList()->geometry(), QRect(5, 65, w - 10, h - 70));
    }
    EXPECT_EQ(page.lastCopyResult(), 1);
    // The buttons are reached by the mouse with their designed indices.
    test::ClickObject(page, page.stopButton());
    EXPECT_FALSE(page.IsProtecting());
    test::ClickObject(page, page.startButton());
    EXPECT_TRUE(page.IsProtecting());
}

TEST_F(ProtectPageTest, StopAndStartActOnlyOnAChangeAndUnusedIndicesDoNothing) {
    ProtectDlg page(env.app, &env.mainWnd, nullptr, control.Setup());
    env.mainWnd.posted.clear();

    page.OnUiClick(1);
    page.OnUiClick(1);  // already stopped
    EXPECT_FALSE(page.IsProtecting());
    EXPECT_FALSE(page.watchTimer().isActive());
    EXPECT_EQ(page.startButton()->GetState(), -1);
    EXPECT_EQ(page.stopButton()->GetState(), 4);
    ASSERT_EQ(env.mainWnd.posted.size(), 1u);
    EXPECT_EQ(env.mainWnd.posted[0].message, WM_PROTECT_ICON);
    EXPECT_EQ(env.mainWnd.posted[0].wParam, 0x10000u);

    for (int index : {2, 3, 6, -1}) page.OnUiClick(index);
    EXPECT_FALSE(page.IsProtecting());
    EXPECT_EQ(env.mainWnd.posted.size(), 1u);

    env.app.m_lstInterceptions = {u"left.bin"};
    page.OnUiClick(0);
    page.OnUiClick(0);  // already on
    EXPECT_TRUE(env.app.m_lstInterceptions.empty());
    EXPECT_TRUE(page.watchTimer().isActive());
    ASSERT_EQ(env.mainWnd.posted.size(), 2u);
    EXPECT_EQ(env.mainWnd.posted[1].wParam, 0u);
    // A timer tick for another ID runs no pass.
    page.OnTimer(1);
    EXPECT_EQ(control.snapshots, 0);

    // A pass after a stop does not switch the timer back on.
    page.OnUiClick(1);
    RunPass(page);
    EXPECT_EQ(control.snapshots, 1);
    EXPECT_FALSE(page.watchTimer().isActive());

    // Once the program has decided to end, a tick already due runs no pass.
    page.OnUiClick(0);
    env.app.m_bExiting = 1;
    page.OnTimer(0);
    EXPECT_EQ(control.snapshots, 1);
    env.app.m_bExiting = 0;
}

TEST_F(ProtectPageTest, FirstPassAfterThreeSecondsAndThePeriodCountsFromThePassEnd) {
    env.ListFile(kListedMd5, "x.bin");
    WriteFile(env.dir.File("x.bin"), "x");
    control.Add(10, u"x.bin", Path("x.bin"));
    control.listedByContent = {10};
    ProtectDlg* page = nullptr;
    QElapsedTimer sinceStart;
    std::atomic<qint64> firstPassAt{-1};
    control.onSnapshot = [&] {
        if (firstPassAt < 0) firstPassAt = sinceStart.elapsed();
        QThread::msleep(400);  // a slow pass, run off the UI thread
    };
    sinceStart.start();
    ProtectDlg realPage(env.app, &env.mainWnd, nullptr, control.Setup());
    page = &realPage;
    // On from construction; the first pass comes one full period later, from the timer itself.
    ASSERT_TRUE(page->watchTimer().isActive());
    EXPECT_EQ(page->watchTimer().interval(), 3000);

    WaitFor([&] { return control.snapshots > 0; }, 8000);
    ASSERT_EQ(control.snapshots, 1);
    // The window answers while the pass runs, and a tick arriving meanwhile starts no second
    // pass.
    ASSERT_TRUE(page->IsInPass());
    QElapsedTimer tick;
    tick.start();
    page->OnTimer(0);
    QCoreApplication::processEvents();
    EXPECT_LT(tick.elapsed(), 200);
    WaitFor([&] { return !page->IsInPass(); }, 3000);
    EXPECT_EQ(control.snapshots, 1);
    EXPECT_GE(firstPassAt, 2500);  // a coarse timer may fire a little early, never 3 s early
    // Set again after the 400 ms pass, for a full period: counted from the pass's start it
    // would have at most 2600 ms left.
    ASSERT_TRUE(page->watchTimer().isActive());
    EXPECT_GT(page->watchTimer().remainingTime(), 2600);
    EXPECT_EQ(control.ended, std::vector<uint32_t>{10});
    EXPECT_EQ(page->historyList()->count(), 1);
    ASSERT_EQ(env.mainWnd.posted.size(), 2u);
    EXPECT_EQ(env.mainWnd.posted[1].message, WM_SHOW_NOTICE);
    EXPECT_EQ(env.mainWnd.posted[1].wParam, 1u);
}

// The program's end never waits for a pass: one in progress gives up at its next process.
TEST_F(ProtectPageTest, TheEndDuringASlowPassReturnsAtOnce) {
    env.ListFile(kListedMd5, "x.bin");
    for (uint32_t pid = 10; pid < 60; ++pid) control.Add(pid, u"p.bin", Path("p.bin"));
    std::atomic<int> fingerprinted{0};
    control.onFingerprint = [&] {
        ++fingerprinted;
        QThread::msleep(100);  // 50 processes: a five-second pass
    };
    auto page = std::make_unique<ProtectDlg>(env.app, &env.mainWnd, nullptr, control.Setup());
    page->OnTimer(0);
    WaitFor([&] { return fingerprinted > 0; }, 5000);
    ASSERT_GT(fingerprinted, 0);
    QElapsedTimer end;
    end.start();
    page.reset();
    EXPECT_LT(end.elapsed(), 1000);
    EXPECT_LT(fingerprinted, 10);
}

TEST_F(ProtectPageTest, ToggleChecksAndClearsInTurnEvenFromAnEmptyList) {
    env.ListFile(kListedMd5, "a.bin");
    ProtectDlg page(env.app, &env.mainWnd, nullptr, control.Setup([this] { return now; }));
    page.OnUiClick(4);  // empty list: only the state changes
    EXPECT_EQ(page.selectAllState(), 1);

    control.Add(10, u"a.bin", Path("a.bin"));
    control.Add(11, u"b.bin", Path("b.bin"));
    control.listedByContent = {10, 11};
    RunPass(page);
    ASSERT_EQ(page.historyList()->count(), 2);
    // Wide enough for the whole line in the list's font, check box aside.
    EXPECT_GT(page.historyExtent(),
              QFontMetrics(env.res.fntText).horizontalAdvance(page.historyList()->item(0)->text()));
    // And the list scrolls sideways as far as a line needs when it is narrower than one.
    page.resize(120, 200);
    page.show();
    QCoreApplication::processEvents();
    EXPECT_GT(page.historyList()->horizontalScrollBar()->maximum(), 0);
    for (int i = 0; i < 2; ++i) {
        QListWidgetItem* item = page.historyList()->item(i);
        EXPECT_TRUE(item->flags() & Qt::ItemIsUserCheckable);
        EXPECT_EQ(item->checkState(), Qt::Unchecked);
    }
    page.historyList()->item(1)->setCheckState(Qt::Checked);

    page.OnUiClick(4);  // the second click clears
    EXPECT_EQ(page.selectAllState(), 0);
    EXPECT_EQ(page.historyList()->item(0)->checkState(), Qt::Unchecked);
    EXPECT_EQ(page.historyList()->item(1)->checkState(), Qt::Unchecked);
    page.OnUiClick(4);
    EXPECT_EQ(page.historyList()->item(0)->checkState(), Qt::Checked);
    EXPECT_EQ(page.historyList()->item(1)->checkState(), Qt::Checked);
}

TEST_F(ProtectPageTest, DeleteRemovesCheckedLinesButOnlyTheInterceptedFiles) {
    env.ListFile(kListedMd5, "gone.bin");
    for (const char* name : {"dup1", "dup2", "swap", "keep", "noid"})
        WriteFile(env.dir.File(name), name);
    control.Add(10, u"dup.bin", Path("dup1"));
    control.Add(11, u"dup.bin", Path("dup2"));  // same name, same second: one index entry
    control.Add(12, u"gone.bin", u"");          // path unreadable, listed by name
    control.Add(13, u"swap.bin", Path("swap"));
    control.Add(14, u"keep.bin", Path("keep"));
    control.Add(15, u"noid.bin", Path("noid"));
    control.listedByContent = {10, 11, 13, 14, 15};
    control.noIdentity = {15};
    ProtectDlg page(env.app, &env.mainWnd, nullptr, control.Setup([this] { return now; }));
    RunPass(page);
    QListWidget* list = page.historyList();
    ASSERT_EQ(list->count(), 6);
    const QString stamp = "[2026-01-01 13:00:00]终止进程：";
    EXPECT_EQ(list->item(0)->text(), list->item(1)->text());
    EXPECT_EQ(page.watch().historyIndex().size(), 5u);

    // Double clicks: the file's own path; nothing for an empty path.
    for (int row : {2, 0, 4}) {
        list->setCurrentRow(row);
        emit list->itemDoubleClicked(list->item(row));
    }
    EXPECT_EQ(opened, QStringList({env.dir.File("dup2").c_str(), env.dir.File("keep").c_str()}));

    // Replaced since the interception, as a package update does: a new file at the same path.
    WriteFile(env.dir.File("swap.new"), "clean");
    ASSERT_EQ(rename(env.dir.File("swap.new").c_str(), env.dir.File("swap").c_str()), 0);

    for (int row : {0, 1, 2, 3, 5}) list->item(row)->setCheckState(Qt::Checked);
    page.OnUiClick(5);

    // The first equal line took the index entry (the later process's file) with it; the second
    // line stays, still checked. The rest of the checked lines go.
    EXPECT_EQ(Lines(list), QStringList({stamp + "dup.bin", stamp + "keep.bin"}));
    EXPECT_EQ(list->item(0)->checkState(), Qt::Checked);
    EXPECT_TRUE(FileExists(env.dir.File("dup1")));
    EXPECT_FALSE(FileExists(env.dir.File("dup2")));
    EXPECT_EQ(ReadFile(env.dir.File("swap")), "clean");
    EXPECT_TRUE(FileExists(env.dir.File("keep")));
    EXPECT_TRUE(FileExists(env.dir.File("noid")));  // nothing known about what ran
    ASSERT_EQ(page.watch().historyIndex().size(), 1u);
    EXPECT_EQ(page.watch().historyIndex().begin()->first, (stamp + "keep.bin").toStdU16String());

    // The stale equal line can be neither opened nor deleted.
    opened.clear();
    list->setCurrentRow(0);
    page.OnHistoryDblClk();
    EXPECT_TRUE(opened.isEmpty());
    page.OnUiClick(5);
    EXPECT_EQ(list->count(), 2);
}

TEST_F(ProtectPageTest, AnInterceptedFileThatCannotBeQuarantinedKeepsItsLine) {
    env.ListFile(kListedMd5, "other.bin");
    WriteFile(env.dir.File("held"), "held");
    control.Add(20, u"held.bin", Path("held"));
    control.listedByContent = {20};
    ProtectDlg page(env.app, &env.mainWnd, nullptr, control.Setup([this] { return now; }));
    RunPass(page);
    QListWidget* list = page.historyList();
    ASSERT_EQ(list->count(), 1);
    list->item(0)->setCheckState(Qt::Checked);
    // A file holds the quarantine's name: nothing can be moved in, so nothing is deleted.
    WriteFile(env.dir.File("quarantine"), "in the way");
    page.OnUiClick(5);
    EXPECT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->checkState(), Qt::Checked);
    EXPECT_TRUE(FileExists(env.dir.File("held")));

    ASSERT_EQ(unlink(env.dir.File("quarantine").c_str()), 0);
    page.OnUiClick(5);
    EXPECT_EQ(list->count(), 0);
    EXPECT_FALSE(FileExists(env.dir.File("held")));
    std::vector<QuarantineRecord> items;
    ASSERT_EQ(Quarantine(env.dir.File("quarantine")).List(items), 0);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].pathBytes, env.dir.File("held"));
    EXPECT_EQ(items[0].listedEntry, kListedMd5);
    EXPECT_EQ(items[0].origin, QuarantineOrigin::kProtectPage);
}

// A file that became an unmodified file of an installed package after its process was ended is
// not deleted by "删除所选".
TEST_F(ProtectPageTest, DeleteNeverTakesWhatIsNowAPackageFile) {
    env.ListFile(kListedMd5, "other.name");
    WriteFile(env.dir.File("tool"), "tool");
    ASSERT_EQ(mkdir(env.dir.File("dpkg").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(env.dir.File("dpkg/info").c_str(), 0755), 0);
    WriteFile(env.dir.File("dpkg/status"), "1");
    PackageFiles packages(env.dir.path(), env.dir.File("dpkg"));
    control.packages = &packages;
    control.Add(10, u"tool", Path("tool"));
    control.listedByContent = {10};
    ProtectDlg page(env.app, &env.mainWnd, nullptr, control.Setup([this] { return now; }));
    RunPass(page);
    ASSERT_EQ(control.ended, std::vector<uint32_t>{10});

    char md5[33];
    ASSERT_TRUE(ComputeFileMd5(env.dir.File("tool").c_str(), md5));
    WriteFile(env.dir.File("dpkg/info/tool.md5sums"), std::string(md5) + "  tool\n");
    WriteFile(env.dir.File("dpkg/status"), "22");
    page.historyList()->item(0)->setCheckState(Qt::Checked);
    page.OnUiClick(5);
    EXPECT_TRUE(FileExists(env.dir.File("tool")));
}

TEST(SystemProcessesIdentity, IsTheRunningExecutable) {
    Processes& control = SystemProcesses();
    ProcessTable table;
    uint32_t shell = 0;
    control.Snapshot(table, shell);
    auto self = table.find(static_cast<uint32_t>(getpid()));
    ASSERT_NE(self, table.end());
    struct stat st;
    ASSERT_EQ(stat("/proc/self/exe", &st), 0);
    EXPECT_TRUE(self->second.exeId.known);
    EXPECT_EQ(self->second.exeId.device, st.st_dev);
    EXPECT_EQ(self->second.exeId.inode, st.st_ino);
}

}  // namespace
}  // namespace tovarek
