// The main window offscreen: its objects at the designed places, the page switch, the message
// table, the update cycle against a refused address, the exit paths with boxes answered by the
// test, the drag and the updater launch.
#include "ui/ravlin_dlg.h"

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <QApplication>
#include <QCloseEvent>
#include <QListWidget>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>
#include <memory>
#include <vector>

#include "app/ravlin_app.h"
#include "store/app_settings.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/test_ui_env.h"
#include "tests/ui/window_test_support.h"
#include "ui/message_box.h"
#include "ui/popup_dlg.h"
#include "ui/protect_dlg.h"
#include "ui/scan_dlg.h"
#include "ui/set_dlg.h"
#include "ui/skin/skin_ui.h"
#include "ui/ui_resources.h"
#include "ui/updater_launch.h"
#include "ui/window_message.h"
#include "update/down_control_thread.h"

namespace tovarek {
namespace {

// Nothing listens on port 1: every list update fails at once.
constexpr const char* kRefusedUrl = "http://127.0.0.1:1/ravlin/list/curdaylist.xml";

struct BoxCall {
    QString text, caption;
    QMessageBox::StandardButtons buttons;
};

class MainWindowTest : public ::testing::Test {
protected:
    test::TestUiEnv m_env;
    void SetUp() override {
        m_dir = std::make_unique<test::TempDir>(true);  // Ravlin.db of its own
        m_settings = std::make_unique<AppSettings>();
        m_settings->LoadSettings();
        InitAppState(m_app, m_settings.get());
        m_app.m_strModuleDir = QString::fromStdString(m_dir->path() + "/").toStdU16String();
        m_app.m_strVersion = u"1.0.0.1 ";
        m_res.fntText = MakeListFont();
        LoadUiResources(m_res);
        m_app.m_pUiRes = &m_res;
        m_env.messageBox = [this](QWidget*, const QString& text, const QString& caption,
                                  QMessageBox::StandardButtons buttons) {
            m_boxes.push_back({text, caption, buttons});
            return m_fnAnswer ? m_fnAnswer() : QMessageBox::Ok;
        };
    }
    void TearDown() override { m_dlg.reset(); }
    CRavlinDlg& Make() {
        m_dlg = std::make_unique<CRavlinDlg>(m_app, kRefusedUrl);
        return *m_dlg;
    }
    // Runs the event loop as start-up does, with `action` as its first step; the status exec()
    // returned, or 99 when nothing ended it within 5 s.
    int RunLoop(std::function<void()> action) {
        QTimer::singleShot(0, action);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(5000);
        return QApplication::exec();
    }

    std::unique_ptr<test::TempDir> m_dir;
    std::unique_ptr<AppSettings> m_settings;
    CRavlinApp m_app;
    UiResources m_res;
    std::unique_ptr<CRavlinDlg> m_dlg;
    std::vector<BoxCall> m_boxes;
    std::function<QMessageBox::StandardButton()> m_fnAnswer;
};

TEST_F(MainWindowTest, ObjectsPagesAndTextsAtTheDesignedPlaces) {
    CRavlinDlg& w = Make();
    EXPECT_EQ(w.ListDateLine()->GetText(), QString::fromUtf8("列表更新日期：暂无更新"));
    EXPECT_EQ(w.VersionLine()->GetText(), QString::fromUtf8("当前版本：1.0.0.1 "));
    EXPECT_EQ(w.TabButton(1)->GetText(), QString::fromUtf8("/a,p5=%1,btn_width=80,btn_text='保护'/")
                                             .arg(m_res.imgTabButton->GetId()));
    EXPECT_EQ(w.windowTitle(), "Tovarek");
    EXPECT_FALSE(w.windowIcon().isNull());
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w.size(), QSize(600, 400));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(w.pos(),
              QPoint(area.x() + (area.width() - 600) / 2, area.y() + (area.height() - 400) / 2));
    EXPECT_EQ(w.TrayIconId(), 130);
    EXPECT_EQ(w.TrayIcon()->toolTip(), "Tovarek");
    ASSERT_EQ(w.TrayMenu()->actions().size(), 1);
    EXPECT_EQ(w.TrayMenu()->actions()[0]->text(), QString::fromUtf8("退出(&C)"));
    EXPECT_EQ(w.TrayMenu()->actions()[0]->data().toInt(), ID_TRAY_EXIT);

