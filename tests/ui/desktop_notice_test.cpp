// Notices as the desktop's notifications: the arguments of one Notify call, the notifier against
// a notification server of the test's own on a private bus (checked replies, one notice per kind,
// the "查看" action), and the main window on the Wayland route, offscreen.
#include "ui/desktop_notifier.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QWindow>
#include <memory>
#include <vector>

#include "app/ravlin_app.h"
#include "platform/messages.h"
#include "store/app_settings.h"
#include "tests/support/notice_server.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/window_test_support.h"
#include "ui/popup_dlg.h"
#include "ui/ravlin_dlg.h"
#include "ui/skin/skin_ui.h"
#include "ui/ui_resources.h"
#include "ui/window_message.h"

namespace tovarek {
namespace {

const QString kScanHeading = QString::fromUtf8("扫描到危险文件：");
const QString kInterceptHeading = QString::fromUtf8("拦截到危险文件：");

TEST(NotifyArgsTest, OneCallPerLookAndMarkup) {
    const QString names[] = {"a<b>&c.exe", "second"};
    struct Case {
        bool installed;
        bool markup;
        QString icon;
        QString body;
        bool entryHint;
    } cases[] = {
        {true, false, "tovarek", "a<b>&c.exe\nsecond", true},
        {true, true, "tovarek", "a&lt;b&gt;&amp;c.exe\nsecond", true},
        {false, false, "file:///tmp/x%20y/tovarek-128.png", "a<b>&c.exe\nsecond", false},
        {false, true, "file:///tmp/x%20y/tovarek-128.png", "a&lt;b&gt;&amp;c.exe\nsecond", false},
    };
    for (const Case& c : cases) {
        const NoticeLook look{c.installed, "/tmp/x y/tovarek-128.png"};
        const NotifyArgs args =
            BuildNotifyArgs(look, 7, kInterceptHeading, {names[0], names[1]}, c.markup);
        EXPECT_EQ(args.appName, "Tovarek");
        EXPECT_EQ(args.replacesId, 7u);
        EXPECT_EQ(args.appIcon, c.icon) << c.installed;
        EXPECT_EQ(args.summary, kInterceptHeading);
        EXPECT_EQ(args.body, c.body) << c.markup;
        EXPECT_EQ(args.actions, QStringList({"default", QString::fromUtf8("查看")}));
        EXPECT_EQ(args.hints.value("desktop-entry").toString(), c.entryHint ? "tovarek" : "");
        EXPECT_EQ(args.hints.size(), c.entryHint ? 1 : 0);
        EXPECT_EQ(args.expireTimeoutMs, -1);
        // The server takes the call only with exactly the interface's types, "susssasa{sv}i".
        const QList<QVariant> list = args.ToList();
        const int types[] = {QMetaType::QString,     QMetaType::UInt,    QMetaType::QString,
                             QMetaType::QString,     QMetaType::QString, QMetaType::QStringList,
                             QMetaType::QVariantMap, QMetaType::Int};
        ASSERT_EQ(list.size(), 8);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(list[i].metaType().id(), types[i]) << i;
    }
    EXPECT_EQ(NoticeHeading(0), kScanHeading);
    EXPECT_EQ(NoticeHeading(1), kInterceptHeading);
    EXPECT_EQ(NoticeHeading(2), "");
    EXPECT_TRUE(IsInstalledCopy(u"/usr/bin/"));
    EXPECT_FALSE(IsInstalledCopy(u"/home/u/tovarek/build/app/"));
    EXPECT_FALSE(IsInstalledCopy(u"/usr/bin/x/"));
}

class RecordingSink : public MessageSink {
public:
    void PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override {
        m_messages.push_back({message, wParam, lParam});
    }
    std::vector<Message> m_messages;
};

// Two connections to the test's bus (tests/ui/desktop_test_main.cpp): the program's, and the
// server's. Each test has its own pair, so no name or signal outlives it.
class BusTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int pair = 0;
        ++pair;
        m_client = QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                 QString("client%1").arg(pair));
        m_serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                    QString("server%1").arg(pair));
        if (!m_client.isConnected() || !m_serverBus.isConnected())
            GTEST_SKIP() << "no bus of the test's own (is dbus-daemon installed?)";
    }
    void TearDown() override {
        m_serverBus.unregisterService("org.freedesktop.Notifications");
        QDBusConnection::disconnectFromBus(m_client.name());
        QDBusConnection::disconnectFromBus(m_serverBus.name());
    }
    NoticeLook Look() const { return {false, QString::fromStdString(m_dir.File("icon dir.png"))}; }
    bool StartServer() { return m_server.Register(m_serverBus); }
    // Sends and waits for the server's record or the failure; true when it failed.
    bool SendAndWait(DesktopNotifier& n, NoticeSlot slot, const QStringList& names) {
        const int before = m_server.calls.size();
        bool failed = false;
        n.Send(slot, NoticeHeading(slot), names, [&failed] { failed = true; });
        const bool done = test::WaitUntil([&] {
            return failed || (m_server.calls.size() > before && n.IdOf(slot) != 0 &&
                              n.IdOf(slot) == m_server.calls.back().id);
        });
        EXPECT_TRUE(done);
        return failed;
    }

    test::TempDir m_dir;
    QDBusConnection m_client{QString()};
    QDBusConnection m_serverBus{QString()};
    test::NoticeServer m_server;
    RecordingSink m_owner;
};

