// The scan page and the scan directory dialog as the user drives them, offscreen, against real
// trees in the test's own folder and a real Ravlin.db there. Scans never leave that folder (the
// quick and full roots are pointed at it) and never end a process (a recording process ender
// stands in for the real one).
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "app/ravlin_app.h"
#include "platform/code_page.h"
#include "platform/module_info.h"
#include "scan/file_fingerprint.h"
#include "scan/package_files.h"
#include "scan/process_table.h"
#include "scan/quarantine.h"
#include "scan/scan_log.h"
#include "store/app_settings.h"
#include "store/database.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/test_ui_env.h"
#include "ui/folder_chooser.h"
#include "ui/message_box.h"
#include "ui/scan_dlg.h"
#include "ui/set_scan_path_dlg.h"
#include "ui/skin/skin_ui.h"
#include "ui/ui_resources.h"

namespace tovarek {
namespace {

using Clock = std::chrono::steady_clock;

// Stands in for ending processes; can hold the scan inside a finding so the test can click while
// the worker is busy.
class HoldingEnder : public Processes {
public:
    int Snapshot(ProcessTable&, uint32_t&) override { return 0; }
    void EndProcessesOfFile(const ProcessTable&, uint32_t, std::u16string_view filePath,
                            std::u16string_view, const FileId&) override {
        std::unique_lock lock(m_mutex);
        calls.push_back(Utf16ToUtf8(filePath));
        m_changed.notify_all();
        if (static_cast<int>(calls.size()) == holdAt)
            m_changed.wait(lock, [this] { return m_bReleased; });
    }
    // Waits (on the UI thread, delivering its events) until `n` calls were made.
    bool WaitCalls(size_t n, const std::function<bool()>& also = {});
    void Release() {
        std::lock_guard lock(m_mutex);
        m_bReleased = true;
        m_changed.notify_all();
    }
    std::vector<std::string> Calls() {
        std::lock_guard lock(m_mutex);
        return calls;
    }