    w.show();
    const QImage shot = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(w.lastCopyResult(), 1);
    EXPECT_EQ(w.MinButton()->GetBounds().topLeft(), QPoint(525, 0));
    EXPECT_EQ(w.CloseButton()->GetBounds().topLeft(), QPoint(557, 0));
    EXPECT_EQ(w.TabButton(0)->GetBounds(), QRect(10, 35, 80, 24));
    EXPECT_EQ(w.TabButton(1)->GetBounds(), QRect(10, 75, 80, 24));
    EXPECT_EQ(w.TabButton(2)->GetBounds(), QRect(10, 115, 80, 24));
    EXPECT_EQ(w.VersionLine()->GetBounds().topLeft(), QPoint(10, 385));
    EXPECT_EQ(w.ListDateLine()->GetBounds().topLeft(), QPoint(390, 385));
    // The separator lines of the back buffer, and button faces over the title bar and the
    // background: the buttons are really painted where their bounds say.
    EXPECT_EQ(shot.pixel(95, 60), qRgb(100, 100, 100));
    EXPECT_EQ(shot.pixel(50, 380), qRgb(100, 100, 100));
    const QImage bare = w.backBuffer().Bitmap().convertToFormat(QImage::Format_RGB32);
    auto painted = [&](const QRect& r) {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) n += shot.pixel(x, y) != bare.pixel(x, y);
        return n;
    };
    EXPECT_GT(painted(QRect(525, 0, 27, 20)), 0);
    EXPECT_GT(painted(QRect(557, 0, 38, 20)), 0);
    EXPECT_GT(painted(QRect(10, 115, 80, 24)), 0);
    EXPECT_GT(painted(QRect(10, 386, 100, 13)), 0);   // version line
    EXPECT_GT(painted(QRect(390, 386, 200, 13)), 0);  // list date line
    EXPECT_EQ(painted(QRect(10, 150, 80, 200)), 0);   // free space below the buttons

    // Pages: children in the order scan, protection, settings, all at (100, 25, 495, 350);
    // only the scan page shows. The pop-up is a hidden window of its own.
    QWidget* pages[] = {w.ScanPage(), w.ProtectPage(), w.SetPage()};
    const char* names[] = {"ScanDlg", "ProtectDlg", "SetDlg"};
    int previous = -1;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pages[i]->parentWidget(), &w);
        EXPECT_EQ(pages[i]->objectName(), names[i]);
        EXPECT_EQ(pages[i]->geometry(), QRect(100, 25, 495, 350));
        const int order = w.children().indexOf(pages[i]);
        EXPECT_GT(order, previous);
        previous = order;
    }
    EXPECT_TRUE(w.ScanPage()->isVisible());
    EXPECT_FALSE(w.ProtectPage()->isVisible());
    EXPECT_FALSE(w.SetPage()->isVisible());
    EXPECT_EQ(w.Popup()->parentWidget(), nullptr);
    EXPECT_FALSE(w.Popup()->isVisible());
    EXPECT_EQ(w.Popup()->size(), QSize(180, 200));
}