TEST_F(BusTest, EveryReplyCheckedNoServerOrAnErrorFallsBack) {
    DesktopNotifier notifier(m_client, Look(), &m_owner);
    EXPECT_TRUE(SendAndWait(notifier, kScanNotice, {"x"}));  // nobody owns the name
    ASSERT_TRUE(StartServer());
    m_server.failNotify = true;
    EXPECT_TRUE(SendAndWait(notifier, kScanNotice, {"x"}));
    EXPECT_EQ(notifier.IdOf(kScanNotice), 0u);
    m_server.failNotify = false;
    EXPECT_FALSE(SendAndWait(notifier, kScanNotice, {"x"}));
    EXPECT_NE(notifier.IdOf(kScanNotice), 0u);
    // Not connected at all: told at once.
    DesktopNotifier cut(QDBusConnection(QString()), Look(), &m_owner);
    bool failed = false;
    cut.Send(kScanNotice, "s", {}, [&failed] { failed = true; });
    EXPECT_TRUE(failed);
}

TEST_F(BusTest, OneNoticePerKindReplacedUntilClosed) {
    ASSERT_TRUE(StartServer());
    DesktopNotifier notifier(m_client, Look(), &m_owner);
    ASSERT_FALSE(SendAndWait(notifier, kInterceptNotice, {"evil"}));
    const uint first = m_server.calls.back().id;
    EXPECT_EQ(m_server.calls.back().replacesId, 0u);
    ASSERT_FALSE(SendAndWait(notifier, kInterceptNotice, {"evil", "worse"}));
    EXPECT_EQ(m_server.calls.back().replacesId, first);
    EXPECT_EQ(m_server.calls.back().body, "evil\nworse");
    // Another kind is a notice of its own.
    ASSERT_FALSE(SendAndWait(notifier, kScanNotice, {"/opt/a.bin"}));
    EXPECT_EQ(m_server.calls.back().replacesId, 0u);
    EXPECT_EQ(m_server.calls.back().summary, kScanHeading);
    const uint scanId = m_server.calls.back().id;
    EXPECT_NE(scanId, first);
    // A closed notice is not replaced; the other kind's stays.
    m_server.EmitClosed(first, 2);
    EXPECT_TRUE(test::WaitUntil([&] { return notifier.IdOf(kInterceptNotice) == 0; }));
    ASSERT_FALSE(SendAndWait(notifier, kInterceptNotice, {"evil"}));
    EXPECT_EQ(m_server.calls.back().replacesId, 0u);
    ASSERT_FALSE(SendAndWait(notifier, kScanNotice, {"/opt/b.bin"}));
    EXPECT_EQ(m_server.calls.back().replacesId, scanId);
    // The icon file was written where the look says, and named as a file URI.
    const QString icon = Look().iconFile;
    EXPECT_GT(QFileInfo(icon).size(), 0);
    EXPECT_EQ(QUrl(m_server.calls.back().appIcon).toLocalFile(), icon);
    EXPECT_TRUE(m_server.calls.back().appIcon.startsWith("file:///"));
}