    int holdAt = 0;  // 0: never hold
    std::vector<std::string> calls;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bReleased = false;
};

// Delivers posted events until `done` holds; false after `ms`.
bool RunUntil(const std::function<bool()>& done, int ms = 20000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

void RunFor(int ms) {
    RunUntil([] { return false; }, ms);
}

bool HoldingEnder::WaitCalls(size_t n, const std::function<bool()>& also) {
    return RunUntil([&] { return Calls().size() >= n && (!also || also()); });
}

// The main window's side: the messages the page posts to it.
class MainWindowSink : public MessageSink {
public:
    void PostMessage(unsigned message, uintptr_t wParam, intptr_t) override {
        std::lock_guard lock(m_mutex);
        if (message == WM_SHOW_NOTICE && wParam == 0) ++notices;
    }
    int Notices() {
        std::lock_guard lock(m_mutex);
        return notices;
    }

private:
    std::mutex m_mutex;
    int notices = 0;
};

std::string Real(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    std::string out = resolved ? resolved : path;
    free(resolved);
    return out;
}

std::vector<std::string> Lines(QListWidget* list) {
    std::vector<std::string> lines;
    for (int i = 0; i < list->count(); ++i) lines.push_back(list->item(i)->text().toStdString());
    return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

QString Text(const UiRichText* object) {
    return object->GetText();
}

void PressKey(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

void Click(QWidget* target, QPoint at) {
    QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, at, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
}

class ScanPageTest : public ::testing::Test {
protected:
    test::TestUiEnv m_env;
    void SetUp() override {
        m_env.codePage = kCodePageUtf8;
        m_env.moduleDir = m_dir.path() + "/";
        static UiResources* res = [] {
            auto* r = new UiResources;
            LoadUiResources(*r);
            r->fntText = MakeListFont();
            return r;
        }();
        {
            // The installed list: both tables, the switches off.
            Database db;
            OpenDatabase(db);
            ASSERT_EQ(Execute(db,
                              "create table setini(settype integer,setkey varchar(20));"
                              "insert into setini values(1,'0');insert into setini values(2,'0');"
                              "insert into setini values(3,'0');",
                              false),
                      0);
        }
        m_settings = std::make_unique<AppSettings>();
        m_settings->LoadSettings();
        InitAppState(m_app, m_settings.get());
        m_app.m_pUiRes = res;
        m_strQuickRoot = m_dir.File("quick/");
        m_strFullRoot = m_dir.File("full/");
        mkdir(m_dir.File("quick").c_str(), 0755);
        mkdir(m_dir.File("full").c_str(), 0755);
        m_env.quickRoots = [this](ScanRoots& r) {
            if (!m_strQuickRoot.empty()) r.push_back(Utf8ToUtf16(m_strQuickRoot));
        };
        m_env.fullRoots = [this](ScanRoots& r) { r.push_back(Utf8ToUtf16(m_strFullRoot)); };
        m_env.pProcesses = &m_ender;
        m_env.messageBox = [this](QWidget*, const QString& text, const QString& caption,
                                  QMessageBox::StandardButtons) {
            m_boxes.push_back((caption + "|" + text).toStdString());
            return QMessageBox::Ok;
        };
    }

    void TearDown() override { m_page.reset(); }

    // Rows of blackmap: (md5, name); marks the index stale so the next scan reloads it.
    void List(const std::vector<std::pair<std::string, std::string>>& rows) {
        Database db;
        OpenDatabase(db);
        ASSERT_TRUE(db.IsOpen());
        for (const auto& [md5, name] : rows) {
            ASSERT_EQ(
                Execute(db, "insert into blackmap values('" + md5 + "','" + name + "','','1')",
                        false),
                0);
        }
        m_app.m_bBlacklistStale.store(1);
    }

    // Writes `path` under the test folder, making its folders.
    std::string Put(const std::string& path, const std::string& bytes = "x") {
        std::string full = m_dir.File(path);
        for (size_t i = m_dir.path().size() + 1; i < full.size(); ++i) {
            if (full[i] == '/') mkdir(full.substr(0, i).c_str(), 0755);
        }
        test::WriteFile(full, bytes);
        return Real(full);
    }

    ScanDlg& Page() {
        if (!m_page) m_page = std::make_unique<ScanDlg>(m_app, &m_main, nullptr);
        return *m_page;
    }

    bool WaitFinished() {
        return RunUntil([&] { return Page().GetState() == ScanDlg::kStateFinished; });
    }

    std::string Log() {
        return test::ReadFile(ScanLogPath(m_app.m_strModuleDir, Page().StartTime()));
    }

    test::TempDir m_dir{true};
    CRavlinApp m_app;
    std::unique_ptr<AppSettings> m_settings;
    std::string m_strQuickRoot;
    std::string m_strFullRoot;
    HoldingEnder m_ender;
    MainWindowSink m_main;
    std::vector<std::string> m_boxes;
    std::unique_ptr<ScanDlg> m_page;
};

TEST_F(ScanPageTest, ScanFindsPausesContinuesAndFinishesWithTheDesignedSummaries) {
    std::set<std::string> expected;
    for (int i = 0; i < 60; ++i) {
        expected.insert(Put("quick/d" + std::to_string(i) + "/evil.exe"));
        Put("quick/d" + std::to_string(i) + "/clean.txt", "clean" + std::to_string(i));
    }
    List({{"00000000000000000000000000000001", "EVIL.EXE"}});
    m_ender.holdAt = 1;
    ScanDlg& page = Page();
    EXPECT_EQ(Text(page.SummaryText()), "扫描0个文件，危险文件0个");
    EXPECT_EQ(Text(page.CurrentText()), "等待扫描。。。");
    EXPECT_FALSE(page.CurrentText()->IsEnabled());

    page.OnUiClick(0);
    EXPECT_EQ(page.GetState(), ScanDlg::kStateScanning);
    EXPECT_EQ(m_app.m_bScanRunning, 1);
    EXPECT_FALSE(page.QuickButton()->IsEnabled());
    EXPECT_TRUE(page.PauseButton()->IsEnabled());
    page.OnUiClick(0);  // not allowed while scanning
    page.OnUiClick(2);  // continue: only while paused
    EXPECT_EQ(page.GetState(), ScanDlg::kStateScanning);

    ASSERT_TRUE(m_ender.WaitCalls(1));
    page.OnUiClick(1);
    EXPECT_EQ(page.GetState(), ScanDlg::kStatePaused);
    EXPECT_TRUE(Text(page.PauseButton()).contains("btn_text='继续'"));
    m_ender.Release();
    RunFor(300);
    const QString pausedSummary = Text(page.SummaryText());
    const size_t pausedCalls = m_ender.Calls().size();
    RunFor(300);
    EXPECT_EQ(Text(page.SummaryText()), pausedSummary) << "no file is checked while paused";
    EXPECT_EQ(m_ender.Calls().size(), pausedCalls);
    // The running shape, not the final one nor the one of the set-up.
    EXPECT_TRUE(
        QRegularExpression("^扫描\\d+个文件,危险文件\\d+个,耗时\\d\\d小时\\d\\d分钟\\d\\d秒$")
            .match(pausedSummary)
            .hasMatch())
        << pausedSummary.toStdString();

    page.OnUiClick(2);
    EXPECT_EQ(page.GetState(), ScanDlg::kStateScanning);
    EXPECT_TRUE(Text(page.PauseButton()).contains("btn_text='暂停'"));
    ASSERT_TRUE(WaitFinished());

    EXPECT_TRUE(
        QRegularExpression("^扫描结束，共扫描120个文件,危险文件60个,耗时00小时00分钟\\d\\d秒$")
            .match(Text(page.SummaryText()))
            .hasMatch())
        << Text(page.SummaryText()).toStdString();
    EXPECT_EQ(m_app.m_bScanRunning, 0);
    EXPECT_TRUE(page.QuickButton()->IsEnabled());
    EXPECT_FALSE(page.PauseButton()->IsEnabled());
    // Every finding once, by its canonical path, carrying its own sequence number.
    std::vector<std::string> lines = Lines(page.ResultList());
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected);
    EXPECT_EQ(lines.size(), 60u);
    std::set<int> sequences;
    for (int i = 0; i < page.ResultList()->count(); ++i) {
        QListWidgetItem* item = page.ResultList()->item(i);
        EXPECT_EQ(item->checkState(), Qt::Unchecked);
        sequences.insert(item->data(Qt::UserRole).toInt());
    }
    EXPECT_EQ(sequences.size(), 60u);
    EXPECT_EQ(*sequences.begin(), 1);
    EXPECT_EQ(*sequences.rbegin(), 60);
    EXPECT_EQ(m_app.m_lstFindings.size(), 60u);
    EXPECT_EQ(m_ender.Calls().size(), 60u);
    EXPECT_GE(m_main.Notices(), 1);
    EXPECT_EQ(Log(), Joined(lines));
}

TEST_F(ScanPageTest, StopAfterPauseKeepsTheListedFindingsAndDropsWhatWasStillQueued) {
    for (int i = 0; i < 40; ++i) Put("quick/d" + std::to_string(i) + "/evil.exe");
    List({{"00000000000000000000000000000001", "evil.exe"}});
    m_ender.holdAt = 3;
    ScanDlg& page = Page();
    page.OnUiClick(0);
    // Two findings are on screen and the worker is busy with the third.
    ASSERT_TRUE(m_ender.WaitCalls(3, [&] { return page.ResultList()->count() == 2; }));
    page.OnUiClick(1);
    page.OnUiClick(3);
    EXPECT_EQ(page.GetState(), ScanDlg::kStateStopped);
    EXPECT_EQ(m_app.m_bScanRunning, 0);
    EXPECT_EQ(Text(page.CurrentText()), "扫描已停止");
    EXPECT_FALSE(page.CurrentText()->IsEnabled());
    EXPECT_TRUE(Text(page.PauseButton()).contains("btn_text='暂停'"));
    EXPECT_TRUE(Text(page.SummaryText()).startsWith("扫描结束，共扫描"));
    EXPECT_TRUE(Text(page.SummaryText()).contains(",危险文件2个,"));
    const std::vector<std::string> atStop = Lines(page.ResultList());
    EXPECT_EQ(Log(), Joined(atStop));

    m_ender.Release();
    RunFor(400);
    EXPECT_EQ(page.GetState(), ScanDlg::kStateStopped);
    EXPECT_EQ(Lines(page.ResultList()), atStop) << "nothing arrives from a stopped scan";
    EXPECT_EQ(m_ender.Calls().size(), 3u) << "no file is checked after the stop";
    page.OnUiClick(3);  // stop is not allowed when stopped
    EXPECT_EQ(Text(page.CurrentText()), "扫描已停止");
}

TEST_F(ScanPageTest, AutoScanAndAScanStartedWhileThePreviousOneIsStillStopping) {
    for (int i = 0; i < 10; ++i) Put("quick/d" + std::to_string(i) + "/evil.exe");
    std::set<std::string> second = {Put("full/a/bad.exe"), Put("full/b/bad.exe")};
    Put("full/clean.txt", "c");
    List({{"00000000000000000000000000000001", "evil.exe"},
          {"00000000000000000000000000000002", "bad.exe"}});
    m_ender.holdAt = 1;
    m_settings->autoScan = 1;
    ScanDlg& page = Page();
    EXPECT_EQ(page.GetState(), ScanDlg::kStateScanning) << "the set-up starts a quick scan";
    EXPECT_EQ(m_app.m_bScanRunning, 1);
    ASSERT_TRUE(m_ender.WaitCalls(1));
    page.OnUiClick(3);
    // The first worker is still inside its finding when the next scan is asked for; it will go
    // on to store that finding once released.
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        m_ender.Release();
    });
    const auto before = Clock::now();
    page.OnUiClick(6);
    EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(100))
        << "the old worker is not waited for";
    release.join();
    ASSERT_TRUE(WaitFinished());
    std::vector<std::string> lines = Lines(page.ResultList());
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), second);
    EXPECT_EQ(lines.size(), 2u);
    EXPECT_TRUE(Text(page.SummaryText()).startsWith("扫描结束，共扫描3个文件,危险文件2个,"))
        << Text(page.SummaryText()).toStdString();
    EXPECT_EQ(m_app.m_lstFindings, (std::list<std::u16string>{u"bad.exe", u"bad.exe"}));
}