TEST_F(MainWindowTest, PageButtonsSwitchPagesAndFreeSpaceDragsTheWindow) {
    CRavlinDlg& w = Make();
    w.show();
    w.grab();  // a paint pass, so the buttons take clicks
    QWidget* pages[] = {w.ScanPage(), w.ProtectPage(), w.SetPage()};
    for (int tab : {2, 1, 0, 1}) {
        test::Click(&w, w.TabButton(tab)->GetBounds().center());
        for (int i = 0; i < 3; ++i) EXPECT_EQ(pages[i]->isVisible(), i == tab) << tab << i;
    }
    w.OnTabClick(3);
    w.OnTabClick(-1);
    EXPECT_TRUE(w.ProtectPage()->isVisible());

    // Offscreen has no window manager to move the window, so it moves by hand.
    const QPoint start = w.pos();
    test::SendMouse(&w, QEvent::MouseButtonPress, {50, 200}, Qt::LeftButton, Qt::LeftButton);
    test::SendMouse(&w, QEvent::MouseMove, {80, 220}, Qt::NoButton, Qt::LeftButton);
    test::SendMouse(&w, QEvent::MouseButtonRelease, {80, 220}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(w.pos(), start + QPoint(30, 20));
    // A press on a button is the button's, not a drag.
    test::Click(&w, w.TabButton(2)->GetBounds().center());
    EXPECT_EQ(w.pos(), start + QPoint(30, 20));
}

TEST_F(MainWindowTest, MessageTable) {
    CRavlinDlg& w = Make();
    w.show();
    auto post = [&w](unsigned message, uintptr_t wParam) {
        w.PostMessage(message, wParam, 0);
        test::DeliverPostedMessages(&w);
    };
    // Protection icon by the high word only.
    struct IconCase {
        uintptr_t wParam;
        int icon;
    } icons[] = {{0x0, 129}, {0x20000, 129}, {0x10000, 130}, {0xFFFF0000, 130}, {0xFFFF, 129}};
    for (const IconCase& c : icons) {
        post(WM_PROTECT_ICON, c.wParam);
        EXPECT_EQ(w.TrayIconId(), c.icon) << std::hex << c.wParam;
    }

    // The list date as the worker left it, read when the message arrives.
    m_app.SetListDate(u"2024-05-06 07:08:09");
    post(WM_LIST_DOWNLOAD_DONE, 0);
    EXPECT_EQ(w.ListDateLine()->GetText(), QString::fromUtf8("列表更新日期：2024-05-06 07:08:09"));
    post(WM_LIST_DOWNLOAD_DONE, 1);
    EXPECT_EQ(w.ListDateLine()->GetText(), QString::fromUtf8("列表更新失败."));

    // Notices while the window shows: nothing at all.
    m_app.m_lstFindings = {u"/opt/a.bin"};
    m_app.m_lstInterceptions = {u"evil", u"worse"};
    for (uintptr_t kind : {0u, 1u, 2u}) post(WM_SHOW_NOTICE, kind);
    test::DeliverPostedMessages(w.Popup());
    EXPECT_FALSE(w.Popup()->isVisible());
    EXPECT_TRUE(w.isVisible());

    // Hidden to the tray (offscreen has no tray: minimised, still counted as hidden).
    m_settings->closeToTray = 1;
    m_app.m_bScanRunning = 1;  // no question is asked when the window only hides
    w.OnTitleClick(1);
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(w.IsHiddenToTray(), 1);
    EXPECT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_TRUE(w.isMinimized());
    post(WM_SHOW_NOTICE, 1);
    test::DeliverPostedMessages(w.Popup());
    EXPECT_TRUE(w.Popup()->isVisible());
    ASSERT_EQ(w.Popup()->NameList()->count(), 2);
    EXPECT_EQ(w.Popup()->NameList()->item(1)->text(), "worse");
    EXPECT_EQ(w.Popup()->Heading()->GetText(), QString::fromUtf8("拦截到危险文件："));
    post(WM_SHOW_NOTICE, 0);
    test::DeliverPostedMessages(w.Popup());
    EXPECT_EQ(w.Popup()->Heading()->GetText(), QString::fromUtf8("扫描到危险文件："));
    ASSERT_EQ(w.Popup()->NameList()->count(), 1);
    // "查看" on the pop-up brings the window back.
    w.Popup()->OnUiClick(1);
    test::DeliverPostedMessages(&w);
    EXPECT_EQ(w.IsHiddenToTray(), 0);
    EXPECT_FALSE(w.isMinimized());
    EXPECT_FALSE(w.Popup()->isVisible());

    // The tray's activation shows a hidden window too.
    w.OnTitleClick(1);
    ASSERT_EQ(w.IsHiddenToTray(), 1);
    post(WM_TRAY_NOTIFY, 0);
    EXPECT_EQ(w.IsHiddenToTray(), 1);  // lParam 0 is no click
    w.PostMessage(WM_TRAY_NOTIFY, 1, kTrayDoubleClick);
    test::DeliverPostedMessages(&w);
    EXPECT_EQ(w.IsHiddenToTray(), 0);
    EXPECT_EQ(m_app.m_bExiting, 0);
    // Many tray hosts report a single activation only; both show the window, a menu does not.
    for (auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}) {
        w.OnTitleClick(1);
        emit w.TrayIcon()->activated(QSystemTrayIcon::Context);
        test::DeliverPostedMessages(&w);
        EXPECT_EQ(w.IsHiddenToTray(), 1);
        emit w.TrayIcon()->activated(reason);
        test::DeliverPostedMessages(&w);
        EXPECT_EQ(w.IsHiddenToTray(), 0) << reason;
    }
}

