#include "ui/protect_dlg.h"

#include <QFontMetrics>
#include <QListWidget>
#include <QPainter>
#include <QStyle>

#include "platform/code_page.h"
#include "platform/path_text.h"
#include "scan/quarantine.h"
#include "ui/show_in_folder.h"
#include "ui/skin/skin_ui.h"
#include "ui/ui_env.h"
#include "ui/ui_resources.h"
#include "ui/ui_state.h"

namespace tovarek {
namespace {

constexpr int kWatchTimer = 0;
constexpr int kWatchPeriodMs = 3000;

// The main window may be missing (a page on its own); its messages then go nowhere.
class NoSink : public MessageSink {
public:
    void PostMessage(unsigned, uintptr_t, intptr_t) override {}
};

// The pages reach processes through the program's environment unless told otherwise.
WatchSetup WithPageProcesses(WatchSetup setup) {
    if (!setup.processes) setup.processes = CurrentUiEnv().RunningProcesses();
    return setup;
}

}  // namespace

ProtectDlg::ProtectDlg(UiState& app, MessageSink* mainWnd, QWidget* parent, WatchSetup setup)
    : SkinnedWidget(kSkinPage, parent),
      m_app(app),
      m_pMainWnd(mainWnd),
      m_watch(app, this, WithPageProcesses(std::move(setup))) {
    setObjectName("ProtectDlg");

    m_pHistoryList = new QListWidget(this);
    m_pHistoryList->setObjectName("historyList");
    m_pHistoryList->setSortingEnabled(false);
    if (m_app.m_pUiRes) m_pHistoryList->setFont(m_app.m_pUiRes->fntText);
    QObject::connect(m_pHistoryList, &QListWidget::itemDoubleClicked, this,
                     [this](QListWidgetItem*) { OnHistoryDblClk(); });

    const UiResources* res = m_app.m_pUiRes;
    const int button = ImageIdOf(res, &UiResources::imgButton);
    const int checkBox = ImageIdOf(res, &UiResources::imgCheckBox);
    UiFactory* ui = GetSkinUi();
    m_btnStart = ui->CreateRichText();
    m_btnStart->SetText(u"/a,p5=%d,btn_width=60,btn_text='开始保护'/", button);
    m_btnStart->SetClickHandler(1, 0, this, &ProtectDlg::OnUiClick);
    m_btnStop = ui->CreateRichText();
    m_btnStop->SetText(u"/a,p5=%d,btn_width=60,btn_text='停止保护'/", button);
    m_btnStop->SetClickHandler(1, 1, this, &ProtectDlg::OnUiClick);
    m_btnSelectAll = ui->CreateRichText();
    m_btnSelectAll->SetText(u"/a,p5=%d,btn_type=1/全选//全不选", checkBox);
    m_btnSelectAll->SetClickHandler(1, 4, this, &ProtectDlg::OnUiClick);
    m_btnDelete = ui->CreateRichText();
    m_btnDelete->SetText(u"/a,p5=%d,btn_height=20,btn_text='删除所选'/", button);
    m_btnDelete->SetClickHandler(1, 5, this, &ProtectDlg::OnUiClick);
    m_txtCaption = ui->CreateRichText();
    m_txtCaption->SetText(u"拦截历史(鼠标双击打开目录)：");

    m_watchTimer.setSingleShot(true);
    QObject::connect(&m_watchTimer, &QTimer::timeout, this, [this] { OnTimer(kWatchTimer); });

    m_watch.SetNoticeList(&m_lstPassNotices);

    m_bProtecting = 0;
    OnUiClick(0);
}

ProtectDlg::~ProtectDlg() {
    {
        std::lock_guard lock(m_passMutex);
        m_bQuit = true;
    }
    m_passWake.notify_all();
    // A pass in progress ends first, at its next process: it uses the watch, which goes with the
    // page.
    m_watch.Stop();
    if (m_passThread.joinable()) m_passThread.join();
}

void ProtectDlg::RunPasses() {
    std::unique_lock lock(m_passMutex);
    for (;;) {
        m_passWake.wait(lock, [this] { return m_bQuit || m_bPassWanted; });
        if (m_bQuit) return;
        m_bPassWanted = false;
        lock.unlock();
        m_watch.RunProtectionPass();
        // Dropped by Qt if the page is gone by then; the destructor waits for this pass anyway.
        QMetaObject::invokeMethod(
            this, [this] { OnPassDone(); }, Qt::QueuedConnection);
        lock.lock();
    }
}

void ProtectDlg::OnPassDone() {
    std::vector<std::u16string> lines;
    std::u16string longest;
    {
        std::lock_guard lock(m_passMutex);
        lines.swap(m_vecPassLines);
        longest.swap(m_strPassLongest);
    }
    for (const std::u16string& line : lines) {
        auto* item = new QListWidgetItem(QString::fromStdU16String(line));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        m_pHistoryList->addItem(item);
    }
    if (!longest.empty()) {
        // Measured in the list's own font, with room for the check box, so the longest line can
        // be scrolled into view in full (the list view sizes its scroll range from the items).
        const QFontMetrics metrics(m_pHistoryList->font());
        const int checkWidth = m_pHistoryList->style()->pixelMetric(QStyle::PM_IndicatorWidth,
                                                                    nullptr, m_pHistoryList);
        m_nHistoryExtent =
            metrics.horizontalAdvance(QString::fromStdU16String(longest)) + checkWidth;
    }
    m_app.m_lstInterceptions.splice(m_app.m_lstInterceptions.end(), m_lstPassNotices);
    m_bInPass = false;
    if (m_app.m_bExiting) return;
    if (!m_app.m_lstInterceptions.empty()) ParentSink().PostMessage(WM_SHOW_NOTICE, 1, 0);
    // Only while still protecting: a stop that came in during the pass must not be undone here.
    if (m_bProtecting) m_watchTimer.start(kWatchPeriodMs);
}

MessageSink& ProtectDlg::ParentSink() {
    static NoSink nowhere;
    return m_pMainWnd ? *m_pMainWnd : nowhere;
}

void ProtectDlg::OnUiClick(int index, int) {
    switch (index) {
        case 0:
            StartProtection();
            break;
        case 1:
            StopProtection();
            break;
        case 4:
            ToggleSelectAll();
            break;
        case 5:
            DeleteSelected();
            break;
        default:
            break;
    }
}

void ProtectDlg::StartProtection() {
    if (m_bProtecting) return;
    m_bProtecting = 1;
    m_btnStart->SetState(4);
    m_btnStop->SetState(-1);
    m_app.m_lstInterceptions.clear();
    ParentSink().PostMessage(WM_PROTECT_ICON, 0, 0);
    // A pass in progress sets the timer itself when it ends.
    if (!m_bInPass) m_watchTimer.start(kWatchPeriodMs);
}

void ProtectDlg::StopProtection() {
    if (!m_bProtecting) return;
    m_bProtecting = 0;
    m_btnStart->SetState(-1);
    m_btnStop->SetState(4);
    ParentSink().PostMessage(WM_PROTECT_ICON, 0x10000, 0);
    m_watchTimer.stop();
}

void ProtectDlg::OnTimer(int timerId) {
    if (timerId != kWatchTimer || m_bInPass) return;
    m_watchTimer.stop();
    // A tick already due when the program decided to end must not hold the end up by a pass.
    if (m_app.m_bExiting) return;
    m_bInPass = true;
    m_app.m_lstInterceptions.clear();
    {
        std::lock_guard lock(m_passMutex);
        m_bPassWanted = true;
    }
    if (!m_passThread.joinable()) m_passThread = std::thread([this] { RunPasses(); });
    m_passWake.notify_one();
}

void ProtectDlg::ToggleSelectAll() {
    m_nSelectAllState = !m_nSelectAllState;
    const Qt::CheckState state = m_nSelectAllState ? Qt::Checked : Qt::Unchecked;
    for (int i = 0; i < m_pHistoryList->count(); ++i) m_pHistoryList->item(i)->setCheckState(state);
}

void ProtectDlg::DeleteSelected() {
    const Quarantine quarantine;
    int i = 0;
    while (i < m_pHistoryList->count()) {
        QListWidgetItem* item = m_pHistoryList->item(i);
        if (item->checkState() != Qt::Checked) {
            ++i;
            continue;
        }
        const std::u16string line = item->text().toStdU16String();
        ProcessEntry entry;
        if (!m_watch.FindHistory(line, entry)) {
            ++i;
            continue;
        }
        // Only the file that was intercepted: a file put at the same path since (a package
        // update, a clean copy) is not the one that ran. Without a recorded identity nothing is
        // known about the file, so it stays as well. The line goes either way, unless the
        // intercepted file itself could not be put in quarantine: then both stay.
        if (!entry.exePath.empty() && entry.exeId.known) {
            const std::string path =
                !entry.exePathBytes.empty() ? entry.exePathBytes : Utf16ToPath(entry.exePath);
            // Never a file of the system itself, whatever the list said when it was ended.
            if (!m_watch.Packages().IsUnmodifiedPackageFileAt(path, entry.exeId)) {
                const QuarantineResult moved =
                    quarantine.MoveIn(path, entry.exeId, Utf16ToUtf8(entry.listedEntry),
                                      QuarantineOrigin::kProtectPage);
                if (moved.Failed()) {
                    ++i;
                    continue;
                }
            }
        }
        m_watch.EraseHistory(line);
        delete m_pHistoryList->takeItem(i);
    }
}

void ProtectDlg::OnHistoryDblClk() {
    QListWidgetItem* item = m_pHistoryList->currentItem();
    if (!item) return;
    ProcessEntry entry;
    if (!m_watch.FindHistory(item->text().toStdU16String(), entry) || entry.exePath.empty()) return;
    ShowFileInFolder(QString::fromStdU16String(entry.exePath));
}

void ProtectDlg::AddHistoryLine(const std::u16string& line) {
    std::lock_guard lock(m_passMutex);
    m_vecPassLines.push_back(line);
}

void ProtectDlg::FitHistoryWidth(const std::u16string& longestLine) {
    std::lock_guard lock(m_passMutex);
    m_strPassLongest = longestLine;
}

void ProtectDlg::OnSize(int w, int h) {
    if (m_pHistoryList) m_pHistoryList->setGeometry(5, 65, w - 10, h - 70);
}

void ProtectDlg::OnPaintObjects(QPainter& dc) {
    const int w = width();
    m_btnStart->Draw(dc, 30, 15, this, 0);
    m_btnStop->Draw(dc, 120, 15, this, 0);
    m_btnSelectAll->Draw(dc, w - 160, 45, this, 0);
    m_btnDelete->Draw(dc, w - 70, 40, this, 0);
    m_txtCaption->Draw(dc, 5, 45, this, 0);
}

}  // namespace tovarek