TEST_F(ScanPageTest, ResultLinesFollowSequenceNumbersNotText) {
    // Prefixes of each other, names differing only in case, and a file that vanishes after its
    // line was shown: each finding keeps exactly one line.
    const std::string evil = Put("quick/d/evil");
    const std::string evilExe = Put("quick/d/evil.exe");
    const std::string upper = Put("quick/d/A.exe");
    const std::string lower = Put("quick/d/a.exe");
    List({{"00000000000000000000000000000001", "evil"},
          {"00000000000000000000000000000002", "evil.exe"},
          {"00000000000000000000000000000003", "a.exe"}});
    m_ender.holdAt = 2;
    ScanDlg& page = Page();
    page.OnUiClick(0);
    ASSERT_TRUE(m_ender.WaitCalls(2, [&] { return page.ResultList()->count() == 1; }));
    const std::string first = m_ender.Calls()[0];
    ASSERT_EQ(unlink(first.c_str()), 0);
    m_ender.Release();
    ASSERT_TRUE(WaitFinished());

    std::vector<std::string> lines = Lines(page.ResultList());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], first) << "a shown line is never updated";
    std::set<std::string> paths;
    for (const std::string& line : lines) {
        const std::string mark = "(已删除)";
        bool deleted = line.size() > mark.size() && line.ends_with(mark);
        paths.insert(deleted ? line.substr(0, line.size() - mark.size()) : line);
    }
    EXPECT_EQ(paths, (std::set<std::string>{evil, evilExe, upper, lower}));
    EXPECT_EQ(m_app.m_lstFindings.size(), 4u);

    // Deleted on finding: listed with the mark, and the next scan's notice names only its own.
    m_settings->deleteOnFind.store(1);
    m_strQuickRoot = m_dir.File("again/");
    const std::string again = Put("again/evil.exe");
    page.OnUiClick(0);
    ASSERT_TRUE(WaitFinished());
    EXPECT_EQ(Lines(page.ResultList()), std::vector<std::string>{again + "(已删除)"});
    EXPECT_FALSE(test::FileExists(again));
    EXPECT_EQ(m_app.m_lstFindings, std::list<std::u16string>{u"evil.exe"});
}

