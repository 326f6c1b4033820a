#include "ui/ravlin_dlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimerEvent>
#include <QWindow>

#include "platform/name_escape.h"
#include "res/artwork.h"
#include "store/app_settings.h"
#include "ui/desktop_notifier.h"
#include "ui/message_box.h"
#include "ui/popup_dlg.h"
#include "ui/protect_dlg.h"
#include "ui/scan_dlg.h"
#include "ui/set_dlg.h"
#include "ui/skin/skin_ui.h"
#include "ui/ui_resources.h"
#include "ui/ui_state.h"
#include "ui/updater_launch.h"
#include "update/down_control_thread.h"

namespace tovarek {
namespace {

constexpr int kWidth = 600;
constexpr int kHeight = 400;
constexpr int kUpdateFirstMs = 10;
constexpr int kUpdatePeriodMs = 3600000;
constexpr uintptr_t kTrayIconRecordId = 1;  // any fixed value: nothing reads it

const char* const kRunningOnSummary = "Tovarek 仍在运行";
const char* const kRunningOnBody = "窗口已最小化到任务栏，Tovarek 仍在后台保护。";

}  // namespace

DesktopRoute DesktopRoute::ForThisRun(const std::u16string& moduleDir) {
    DesktopRoute route;
    route.nativeWayland = IsNativeWayland();
    route.bus = QDBusConnection::sessionBus();
    route.look.installed = IsInstalledCopy(moduleDir);
    return route;
}

CRavlinDlg::CRavlinDlg(UiState& app, std::string listUrl, std::optional<DesktopRoute> route)
    : SkinnedWidget(kSkinMain, nullptr), m_app(app) {
    setObjectName("CRavlinDlg");
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowTitle("Tovarek");
    setWindowIcon(LoadResourceIcon(128));

    UiResources* res = m_app.m_pUiRes;
    const int tabImage = ImageIdOf(res, &UiResources::imgTabButton);
    m_btnTabScan = GetSkinUi()->CreateRichText();
    m_btnTabScan->SetText(u"/a,p5=%d,btn_width=80,btn_text='扫描'/", tabImage);
    m_btnTabScan->SetClickHandler(1, 0, this, &CRavlinDlg::OnTabClick);
    m_btnTabProtect = GetSkinUi()->CreateRichText();
    m_btnTabProtect->SetText(u"/a,p5=%d,btn_width=80,btn_text='保护'/", tabImage);
    m_btnTabProtect->SetClickHandler(1, 1, this, &CRavlinDlg::OnTabClick);
    m_btnTabSet = GetSkinUi()->CreateRichText();
    m_btnTabSet->SetText(u"/a,p5=%d,btn_width=80,btn_text='设置'/", tabImage);
    m_btnTabSet->SetClickHandler(1, 2, this, &CRavlinDlg::OnTabClick);
    m_btnMin = GetSkinUi()->CreateRichText();
    m_btnMin->SetText(u"/a,p5=%d/", ImageIdOf(res, &UiResources::imgMinButton));
    m_btnMin->SetClickHandler(1, 0, this, &CRavlinDlg::OnTitleClick);
    m_btnClose = GetSkinUi()->CreateRichText();
    m_btnClose->SetText(u"/a,p5=%d/", ImageIdOf(res, &UiResources::imgCloseButton));
    m_btnClose->SetClickHandler(1, 1, this, &CRavlinDlg::OnTitleClick);
    m_txtVersion = GetSkinUi()->CreateRichText();
    m_txtVersion->SetText(u"当前版本：%s", m_app.m_strVersion);
    m_txtListDate = GetSkinUi()->CreateRichText();
    m_txtListDate->SetText(u"列表更新日期：%s", m_app.ListDate());

    // Tray icon 130 (protection off until the protection page says otherwise).
    m_pTrayMenu = std::make_unique<QMenu>();
    QAction* exitAction = m_pTrayMenu->addAction(QString::fromUtf8("退出(&C)"));
    exitAction->setData(ID_TRAY_EXIT);
    QObject::connect(exitAction, &QAction::triggered, this, [this] { OnCommand(ID_TRAY_EXIT); });
    m_pTray = std::make_unique<QSystemTrayIcon>();
    m_pTray->setToolTip("Tovarek");
    m_pTray->setContextMenu(m_pTrayMenu.get());
    SetTrayIcon(130);
    // Many tray hosts report a single activation and never a double click: both show the window.
    QObject::connect(
        m_pTray.get(), &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
                PostMessage(WM_TRAY_NOTIFY, kTrayIconRecordId, kTrayDoubleClick);
        });
    m_pTray->show();