TEST_F(BusTest, BodyEscapedOnlyForAServerThatReadsMarkup) {
    ASSERT_TRUE(StartServer());
    DesktopNotifier notifier(m_client, Look(), &m_owner);
    ASSERT_FALSE(SendAndWait(notifier, kScanNotice, {"<a href='x'>y</a>"}));
    EXPECT_EQ(m_server.calls.back().body, "<a href='x'>y</a>");
    m_server.capabilities << "body-markup";
    ASSERT_FALSE(SendAndWait(notifier, kScanNotice, {"<a href='x'>y</a>"}));
    EXPECT_EQ(m_server.calls.back().body, "&lt;a href='x'&gt;y&lt;/a&gt;");
}

TEST_F(BusTest, ViewActionOfOurNoticesOnlyShowsTheWindow) {
    ASSERT_TRUE(StartServer());
    DesktopNotifier notifier(m_client, Look(), &m_owner);
    ASSERT_FALSE(SendAndWait(notifier, kInterceptNotice, {"evil"}));
    const uint ours = notifier.IdOf(kInterceptNotice);
    auto settle = [] { test::WaitUntil([] { return false; }, 200); };
    // Another program's notice, and another action of ours: nothing.
    m_server.InvokeAction(ours + 100, "default", "");
    m_server.InvokeAction(ours, "other", "");
    settle();
    EXPECT_TRUE(m_owner.m_messages.empty());
    // Ours, with the compositor's token just before: the window is told, the token left for Qt
    // to use when the window asks to be activated.
    qunsetenv("XDG_ACTIVATION_TOKEN");
    m_server.InvokeAction(ours, "default", "token-1");
    EXPECT_TRUE(test::WaitUntil([&] { return !m_owner.m_messages.empty(); }));
    ASSERT_EQ(m_owner.m_messages.size(), 1u);
    EXPECT_EQ(m_owner.m_messages[0].message, WM_SHOW_NOTICE);
    EXPECT_EQ(m_owner.m_messages[0].wParam, 2u);
    EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), "token-1");
    qunsetenv("XDG_ACTIVATION_TOKEN");
    // Closed with the click, it can still be clicked (servers send the two in either order).
    m_server.InvokeAction(ours, "default", "");
    EXPECT_TRUE(test::WaitUntil([&] { return m_owner.m_messages.size() == 2; }));
    EXPECT_TRUE(qgetenv("XDG_ACTIVATION_TOKEN").isEmpty());
}

// The main window as it runs on native Wayland with no tray (offscreen has none).
class WaylandWindowTest : public BusTest {
protected:
    void SetUp() override {
        BusTest::SetUp();
        m_cwd = std::make_unique<test::TempDir>(true);  // Ravlin.db of its own
        InitAppState(m_app, &m_settings);
        m_settings.closeToTray = 1;
        m_app.m_strModuleDir = QString::fromStdString(m_cwd->path() + "/").toStdU16String();
        m_res.fntText = MakeListFont();
        LoadUiResources(m_res);
        m_app.m_pUiRes = &m_res;
        DesktopRoute route;
        route.nativeWayland = true;
        route.bus = m_client;
        route.look = Look();
        m_dlg = std::make_unique<CRavlinDlg>(m_app, "http://127.0.0.1:1/", route);
        m_dlg->show();
    }
    void TearDown() override {
        m_dlg.reset();
        BusTest::TearDown();
    }
    int CallsWithSummary(const QString& summary) const {
        int n = 0;
        for (const test::NoticeCall& c : m_server.calls) n += c.summary == summary;
        return n;
    }

    std::unique_ptr<test::TempDir> m_cwd;
    AppSettings m_settings;
    CRavlinApp m_app;
    UiResources m_res;
    std::unique_ptr<CRavlinDlg> m_dlg;
};