TEST_F(ScanPageTest, SelectAllAndDeleteRebuildTheListAndRewriteTheLog) {
    std::vector<std::string> files = {Put("quick/a/evil.exe"), Put("quick/b/evil.exe"),
                                      Put("quick/c/evil.exe")};
    Put("quick/clean.txt", "c");
    List({{"00000000000000000000000000000001", "evil.exe"}});
    ScanDlg& page = Page();
    page.OnUiClick(0);
    ASSERT_TRUE(WaitFinished());
    QListWidget* list = page.ResultList();
    ASSERT_EQ(list->count(), 3);
    auto checks = [&] {
        std::string s;
        for (int i = 0; i < list->count(); ++i)
            s += list->item(i)->checkState() == Qt::Checked ? '1' : '0';
        return s;
    };
    page.OnUiClick(4);
    EXPECT_EQ(checks(), "111");
    page.OnUiClick(4);
    EXPECT_EQ(checks(), "000");
    list->item(1)->setCheckState(Qt::Checked);
    page.OnUiClick(4);
    EXPECT_EQ(checks(), "111");
    list->item(1)->setCheckState(Qt::Unchecked);
    page.OnUiClick(4);
    EXPECT_EQ(checks(), "000") << "the toggle's state decides, not the hand-set boxes";

    // Nothing checked: no file touched, the list rebuilt and the log rewritten.
    const size_t endedBefore = m_ender.Calls().size();
    const std::vector<std::string> all = Lines(list);
    page.OnUiClick(5);
    EXPECT_EQ(Lines(list), all);
    EXPECT_EQ(Log(), Joined(all));
    for (const std::string& f : files) EXPECT_TRUE(test::FileExists(f));
    EXPECT_EQ(m_ender.Calls().size(), endedBefore);

    // Two checked: their processes are ended, their files deleted, their lines gone.
    list->item(0)->setCheckState(Qt::Checked);
    list->item(2)->setCheckState(Qt::Checked);
    const std::string kept = all[1];
    const int notices = m_main.Notices();
    page.OnUiClick(5);
    EXPECT_EQ(Lines(list), std::vector<std::string>{kept});
    EXPECT_EQ(Log(), kept + "\r\n");
    EXPECT_FALSE(test::FileExists(all[0]));
    EXPECT_FALSE(test::FileExists(all[2]));
    EXPECT_TRUE(test::FileExists(kept));
    std::vector<std::string> ended = m_ender.Calls();
    ASSERT_EQ(ended.size(), endedBefore + 2);
    EXPECT_EQ(std::set<std::string>(ended.end() - 2, ended.end()),
              (std::set<std::string>{all[0], all[2]}));
    EXPECT_EQ(m_app.m_lstFindings, std::list<std::u16string>{u"evil.exe"}) << "not repeated";
    EXPECT_TRUE(Text(page.SummaryText()).startsWith("扫描结束，共扫描4个文件,危险文件1个,"));
    EXPECT_EQ(m_main.Notices(), notices + 1);

    // The last file vanishes on its own: the rebuilt line says so, and so does the log.
    ASSERT_EQ(unlink(kept.c_str()), 0);
    page.OnUiClick(5);
    EXPECT_EQ(Lines(list), std::vector<std::string>{kept + "(已删除)"});
    EXPECT_EQ(Log(), kept + "(已删除)\r\n");
}

TEST_F(ScanPageTest, DeleteTakesOnlyTheFilesTheScanFound) {
    const std::string replaced = Put("quick/a/evil.exe", "found");
    const std::string unchanged = Put("quick/b/evil.exe", "found");
    List({{"00000000000000000000000000000001", "evil.exe"}});
    ScanDlg& page = Page();
    page.OnUiClick(0);
    ASSERT_TRUE(WaitFinished());
    ASSERT_EQ(page.ResultList()->count(), 2);
    const size_t endedBefore = m_ender.Calls().size();

    // A clean copy takes the first one's place (a package update does the same): a new file
    // under the same path.
    struct stat found, now;
    ASSERT_EQ(stat(replaced.c_str(), &found), 0);
    test::WriteFile(replaced + ".new", "clean");
    ASSERT_EQ(rename((replaced + ".new").c_str(), replaced.c_str()), 0);
    ASSERT_EQ(stat(replaced.c_str(), &now), 0);
    ASSERT_NE(now.st_ino, found.st_ino);

    page.OnUiClick(4);
    page.OnUiClick(5);
    EXPECT_EQ(page.ResultList()->count(), 0) << "both lines go";
    EXPECT_EQ(test::ReadFile(replaced), "clean") << "the file put there since stays";
    EXPECT_FALSE(test::FileExists(unchanged));
    EXPECT_EQ(m_ender.Calls().size(), endedBefore + 1);
    EXPECT_EQ(m_ender.Calls().back(), unchanged) << "nothing running the clean copy is ended";
}