    // The pages, each shown at first; the pop-up stays hidden.
    m_pScanPage = new ScanDlg(m_app, this, this);
    m_pProtectPage = new ProtectDlg(m_app, this, this);
    m_pSetPage = new SetDlg(m_app, this, this);
    m_pPopup = std::make_unique<PopupDlg>(m_app, this);
    if (!route) route = DesktopRoute::ForThisRun(m_app.m_strModuleDir);
    m_bNativeWayland = route->nativeWayland;
    m_pNotifier = std::make_unique<DesktopNotifier>(route->bus, route->look, this);

    // The window has no sizing border: its size is fixed. Resizing places the pages and builds
    // the back buffer.
    setFixedSize(kWidth, kHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - kWidth) / 2, area.y() + (area.height() - kHeight) / 2);
    }
    OnTabClick(0);

    m_pDownThread = std::make_unique<DownControlThread>(m_app);
    m_pDownThread->m_strListUrl = std::move(listUrl);
    m_pDownThread->CreateThread();
    m_timerUpdate.start(m_nUpdatePeriodMs = kUpdateFirstMs, this);

    LaunchUpdater(QString::fromStdU16String(m_app.m_strModuleDir) + "Kelvane");
}

CRavlinDlg::~CRavlinDlg() {
    StopWorkers();
    m_pTray.reset();
    m_pNotifier.reset();
    m_pPopup.reset();
    for (UiRichText* object : {m_btnTabScan, m_btnTabProtect, m_btnTabSet, m_btnMin, m_btnClose,
                               m_txtVersion, m_txtListDate})
        GetSkinUi()->DestroyObject(object);
}

UiRichText* CRavlinDlg::TabButton(int index) const {
    switch (index) {
        case 0:
            return m_btnTabScan;
        case 1:
            return m_btnTabProtect;
        case 2:
            return m_btnTabSet;
        default:
            return nullptr;
    }
}

void CRavlinDlg::OnSize(int w, int h) {
    for (QWidget* page : {static_cast<QWidget*>(m_pScanPage), static_cast<QWidget*>(m_pProtectPage),
                          static_cast<QWidget*>(m_pSetPage)}) {
        if (page) page->setGeometry(100, 25, w - 105, h - 50);
    }
}

void CRavlinDlg::OnPaintObjects(QPainter& dc) {
    const int w = width();
    const int h = height();
    m_btnMin->Draw(dc, w - 75, 0, this, 0);
    m_btnClose->Draw(dc, w - 43, 0, this, 0);
    m_btnTabScan->Draw(dc, 10, 35, this, 0);
    m_btnTabProtect->Draw(dc, 10, 75, this, 0);
    m_btnTabSet->Draw(dc, 10, 115, this, 0);
    m_txtVersion->Draw(dc, 10, h - 15, this, 0);
    m_txtListDate->Draw(dc, w - 210, h - 15, this, 0);
}

void CRavlinDlg::OnTabClick(int index) {
    if (index < 0 || index > 2) return;
    QWidget* pages[] = {m_pScanPage, m_pProtectPage, m_pSetPage};
    for (int i = 0; i < 3; ++i) {
        if (i != index) pages[i]->hide();
    }
    pages[index]->show();
}

void CRavlinDlg::OnTitleClick(int index) {
    if (index == 0) {
        showMinimized();
    } else if (index == 1) {
        if (m_app.m_pSettings == nullptr || m_app.m_pSettings->closeToTray == 0) {
            ExitApp();
        } else {
            HideToTray();
        }
    }
}

