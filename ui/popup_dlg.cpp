#include "ui/popup_dlg.h"

#include <QGuiApplication>
#include <QListWidget>
#include <QScreen>
#include <QTimerEvent>

#include "ui/desktop_notice.h"
#include "ui/ui_state.h"
#include "ui/skin/skin_ui.h"
#include "ui/ui_resources.h"

namespace tovarek {
namespace {

constexpr int kWidth = 180;
constexpr int kHeight = 200;
constexpr int kRaised = 200;  // slide offset of the fully shown window
constexpr int kStep = 2;
constexpr int kSlideMs = 10;
constexpr int kLingerMs = 10000;

}  // namespace

PopupDlg::PopupDlg(UiState& app, MessageSink* owner)
    : SkinnedWidget(kSkinPage, nullptr), m_app(app), m_pOwner(owner) {
    setObjectName("PopupDlg");
    // A notice must not steal the focus from whatever the user is typing into, and must sit
    // exactly where it is put, so the window manager is kept out of it.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);

    m_txtClose = GetSkinUi()->CreateRichText();
    m_txtClose->SetMarkup(QString::fromUtf8("/a,linkl=1/关闭"));
    m_txtClose->SetClickHandler(1, 0, this, &PopupDlg::OnUiClick);
    m_txtView = GetSkinUi()->CreateRichText();
    m_txtView->SetMarkup(QString::fromUtf8("/a,linkl=1/查看"));
    m_txtView->SetClickHandler(1, 1, this, &PopupDlg::OnUiClick);
    m_txtHeading = GetSkinUi()->CreateRichText();

    m_pNameList = new QListWidget(this);
    m_pNameList->setFocusPolicy(Qt::NoFocus);
    m_pNameList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pNameList->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_pNameList->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    if (m_app.m_pUiRes) m_pNameList->setFont(m_app.m_pUiRes->fntText);
    m_pNameList->setGeometry(50, 120, 150, 80);
    m_pNameList->show();

    setFixedSize(kWidth, kHeight);
    PlacePopup(0);
}

PopupDlg::~PopupDlg() {
    for (UiRichText* object : {m_txtHeading, m_txtClose, m_txtView})
        GetSkinUi()->DestroyObject(object);
}

QRect PopupDlg::WorkArea() const {
    if (m_fnWorkArea) return m_fnWorkArea();
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 0, 0);
}

void PopupDlg::PlacePopup(int offset) {
    // From the work area's own origin, so a panel at the top or left, or a primary screen that
    // is not the leftmost, still puts the window in the lower right corner of that screen.
    const QRect area = WorkArea();
    setGeometry(area.left() + area.width() - 190, area.top() + area.height() - offset, kWidth,
                kHeight);
    // The window manager never stacks it (it bypasses it), so every placement puts it on top.
    if (isVisible()) raise();
}

void PopupDlg::ShowNotice(int kind, std::list<std::u16string> names) {
    const QString heading = NoticeHeading(kind);
    if (!heading.isEmpty()) m_txtHeading->SetMarkup(heading);
    m_lstNoticeNames = std::move(names);
    PostMessage(WM_POPUP_START, 0, 0);
}

void PopupDlg::OnPopupStart() {
    // A new notice starts afresh: a pending linger or a running slide-out of the previous one
    // would otherwise move or hide this one.
    for (QBasicTimer& timer : m_timers) timer.stop();
    PlacePopup(kRaised);
    m_nSlideOffset = 0;
    m_pNameList->clear();
    for (const std::u16string& name : m_lstNoticeNames) {
        m_pNameList->addItem(QString::fromStdU16String(name));
        m_pNameList->setCurrentRow(m_pNameList->count() - 1);
    }
    // The list's horizontal range follows its widest line, so a long name scrolls sideways.
    update();
    show();
    raise();
    m_timers[0].start(kSlideMs, Qt::PreciseTimer, this);
}

void PopupDlg::OnTimer(int id) {
    switch (id) {
        case 0:
            if (m_nSlideOffset < kRaised) {
                PlacePopup(m_nSlideOffset);
                m_nSlideOffset += kStep;
            } else {
                m_nSlideOffset = kRaised;
                m_timers[0].stop();
                PlacePopup(kRaised);
                m_timers[1].start(kLingerMs, Qt::PreciseTimer, this);
            }
            break;
        case 1:
            m_timers[1].stop();
            m_nSlideOffset = kRaised;
            m_timers[2].start(kSlideMs, Qt::PreciseTimer, this);
            break;
        case 2:
            if (m_nSlideOffset > 0) {
                PlacePopup(m_nSlideOffset);
                m_nSlideOffset -= kStep;
            } else {
                m_nSlideOffset = 0;
                m_timers[2].stop();
                hide();
                PlacePopup(0);
            }
            break;
        default:
            break;
    }
}

bool PopupDlg::IsTimerActive(int id) const {
    return id >= 0 && id < 3 && m_timers[id].isActive();
}

void PopupDlg::timerEvent(QTimerEvent* e) {
    for (int id = 0; id < 3; ++id) {
        if (e->timerId() == m_timers[id].timerId()) {
            OnTimer(id);
            return;
        }
    }
    SkinnedWidget::timerEvent(e);
}

void PopupDlg::OnUiClick(int index) {
    // The timers go on: a hidden pop-up still sliding or lingering finishes unseen.
    if (index == 0) {
        hide();
    } else if (index == 1) {
        if (m_pOwner) m_pOwner->PostMessage(WM_SHOW_NOTICE, 2, 0);
        hide();
    }
}

void PopupDlg::OnMessage(const Message& m) {
    if (m.message == WM_POPUP_START) OnPopupStart();
}

void PopupDlg::OnSize(int w, int h) {
    if (m_pNameList) m_pNameList->setGeometry(5, 20, w - 10, h - 40);
}

void PopupDlg::OnPaintObjects(QPainter& dc) {
    const int w = width();
    const int h = height();
    m_txtHeading->Draw(dc, 10, 5, this, 0);
    m_txtClose->Draw(dc, w - 40, h - 18, this, 0);
    m_txtView->Draw(dc, 10, h - 18, this, 0);
}

}  // namespace tovarek