// A file of an installed package, unchanged, is shown as a system file and neither ended nor
// deleted, not on finding and not by "删除所选"; one that became such a file after the scan is
// asked about again before it would be deleted. A copy is handled as any finding.
TEST_F(ScanPageTest, SystemFilesAreShownAndNeverDeleted) {
    const std::string tool = Put("quick/usr/bin/tool", "found");
    const std::string later = Put("quick/usr/bin/later", "found");
    const std::string copy = Put("quick/home/tool", "found");
    const std::string admin = m_dir.File("dpkg");
    Put("dpkg/status", "1");
    char md5[33];
    ASSERT_TRUE(ComputeFileMd5(tool.c_str(), md5));
    Put("dpkg/info/tool.md5sums", std::string(md5) + "  usr/bin/tool\n");
    PackageFiles packages(Real(m_dir.File("quick")), admin);
    m_env.pPackageFiles = &packages;
    List({{md5, "nothing.listed"}});
    ScanDlg& page = Page();
    page.OnUiClick(0);
    ASSERT_TRUE(WaitFinished());
    std::set<std::string> lines;
    for (int i = 0; i < page.ResultList()->count(); ++i)
        lines.insert(page.ResultList()->item(i)->text().toStdString());
    EXPECT_EQ(lines, (std::set<std::string>{tool + "(系统文件，未处理)", later, copy}));
    const std::vector<std::string> ended = m_ender.Calls();
    EXPECT_EQ(std::set<std::string>(ended.begin(), ended.end()),
              (std::set<std::string>{later, copy}));

    // dpkg installs `later` meanwhile: its status file changes.
    Put("dpkg/info/later.md5sums", std::string(md5) + "  usr/bin/later\n");
    Put("dpkg/status", "22");
    const size_t endedBefore = m_ender.Calls().size();
    page.OnUiClick(4);
    page.OnUiClick(5);
    EXPECT_TRUE(test::FileExists(tool));
    EXPECT_TRUE(test::FileExists(later));
    EXPECT_FALSE(test::FileExists(copy));
    EXPECT_EQ(m_ender.Calls().size(), endedBefore + 1);
    EXPECT_EQ(page.ResultList()->count(), 2) << "the lines of what was left stay";
    EXPECT_NE(Log().find(tool + "(系统文件，未处理)\r\n"), std::string::npos) << Log();
}

TEST_F(ScanPageTest, AFileThatCannotBeQuarantinedKeepsItsLineAndTheLogSaysWhy) {
    const std::string found = Put("quick/evil.exe");
    List({{"00000000000000000000000000000001", "evil.exe"}});
    ScanDlg& page = Page();
    page.OnUiClick(0);
    ASSERT_TRUE(WaitFinished());
    ASSERT_EQ(page.ResultList()->count(), 1);
    // A file holds the quarantine's name: nothing can be moved in, so nothing is deleted.
    test::WriteFile(m_dir.File("quarantine"), "in the way");
    page.ResultList()->item(0)->setCheckState(Qt::Checked);
    page.OnUiClick(5);
    EXPECT_EQ(Lines(page.ResultList()), std::vector<std::string>{found});
    EXPECT_TRUE(test::FileExists(found));
    EXPECT_EQ(Log(), found + "(未隔离：无法写入隔离区)\r\n");

    ASSERT_EQ(unlink(m_dir.File("quarantine").c_str()), 0);
    page.ResultList()->item(0)->setCheckState(Qt::Checked);
    page.OnUiClick(5);
    EXPECT_EQ(page.ResultList()->count(), 0);
    EXPECT_FALSE(test::FileExists(found));
    std::vector<QuarantineRecord> items;
    ASSERT_EQ(Quarantine(m_dir.File("quarantine")).List(items), 0);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].pathBytes, found);
    EXPECT_EQ(items[0].listedEntry, "evil.exe");
    EXPECT_EQ(items[0].origin, QuarantineOrigin::kScanPage);
}

TEST_F(ScanPageTest, CleanScanWritesNoLogAndEmptyRootsAreRefused) {
    for (int i = 0; i < 5; ++i) Put("quick/f" + std::to_string(i), std::to_string(i));
    List({{"00000000000000000000000000000001", "evil.exe"}});
    ScanDlg& page = Page();
    page.OnUiClick(0);
    ASSERT_TRUE(WaitFinished());
    EXPECT_TRUE(Text(page.SummaryText()).startsWith("扫描结束，共扫描5个文件,危险文件0个,耗时"));
    EXPECT_EQ(page.ResultList()->count(), 0);
    struct stat st;
    EXPECT_NE(stat(m_dir.File("log").c_str(), &st), 0) << "no log and no log folder";
    EXPECT_EQ(m_main.Notices(), 0);

    m_strQuickRoot.clear();
    EXPECT_EQ(page.StartScan({}), -1);
    page.OnUiClick(0);
    EXPECT_EQ(m_boxes, (std::vector<std::string>{"Tovarek|请选择要扫描的目录",
                                                 "Tovarek|请选择要扫描的目录"}));
    EXPECT_EQ(page.GetState(), ScanDlg::kStateFinished);
    EXPECT_EQ(m_app.m_bScanRunning, 0);
}