void CRavlinDlg::OnCommand(int id) {
    if (id == ID_TRAY_EXIT) ExitApp();
}

void CRavlinDlg::ExitApp() {
    if (m_app.m_bExiting) return;
    if (m_app.m_bDialogOpen) {
        ShowMessageBox(this, QString::fromUtf8("请关闭对话框！"), "Tovarek");
        return;
    }
    if (m_app.m_bScanRunning) {
        const auto answer =
            ShowMessageBox(this, QString::fromUtf8("扫描任务正在执行，是否仍然关闭？"),
                           QString::fromUtf8("警告"), QMessageBox::Ok | QMessageBox::Cancel);
        // The program may have been ended while the box was up (SIGTERM).
        if (m_app.m_bExiting || answer != QMessageBox::Ok) return;
    }
    EndDialog();
}

void CRavlinDlg::StopWorkers() {
    // In this order: no result can be posted to a window that is going, every scan is told to
    // stop (each takes effect within its file), the download worker ends (a transfer in progress
    // is aborted) and is joined, and only then are the scan workers waited for.
    if (m_pDownThread) m_pDownThread->m_hNotifyWnd.store(nullptr);
    if (m_pScanPage) m_pScanPage->StopScans();
    m_pDownThread.reset();
    if (m_pScanPage) m_pScanPage->JoinScans();
}

void CRavlinDlg::EndDialog() {
    if (m_app.m_bExiting) return;
    m_app.m_bExiting = 1;
    m_timerUpdate.stop();
    StopWorkers();
    if (m_pTray) m_pTray->hide();
    if (m_pPopup) m_pPopup->hide();
    // Leaves every running event loop, nested ones (a box, a dialog) included.
    QCoreApplication::exit(0);
}

void CRavlinDlg::HideToTray() {
    // Without a tray there is nothing to click to come back: minimise instead. It still counts
    // as hidden, so notices appear and "查看" brings the window back. The first time in a run the
    // user is told that closing did not end the program.
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        hide();
    } else {
        showMinimized();
        m_bLeftActive = false;
        if (!m_bToldRunningOn) {
            m_bToldRunningOn = true;
            m_pNotifier->Send(kRunningNotice, QString::fromUtf8(kRunningOnSummary),
                              {QString::fromUtf8(kRunningOnBody)}, nullptr);
        }
    }
    m_bHiddenToTray = 1;
}

void CRavlinDlg::ShowFromTray() {
    // Wayland lets a program minimise its window but never restore it, and Qt activates it only
    // with an activation token (Qt 6.5 on) or while it already has the focus. A window mapped
    // anew is put in front where the user is, on every compositor.
    if (m_bNativeWayland && m_bHiddenToTray && isVisible()) hide();
    showNormal();
    raise();
    activateWindow();
    m_bHiddenToTray = 0;
}

void CRavlinDlg::ShowNotice(int kind, const std::list<std::u16string>& rawNames) {
    // A name shows as what it is, on its own line, whichever notice carries it.
    std::list<std::u16string> names;
    for (const std::u16string& name : rawNames) names.push_back(EscapeName(name));
    if (!m_bNativeWayland) {
        m_pPopup->ShowNotice(kind, names);
        return;
    }
    QStringList lines;
    for (const std::u16string& name : names) lines << QString::fromStdU16String(name);
    QPointer<CRavlinDlg> self(this);
    m_pNotifier->Send(static_cast<NoticeSlot>(kind), NoticeHeading(kind), lines,
                      [self, kind, names] {
                          // Still hidden when the failure comes back: the designed pop-up.
                          if (self && self->m_bHiddenToTray && !self->m_app.m_bExiting)
                              self->m_pPopup->ShowNotice(kind, names);
                      });
}

void CRavlinDlg::SetTrayIcon(int id) {
    m_nTrayIconId = id;
    if (m_pTray) m_pTray->setIcon(LoadResourceIcon(id));
}