TEST_F(WaylandWindowTest, HiddenNoticesGoToTheServerAndThePopUpOnlyWhereNoneTakesThem) {
    ASSERT_TRUE(StartServer());
    CRavlinDlg& w = *m_dlg;
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    const QString runningOn = QString::fromUtf8("Tovarek 仍在运行");
    w.OnTitleClick(1);
    EXPECT_EQ(w.IsHiddenToTray(), 1);
    EXPECT_TRUE(w.isMinimized());
    EXPECT_TRUE(test::WaitUntil([&] { return CallsWithSummary(runningOn) == 1; }));

    // Wayland reports the window restored at once, whatever the compositor did: still hidden.
    w.windowHandle()->setWindowStates(Qt::WindowNoState);
    test::WaitUntil([&] { return !w.isMinimized(); });
    EXPECT_EQ(w.IsHiddenToTray(), 1);

    m_app.m_lstInterceptions = {u"evil", u"worse"};
    w.PostMessage(WM_SHOW_NOTICE, 1, 0);
    EXPECT_TRUE(test::WaitUntil([&] { return CallsWithSummary(kInterceptHeading) == 1; }));
    EXPECT_EQ(m_server.calls.back().body, "evil\nworse");
    test::WaitUntil([] { return false; }, 200);
    test::DeliverPostedMessages(w.Popup());
    EXPECT_FALSE(w.Popup()->isVisible());

    // No server takes it: the designed pop-up instead.
    m_server.failNotify = true;
    m_app.m_lstFindings = {u"/opt/a.bin"};
    w.PostMessage(WM_SHOW_NOTICE, 0, 0);
    EXPECT_TRUE(test::WaitUntil([&] {
        test::DeliverPostedMessages(w.Popup());
        return w.Popup()->isVisible();
    }));
    EXPECT_EQ(w.Popup()->Heading()->GetText(), kScanHeading);
    w.Popup()->hide();
    m_server.failNotify = false;

    // "查看" on the notification brings the window back; closing again says nothing new.
    const uint id = w.Notifier()->IdOf(kInterceptNotice);
    m_server.InvokeAction(id, "default", "");
    EXPECT_TRUE(test::WaitUntil([&] { return w.IsHiddenToTray() == 0; }));
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());
    w.OnTitleClick(1);
    EXPECT_EQ(w.IsHiddenToTray(), 1);
    test::WaitUntil([] { return false; }, 200);
    EXPECT_EQ(CallsWithSummary(runningOn), 1);

    // A refusal that comes back after the window did: no pop-up over the window in sight.
    m_server.failNotify = true;
    w.PostMessage(WM_SHOW_NOTICE, 0, 0);
    test::DeliverPostedMessages(&w);
    w.PostMessage(WM_SHOW_NOTICE, 2, 0);
    test::DeliverPostedMessages(&w);
    ASSERT_EQ(w.IsHiddenToTray(), 0);
    test::WaitUntil([] { return false; }, 300);
    test::DeliverPostedMessages(w.Popup());
    EXPECT_FALSE(w.Popup()->isVisible());
}

TEST_F(WaylandWindowTest, BackWhenActivatedAfterBeingInactive) {
    CRavlinDlg& w = *m_dlg;
    QWidget other;
    w.activateWindow();
    ASSERT_TRUE(test::WaitUntil([&] { return w.isActiveWindow(); }));
    w.OnTitleClick(1);
    QApplication::processEvents();
    ASSERT_EQ(w.IsHiddenToTray(), 1);
    // Still the active window after the close (a compositor that does not minimise): the
    // activation it had is not a coming back.
    w.windowHandle()->requestActivate();
    test::WaitUntil([] { return false; }, 100);
    EXPECT_EQ(w.IsHiddenToTray(), 1);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(test::WaitUntil([&] { return !w.isActiveWindow(); }));
    EXPECT_EQ(w.IsHiddenToTray(), 1);
    w.activateWindow();
    EXPECT_TRUE(test::WaitUntil([&] { return w.isActiveWindow(); }));
    EXPECT_EQ(w.IsHiddenToTray(), 0);
}

}  // namespace
}  // namespace tovarek