TEST_F(ScanPageTest, OnlyTheEnabledGroupIsDrawnAndClickable) {
    for (int i = 0; i < 5; ++i) Put("quick/d" + std::to_string(i) + "/evil.exe");
    List({{"00000000000000000000000000000001", "evil.exe"}});
    m_ender.holdAt = 1;
    ScanDlg& page = Page();
    page.setWindowFlags(Qt::FramelessWindowHint);
    page.resize(600, 400);
    page.show();
    // (30, 25) lies on the quick scan button and, while scanning, on the pause button.
    page.grab();
    Click(&page, QPoint(30, 25));
    EXPECT_EQ(page.GetState(), ScanDlg::kStateScanning);
    ASSERT_TRUE(m_ender.WaitCalls(1));
    // The full scan button's right end, past the stop button: painted only while it is enabled.
    const int fullRight = 110 + page.QuickButton()->GetBounds().width() - 4;
    ASSERT_GT(fullRight, 120);
    auto fullShows = [&] {
        const QImage shot = page.grab().toImage();
        const QImage& back = page.backBuffer().Bitmap();
        return shot.pixel(fullRight, 27) != back.pixel(fullRight, 27);
    };
    EXPECT_FALSE(fullShows()) << "the idle pair is not drawn under pause and stop";
    Click(&page, QPoint(30, 25));
    EXPECT_EQ(page.GetState(), ScanDlg::kStatePaused) << "the hidden quick button took the click";
    page.grab();
    Click(&page, QPoint(90, 25));
    EXPECT_EQ(page.GetState(), ScanDlg::kStateStopped);
    m_ender.Release();
    EXPECT_TRUE(fullShows());
    Click(&page, QPoint(30, 25));
    EXPECT_EQ(page.GetState(), ScanDlg::kStateScanning) << "quick again, not pause";
    // The main window's shutdown.
    page.StopAndJoinScan();
    EXPECT_FALSE(page.IsScanRunning());
    EXPECT_EQ(m_app.m_bScanRunning, 0);
}

TEST_F(ScanPageTest, ObjectsMarkupsAndPlacesAsDesigned) {
    Put("quick/evil.exe");
    List({{"00000000000000000000000000000001", "evil.exe"}});
    m_ender.holdAt = 1;
    ScanDlg& page = Page();
    QListWidget* list = page.ResultList();
    EXPECT_EQ(list->geometry(), QRect(0, 35, 350, 200)) << "where the set-up puts it";
    EXPECT_EQ(list->font(), m_app.m_pUiRes->fntText);

    const int button = m_app.m_pUiRes->imgButton->GetId();
    const int checkBox = m_app.m_pUiRes->imgCheckBox->GetId();
    ASSERT_NE(button, checkBox);
    EXPECT_EQ(Text(page.QuickButton()), QString("/a,p5=%1,btn_text='开始快速扫描'/").arg(button));
    EXPECT_EQ(Text(page.FullButton()), QString("/a,p5=%1,btn_text='开始全盘扫描'/").arg(button));
    EXPECT_EQ(Text(page.CustomButton()), QString("/a,p5=%1,btn_text='扫描指定目录'/").arg(button));
    EXPECT_EQ(Text(page.PauseButton()),
              QString("/a,p5=%1,btn_width=45,btn_text='暂停'/").arg(button));
    EXPECT_EQ(Text(page.StopButton()),
              QString("/a,p5=%1,btn_width=45,btn_text='停止'/").arg(button));
    EXPECT_EQ(Text(page.SelectAllButton()),
              QString("/a,p5=%1,btn_type=1/全选//全不选").arg(checkBox));
    EXPECT_EQ(Text(page.DeleteButton()),
              QString("/a,p5=%1,btn_height=20,btn_text='删除所选'/").arg(button));
    EXPECT_EQ(Text(page.SummaryText()), "扫描0个文件，危险文件0个");
    EXPECT_EQ(Text(page.CurrentText()), "等待扫描。。。");

    page.setWindowFlags(Qt::FramelessWindowHint);
    page.resize(600, 400);
    page.show();
    for (QSize size : {QSize(600, 400), QSize(450, 300)}) {
        page.resize(size);
        page.grab();
        const int w = size.width(), h = size.height();
        EXPECT_EQ(list->geometry(), QRect(5, 50, w - 10, h - 110));
        EXPECT_EQ(page.QuickButton()->GetBounds().topLeft(), QPoint(10, 15));
        EXPECT_EQ(page.FullButton()->GetBounds().topLeft(), QPoint(110, 15));
        EXPECT_EQ(page.CustomButton()->GetBounds().topLeft(), QPoint(210, 15));
        EXPECT_EQ(page.SelectAllButton()->GetBounds().topLeft(), QPoint(w - 160, 20));
        EXPECT_EQ(page.DeleteButton()->GetBounds().topLeft(), QPoint(w - 70, 15));
        EXPECT_EQ(page.SummaryText()->GetBounds().topLeft(), QPoint(5, h - 50));
        EXPECT_EQ(page.CurrentText()->GetBounds().topLeft(), QPoint(5, h - 35));
    }
    // Pause and stop are drawn only while a scan runs, in the places of quick and full.
    page.OnUiClick(0);
    ASSERT_TRUE(m_ender.WaitCalls(1));
    page.grab();
    EXPECT_EQ(page.PauseButton()->GetBounds().topLeft(), QPoint(10, 15));
    EXPECT_EQ(page.StopButton()->GetBounds().topLeft(), QPoint(70, 15));
    page.OnUiClick(3);
    m_ender.Release();
}