TEST_F(MainWindowTest, RestoredFromTheTaskBarAfterACloseWithNoTrayIsNoLongerHidden) {
    CRavlinDlg& w = Make();
    w.show();
    m_settings->closeToTray = 1;
    m_app.m_lstInterceptions = {u"evil"};
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    for (int round = 0; round < 2; ++round) {
        w.OnTitleClick(1);
        QApplication::processEvents();
        ASSERT_TRUE(w.isMinimized());
        ASSERT_EQ(w.IsHiddenToTray(), 1);
        // The task bar restores it through the window system, as a user's click would.
        w.windowHandle()->setWindowStates(Qt::WindowNoState);
        EXPECT_TRUE(test::WaitUntil([&] { return !w.isMinimized(); }));
        EXPECT_EQ(w.IsHiddenToTray(), 0) << round;
        // In plain sight a notice shows nothing.
        w.PostMessage(WM_SHOW_NOTICE, 1, 0);
        test::DeliverPostedMessages(&w);
        test::DeliverPostedMessages(w.Popup());
        EXPECT_FALSE(w.Popup()->isVisible()) << round;
    }
}

TEST_F(MainWindowTest, UpdateTimerRunsOneCycleThatEndsInTheFailureText) {
    CRavlinDlg& w = Make();
    EXPECT_TRUE(w.IsUpdateTimerActive());
    EXPECT_EQ(w.UpdateTimerPeriodMs(), 10);
    const QString failed = QString::fromUtf8("列表更新失败.");
    // The first tick comes by itself, moments after set-up.
    EXPECT_TRUE(test::WaitUntil([&] { return w.ListDateLine()->GetText() == failed; }));
    EXPECT_TRUE(w.IsUpdateTimerActive());  // the hourly one now
    EXPECT_EQ(w.UpdateTimerPeriodMs(), 3600000);
    // A tick shows the updating text until the worker's answer arrives.
    w.OnTimer(0);
    EXPECT_EQ(w.ListDateLine()->GetText(), QString::fromUtf8("正在更新..."));
    EXPECT_TRUE(test::WaitUntil([&] { return w.ListDateLine()->GetText() == failed; }));
    EXPECT_EQ(w.DownThread()->m_hNotifyWnd.load(), static_cast<MessageSink*>(&w));
}