void CRavlinDlg::OnMessage(const Message& m) {
    switch (m.message) {
        case WM_PROTECT_ICON: {
            const uintptr_t high = (m.wParam >> 16) & 0xFFFF;
            if (high == 0) {
                SetTrayIcon(129);
            } else if (high == 1) {
                SetTrayIcon(130);
            }
            break;
        }
        case WM_TRAY_NOTIFY:
            if (m.lParam == kTrayDoubleClick) {
                ShowFromTray();
            } else if (m.lParam == kTrayRightButtonUp) {
                activateWindow();
                m_pTrayMenu->popup(QCursor::pos());
            }
            break;
        case WM_LIST_DOWNLOAD_DONE:
            // The worker set the date before it posted; ListDate() reads it under its guard.
            if (m.wParam == 0) {
                m_txtListDate->SetText(u"列表更新日期：%s", m_app.ListDate());
            } else {
                m_txtListDate->SetText(u"列表更新失败.");
            }
            update();
            break;
        case WM_EXIT_NOW:
            EndDialog();
            break;
        case WM_SHOW_NOTICE:
            if (!m_bHiddenToTray) break;
            if (m.wParam == 0) {
                ShowNotice(0, m_app.m_lstFindings);
            } else if (m.wParam == 1) {
                ShowNotice(1, m_app.m_lstInterceptions);
            } else if (m.wParam == 2) {
                ShowFromTray();
            }
            break;
        default:
            break;
    }
}

void CRavlinDlg::OnTimer(int id) {
    if (id != 0 || !m_pDownThread) return;
    m_timerUpdate.stop();
    m_txtListDate->SetText(u"正在更新...");
    update();
    m_pDownThread->m_hNotifyWnd.store(this);
    m_pDownThread->PostThreadMessage(WM_LIST_DOWNLOAD, 0, 0);
    m_timerUpdate.start(m_nUpdatePeriodMs = kUpdatePeriodMs, this);
}

void CRavlinDlg::timerEvent(QTimerEvent* e) {
    if (e->timerId() == m_timerUpdate.timerId()) {
        OnTimer(0);
        return;
    }
    SkinnedWidget::timerEvent(e);
}

void CRavlinDlg::mousePressEvent(QMouseEvent* e) {
    // Only presses the skin library did not take (free client space) reach here.
    if (e->button() != Qt::LeftButton) return SkinnedWidget::mousePressEvent(e);
    if (windowHandle() && windowHandle()->startSystemMove()) return;
    m_bDragging = true;
    m_ptDragOffset = e->globalPosition().toPoint() - frameGeometry().topLeft();
}

void CRavlinDlg::mouseMoveEvent(QMouseEvent* e) {
    if (m_bDragging && (e->buttons() & Qt::LeftButton)) {
        move(e->globalPosition().toPoint() - m_ptDragOffset);
        return;
    }
    SkinnedWidget::mouseMoveEvent(e);
}

void CRavlinDlg::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) m_bDragging = false;
    SkinnedWidget::mouseReleaseEvent(e);
}

void CRavlinDlg::closeEvent(QCloseEvent* e) {
    // The window manager's close (Alt+F4) is the close button.
    e->ignore();
    if (!m_app.m_bExiting) OnTitleClick(1);
}

void CRavlinDlg::changeEvent(QEvent* e) {
    // Minimised for want of a tray, then restored from the task bar: no longer hidden.
    if (m_bHiddenToTray && isVisible()) {
        if (!m_bNativeWayland) {
            if (e->type() == QEvent::WindowStateChange && !isMinimized()) m_bHiddenToTray = 0;
        } else if (e->type() == QEvent::ActivationChange) {
            // Wayland never says whether a window is minimised (Qt reports it restored at
            // once), but a window brought back is activated: count that, once the window has
            // been inactive since it was closed.
            if (!isActiveWindow()) {
                m_bLeftActive = true;
            } else if (m_bLeftActive) {
                m_bHiddenToTray = 0;
            }
        }
    }
    SkinnedWidget::changeEvent(e);
}

}  // namespace tovarek