// ---- the scan directory dialog ----

QDialog* OpenDialog(QWidget* page) {
    return page->window()->findChild<QDialog*>("SetScanPathDlg");
}

TEST_F(ScanPageTest, DialogEditsACopyAndEnterStartsTheScan) {
    Put("dflt/evil.exe");
    const std::string chosen = Put("chosen/evil.exe");
    List({{"00000000000000000000000000000001", "evil.exe"}});
    m_settings->defaultScanDirs = {Utf8ToUtf16(m_dir.File("dflt/"))};
    m_env.chooseFolder = [&](QWidget*, const QString& title) {
        EXPECT_EQ(title, "请选择要扫描的目录：");
        return QString::fromStdString(m_dir.File("chosen"));
    };
    ScanDlg& page = Page();
    bool checked = false;
    QTimer::singleShot(0, [&] {
        auto* dlg = static_cast<SetScanPathDlg*>(OpenDialog(&page));
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(m_app.m_bDialogOpen, 1);
        EXPECT_EQ(dlg->size(), QSize(380, 200));
        EXPECT_EQ(dlg->windowTitle(), "设置扫描目录");
        EXPECT_TRUE(dlg->windowFlags() & Qt::FramelessWindowHint);
        EXPECT_EQ(dlg->DirList()->geometry(), QRect(5, 25, 370, 150));
        ASSERT_EQ(dlg->DirList()->count(), 1);
        dlg->OnUiClick(1);  // add the chosen folder
        ASSERT_EQ(dlg->DirList()->count(), 2);
        EXPECT_EQ(dlg->DirList()->item(1)->text().toStdString(), m_dir.File("chosen/"));
        dlg->DirList()->item(0)->setCheckState(Qt::Checked);
        dlg->OnUiClick(2);  // remove the default one
        EXPECT_EQ(dlg->DirList()->count(), 1);
        dlg->DirList()->setFocus();
        checked = true;
        PressKey(dlg->DirList(), Qt::Key_Return);
    });
    page.OnUiClick(7);
    ASSERT_TRUE(checked);
    EXPECT_EQ(m_app.m_bDialogOpen, 0);
    EXPECT_EQ(OpenDialog(&page), nullptr) << "destroyed after use";
    EXPECT_EQ(m_settings->defaultScanDirs,
              std::list<std::u16string>{Utf8ToUtf16(m_dir.File("dflt/"))})
        << "the dialog's edits never flow back";
    EXPECT_EQ(page.GetState(), ScanDlg::kStateScanning);
    ASSERT_TRUE(WaitFinished());
    EXPECT_EQ(Lines(page.ResultList()), std::vector<std::string>{chosen});

    // Reopened: the copy is taken again. Emptied, it still ends with OK; the page refuses it.
    int count = -1;
    QTimer::singleShot(0, [&] {
        auto* dlg = static_cast<SetScanPathDlg*>(OpenDialog(&page));
        ASSERT_NE(dlg, nullptr);
        count = dlg->DirList()->count();
        dlg->DirList()->item(0)->setCheckState(Qt::Checked);
        dlg->OnUiClick(2);
        dlg->OnUiClick(3);
    });
    const int64_t started = page.StartTime();
    page.OnUiClick(7);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(m_boxes, std::vector<std::string>{"Tovarek|请选择要扫描的目录"});
    EXPECT_EQ(page.StartTime(), started);
    EXPECT_EQ(page.GetState(), ScanDlg::kStateFinished);
}

TEST_F(ScanPageTest, DialogEndsAsCancelUnlessStartOrEnter) {
    m_settings->defaultScanDirs = {u"/nowhere/"};
    const std::pair<const char*, std::function<void(SetScanPathDlg&)>> ways[] = {
        {"close image / 取消", [](SetScanPathDlg& d) { d.OnUiClick(0); }},
        {"window closed", [](SetScanPathDlg& d) { d.close(); }},
        {"Esc", [](SetScanPathDlg& d) { PressKey(&d, Qt::Key_Escape); }},
        {"Esc on the list", [](SetScanPathDlg& d) { PressKey(d.DirList(), Qt::Key_Escape); }},
        {"开始扫描", [](SetScanPathDlg& d) { d.OnUiClick(3); }},
        {"Enter", [](SetScanPathDlg& d) { PressKey(&d, Qt::Key_Enter); }},
        {"Enter on the list", [](SetScanPathDlg& d) { PressKey(d.DirList(), Qt::Key_Return); }},
    };
    for (size_t i = 0; i < std::size(ways); ++i) {
        SetScanPathDlg dlg(m_app, nullptr);
        dlg.open();
        ways[i].second(dlg);
        EXPECT_FALSE(dlg.isVisible()) << ways[i].first;
        EXPECT_EQ(dlg.result(), i < 4 ? QDialog::Rejected : QDialog::Accepted) << ways[i].first;
    }
}