TEST_F(MainWindowTest, ExitChecksThroughTheBoxes) {
    CRavlinDlg& w = Make();
    w.show();
    m_app.m_bDialogOpen = 1;
    m_app.m_bScanRunning = 1;
    w.OnCommand(ID_TRAY_EXIT);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, QString::fromUtf8("请关闭对话框！"));
    EXPECT_EQ(m_boxes[0].caption, "Tovarek");
    EXPECT_EQ(m_app.m_bExiting, 0);

    m_app.m_bDialogOpen = 0;
    m_fnAnswer = [] { return QMessageBox::Cancel; };
    w.OnTitleClick(1);  // close button with close-to-tray off
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_EQ(m_boxes[1].text, QString::fromUtf8("扫描任务正在执行，是否仍然关闭？"));
    EXPECT_EQ(m_boxes[1].caption, QString::fromUtf8("警告"));
    EXPECT_EQ(m_boxes[1].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(m_app.m_bExiting, 0);
    EXPECT_TRUE(w.isVisible());
    EXPECT_NE(w.DownThread(), nullptr);

    // The window manager's close is the close button: OK this time ends the program.
    m_fnAnswer = [] { return QMessageBox::Ok; };
    EXPECT_EQ(RunLoop([&w] { w.close(); }), 0);
    EXPECT_EQ(m_boxes.size(), 3u);
    EXPECT_EQ(m_app.m_bExiting, 1);
    EXPECT_EQ(w.DownThread(), nullptr);
    EXPECT_FALSE(w.TrayIcon()->isVisible());
    w.OnCommand(ID_TRAY_EXIT);  // after the end nothing asks again
    EXPECT_EQ(m_boxes.size(), 3u);
}

TEST_F(MainWindowTest, ExitNowEndsNestedLoopsWithoutAsking) {
    CRavlinDlg& w = Make();
    w.show();
    m_app.m_bScanRunning = 1;
    // A signal arrives while the warning box is up: the box's own loop ends and the answer it
    // would give (OK) changes nothing more.
    int nestedStatus = -1;
    m_fnAnswer = [&] {
        w.PostMessage(WM_EXIT_NOW, 0, 0);
        QEventLoop box;
        nestedStatus = box.exec();
        return QMessageBox::Ok;
    };
    EXPECT_EQ(RunLoop([&w] { w.ExitApp(); }), 0);
    EXPECT_EQ(nestedStatus, 0);
    EXPECT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_app.m_bExiting, 1);
    EXPECT_EQ(w.DownThread(), nullptr);
}

TEST_F(MainWindowTest, UpdaterStartsOnlyAsARegularExecutableFile) {
    const std::string marker = m_dir->File("ran");
    const std::string kelvane = m_dir->File("Kelvane");
    auto script = [&](const std::string& path) {
        test::WriteFile(path, "#!/bin/sh\necho \"$#\" >>'" + marker + "'\n");
    };
    // Missing, a directory, not executable: nothing starts, nothing is said.
    EXPECT_FALSE(LaunchUpdater(QString::fromStdString(kelvane)));
    ASSERT_EQ(mkdir(kelvane.c_str(), 0755), 0);
    EXPECT_FALSE(LaunchUpdater(QString::fromStdString(kelvane)));
    ASSERT_EQ(rmdir(kelvane.c_str()), 0);
    script(kelvane);
    chmod(kelvane.c_str(), 0644);
    EXPECT_FALSE(LaunchUpdater(QString::fromStdString(kelvane)));
    EXPECT_FALSE(test::FileExists(marker));

    // Executable: the window starts it once, with no arguments.
    chmod(kelvane.c_str(), 0755);
    Make();
    ASSERT_TRUE(test::WaitUntil(
        [&] { return test::FileExists(marker) && !test::ReadFile(marker).empty(); }));
    test::WaitUntil([] { return false; }, 300);  // a second start would show by now
    EXPECT_EQ(test::ReadFile(marker), "0\n");
}

}  // namespace
}  // namespace tovarek