TEST_F(ScanPageTest, DialogChooserFailuresAndProgramEnd) {
    m_settings->defaultScanDirs = {Utf8ToUtf16(m_dir.File("quick/"))};
    QString answer;
    m_env.chooseFolder = [&](QWidget*, const QString&) { return answer; };
    {
        SetScanPathDlg dlg(m_app, nullptr);
        dlg.OnUiClick(1);  // chooser cancelled
        answer = "relative/dir";
        dlg.OnUiClick(1);
        EXPECT_EQ(m_boxes, (std::vector<std::string>{"Tovarek|无效的目录，请重新选择",
                                                     "Tovarek|无效的目录，请重新选择"}));
        EXPECT_EQ(dlg.scanDirs.size(), 1u);
        // The program decided to end while the chooser was open: nothing more happens.
        answer = "/";
        m_env.chooseFolder = [&](QWidget*, const QString&) {
            m_app.m_bExiting = 1;
            return answer;
        };
        dlg.OnUiClick(1);
        EXPECT_EQ(dlg.scanDirs.size(), 1u);
        EXPECT_EQ(m_boxes.size(), 2u);
        m_app.m_bExiting = 0;
        m_env.chooseFolder = [&](QWidget*, const QString&) { return answer; };
        dlg.OnUiClick(1);
        EXPECT_EQ(dlg.scanDirs.back(), u"/") << "a root stays one slash";
    }

    // Accepted while the program is ending: the page starts nothing.
    Put("quick/evil.exe");
    ScanDlg& page = Page();
    QTimer::singleShot(0, [&] {
        m_app.m_bExiting = 1;
        OpenDialog(&page)->accept();
    });
    page.OnUiClick(7);
    EXPECT_EQ(page.GetState(), ScanDlg::kStateStopped);
    EXPECT_EQ(m_app.m_bDialogOpen, 0);
}

// Stopped inside a 64 GiB file, the page answers at once: "删除所选" and a new scan do not wait
// for the worker that was reading; it finishes on its own, and the page's end is quick too.
TEST_F(ScanPageTest, StopInsideAHugeFileThenDeleteAndANewScanAtOnce) {
    Put("quick/evil.exe");
    const std::string huge = Put("quick/zz/huge.bin");
    ASSERT_EQ(truncate(huge.c_str(), off_t{64} << 30), 0);
    const std::string second = Put("full/evil.exe");
    List({{"00000000000000000000000000000001", "evil.exe"}});
    ScanDlg& page = Page();
    page.OnUiClick(0);
    // Named while it is read, not once it has been.
    ASSERT_TRUE(RunUntil([&] { return Text(page.CurrentText()).contains("huge.bin"); }, 5000))
        << Text(page.CurrentText()).toStdString() << " " << page.GetState();
    RunFor(50);
    const auto t0 = Clock::now();
    page.OnUiClick(3);
    page.OnUiClick(4);
    page.OnUiClick(5);
    page.OnUiClick(6);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(100));
    EXPECT_EQ(page.GetState(), ScanDlg::kStateScanning);
    ASSERT_TRUE(WaitFinished());
    EXPECT_EQ(Lines(page.ResultList()), std::vector<std::string>{second});
    EXPECT_TRUE(Text(page.PauseButton()).contains("btn_text='暂停'"));
    const auto t1 = Clock::now();
    m_page.reset();
    EXPECT_LT(Clock::now() - t1, std::chrono::seconds(1));
}

// The list is read off the UI thread: a click returns at once while a locked list is waited for,
// and the scan starts when it has been read. A list that can't be read is never taken for an
// empty one: no scan starts, and once the list can be read again the next click scans with it.
TEST_F(ScanPageTest, TheListIsReadOffTheWindowAndAnUnreadableOneStartsNoScan) {
    const std::string evil = Put("quick/evil.exe");
    List({{"00000000000000000000000000000001", "evil.exe"}});
    ScanDlg& page = Page();
    {
        Database holder;
        OpenDatabase(holder);
        ASSERT_EQ(Execute(holder, "begin exclusive transaction;", false), 0);
        const auto t0 = Clock::now();
        page.OnUiClick(0);
        EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(200));
        EXPECT_EQ(page.GetState(), ScanDlg::kStateScanning);
        RunFor(300);
        Execute(holder, "commit transaction;", false);
    }
    ASSERT_TRUE(WaitFinished());
    EXPECT_EQ(Lines(page.ResultList()), std::vector<std::string>{evil});
    EXPECT_TRUE(m_boxes.empty());

    m_app.m_bBlacklistStale.store(1);
    ASSERT_EQ(rename("Ravlin.db", "Ravlin.db.kept"), 0);
    test::WriteFile("Ravlin.db", std::string(4096, 'x'));
    page.OnUiClick(0);
    ASSERT_TRUE(RunUntil([&] { return page.GetState() != ScanDlg::kStateScanning; }));
    EXPECT_EQ(page.GetState(), ScanDlg::kStateStopped);
    EXPECT_EQ(m_boxes, std::vector<std::string>{"Tovarek|列表读取失败，无法扫描！"});
    EXPECT_EQ(m_app.m_bScanRunning, 0);
    EXPECT_TRUE(Lines(page.ResultList()).empty());
    ASSERT_EQ(rename("Ravlin.db.kept", "Ravlin.db"), 0);
    page.OnUiClick(0);
    ASSERT_TRUE(WaitFinished());
    EXPECT_EQ(Lines(page.ResultList()), std::vector<std::string>{evil});
}

}  // namespace
}  // namespace tovarek
