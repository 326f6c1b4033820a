#include "ui/scan_dlg.h"

#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <utility>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_id.h"
#include "platform/local_time.h"
#include "platform/name_escape.h"
#include "platform/path_text.h"
#include "scan/canonical_root.h"
#include "scan/scan_log.h"
#include "scan/scan_session.h"
#include "store/app_settings.h"
#include "ui/message_box.h"
#include "ui/set_scan_path_dlg.h"
#include "ui/skin/skin_ui.h"
#include "ui/ui_env.h"
#include "ui/ui_resources.h"
#include "ui/ui_state.h"

namespace tovarek {
namespace {

constexpr char16_t kPauseMarkup[] = u"/a,p5=%d,btn_width=45,btn_text='暂停'/";
constexpr char16_t kContinueMarkup[] = u"/a,p5=%d,btn_width=45,btn_text='继续'/";
// Lines added in one go: thousands of findings at once would hold the window for a second.
constexpr size_t kFindingsPerBatch = 500;

UiRichText* MakeObject(const QString& markup) {
    UiRichText* object = GetSkinUi()->CreateRichText();
    object->SetMarkup(markup);
    return object;
}

}  // namespace

ScanDlg::ScanDlg(UiState& app, MessageSink* mainWnd, QWidget* parent)
    : SkinnedWidget(kSkinPage, parent), m_app(app), m_pMainWnd(mainWnd) {
    setObjectName("ScanDlg");
    m_pList = new QListWidget(this);
    m_pList->setObjectName("ScanResultList");
    m_pList->setGeometry(0, 35, 350, 200);
    m_pList->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_pList->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Every line is one line of one font: the list need not measure each of 20,000 findings.
    m_pList->setUniformItemSizes(true);
    if (m_app.m_pUiRes) m_pList->setFont(m_app.m_pUiRes->fntText);
    CreatePageObjects();
    EnableGroup(true);
    m_nState = kStateStopped;
    if (m_app.m_pSettings && m_app.m_pSettings->autoScan) OnUiClick(0);
}

ScanDlg::~ScanDlg() {
    StopAndJoinScan();
    if (m_nState == kStateScanning || m_nState == kStatePaused) m_app.m_bScanRunning = 0;
    for (UiRichText* object : {m_btnQuick, m_btnPause, m_btnStop, m_btnFull, m_btnCustom,
                               m_btnSelectAll, m_btnDelete, m_txtCurrent, m_txtSummary})
        GetSkinUi()->DestroyObject(object);
}

void ScanDlg::CreatePageObjects() {
    const UiResources* res = m_app.m_pUiRes;
    m_nButtonImage = ImageIdOf(res, &UiResources::imgButton);
    const int checkImage = ImageIdOf(res, &UiResources::imgCheckBox);
    const int button = m_nButtonImage;
    m_btnQuick = MakeObject(FormatText(u"/a,p5=%d,btn_text='开始快速扫描'/", button));
    m_btnQuick->SetClickHandler(1, 0, this, &ScanDlg::OnUiClick);
    m_btnPause = MakeObject(FormatText(kPauseMarkup, button));
    m_btnPause->SetClickHandler(1, 1, this, &ScanDlg::OnUiClick);
    m_btnStop = MakeObject(FormatText(u"/a,p5=%d,btn_width=45,btn_text='停止'/", button));
    m_btnStop->SetClickHandler(1, 3, this, &ScanDlg::OnUiClick);
    m_btnFull = MakeObject(FormatText(u"/a,p5=%d,btn_text='开始全盘扫描'/", button));
    m_btnFull->SetClickHandler(1, 6, this, &ScanDlg::OnUiClick);
    m_btnCustom = MakeObject(FormatText(u"/a,p5=%d,btn_text='扫描指定目录'/", button));
    m_btnCustom->SetClickHandler(1, 7, this, &ScanDlg::OnUiClick);
    m_btnSelectAll = MakeObject(FormatText(u"/a,p5=%d,btn_type=1/全选//全不选", checkImage));
    m_btnSelectAll->SetClickHandler(1, 4, this, &ScanDlg::OnUiClick);
    m_btnDelete = MakeObject(FormatText(u"/a,p5=%d,btn_height=20,btn_text='删除所选'/", button));
    m_btnDelete->SetClickHandler(1, 5, this, &ScanDlg::OnUiClick);
    m_txtCurrent = MakeObject(QStringLiteral("等待扫描。。。"));
    m_txtSummary = MakeObject(QStringLiteral("扫描0个文件，危险文件0个"));
    m_bSelectAll = 0;
}

bool ScanDlg::IsScanRunning() const {
    return m_nState == kStateScanning || m_nState == kStatePaused;
}

void ScanDlg::StopScans() {
    if (IsScanRunning()) OnStop();
    if (m_pSession) m_pSession->Stop();
    for (auto& session : m_retired) session->Stop();
}

void ScanDlg::JoinScans() {
    if (m_pSession) m_pSession->Join();
    for (auto& session : m_retired) session->Join();
    m_retired.clear();
}

void ScanDlg::StopAndJoinScan() {
    // Every worker is told first, so they all wind down side by side.
    StopScans();
    JoinScans();
}

void ScanDlg::RetireSession() {
    ReapSessions();
    if (!m_pSession) return;
    m_pSession->Stop();
    if (m_pSession->HasEnded()) {
        m_pSession.reset();  // joins at once
    } else {
        m_retired.push_back(std::move(m_pSession));
    }
}

void ScanDlg::ReapSessions() {
    for (auto it = m_retired.begin(); it != m_retired.end();) {
        if ((*it)->HasEnded()) {
            it = m_retired.erase(it);
        } else {
            ++it;
        }
    }
}

void ScanDlg::RestorePauseButton() {
    m_btnPause->SetText(kPauseMarkup, m_nButtonImage);
    m_btnPause->SetClickHandler(1, 1, this, &ScanDlg::OnUiClick);
}

void ScanDlg::EnableGroup(bool idle) {
    UiRichText* idleGroup[] = {m_btnQuick, m_btnFull, m_btnCustom, m_btnSelectAll, m_btnDelete};
    UiRichText* scanGroup[] = {m_btnPause, m_btnStop, m_txtCurrent};
    for (UiRichText* o : idleGroup) o->SetEnabled(idle ? 1 : 0, 1);
    for (UiRichText* o : scanGroup) o->SetEnabled(idle ? 0 : 1, 1);
    m_bIdleEnabled = idle;
    update();
}

void ScanDlg::OnUiClick(int index) {
    const bool canStart = m_nState == kStateStopped || m_nState == kStateFinished;
    switch (index) {
        case 0:
        case 6:
            if (canStart) {
                ScanRoots roots;
                if (index == 0) {
                    CurrentUiEnv().AddQuickScanRoots(roots);
                } else {
                    CurrentUiEnv().AddFullScanRoots(roots);
                }
                StartScan(roots);
            }
            break;
        case 7:
            if (canStart) OnCustomScan();
            break;
        case 1:
            if (m_nState == kStateScanning) {
                m_btnPause->SetText(kContinueMarkup, m_nButtonImage);
                m_btnPause->SetClickHandler(1, 2, this, &ScanDlg::OnUiClick);
                if (m_pSession) m_pSession->Pause();
                m_nState = kStatePaused;
            }
            break;
        case 2:
            if (m_nState == kStatePaused) {
                RestorePauseButton();
                if (m_pSession) m_pSession->Continue();
                m_nState = kStateScanning;
            }
            break;
        case 3:
            if (m_nState != kStateStopped) OnStop();
            break;
        case 4:
            m_bSelectAll = !m_bSelectAll;
            // The count is read again for every line.
            for (int i = 0; i < m_pList->count(); ++i)
                m_pList->item(i)->setCheckState(m_bSelectAll ? Qt::Checked : Qt::Unchecked);
            break;
        case 5:
            if (canStart && m_pSession) {
                DeleteSelected();
                RefreshResults(true);
                ShowFinalSummaryAndWriteLog();
            }
            break;
        default:
            break;
    }
}

void ScanDlg::OnCustomScan() {
    // The dialog runs a nested event loop: the program may decide to end meanwhile, and this
    // page may be gone when it returns, so only locals are trusted afterwards.
    UiState& app = m_app;
    QPointer<ScanDlg> self(this);
    app.m_bDialogOpen = 1;
    QPointer<SetScanPathDlg> dlg = new SetScanPathDlg(app, window());
    const int result = dlg->exec();
    ScanRoots dirs;
    if (dlg) {
        dirs = dlg->scanDirs;
        delete dlg.data();
    }
    app.m_bDialogOpen = 0;
    if (app.m_bExiting || !self) return;
    if (result != QDialog::Accepted) return;
    StartScan(dirs);
}

void ScanDlg::OnStop() {
    // Returns at once, whatever file the worker reads; nothing more is posted once it has.
    if (m_pSession) m_pSession->Stop();
    RefreshResults(false);  // what was found up to the stop
    m_nActiveTag = 0;       // and what is still queued is dropped
    RestorePauseButton();
    m_txtCurrent->SetText(u"扫描已停止");
    EnableGroup(true);
    ShowFinalSummaryAndWriteLog();
    m_nState = kStateStopped;
    m_app.m_bScanRunning = 0;
}

int ScanDlg::StartScan(const ScanRoots& roots) {
    if (roots.empty()) {
        ShowMessageBox(this, QStringLiteral("请选择要扫描的目录"), QStringLiteral("Tovarek"));
        return -1;
    }
    // The previous session finishes on its own thread; its stores go with it.
    RetireSession();
    m_app.m_lstFindings.clear();
    m_pList->clear();
    m_nLastShown = 0;

    ScanSessionSetup setup;
    setup.roots = CanonicalScanRoots(roots);
    // The program's one shared index, no copy of it; a stale one is reloaded by the session's
    // worker, and a list it cannot read ends the scan before it walks anything.
    setup.listSource = &m_app;
    // Read once: a change of the setting during the scan doesn't affect it.
    setup.deleteOnFind = m_app.m_pSettings ? m_app.m_pSettings->deleteOnFind.load() : 0;
    setup.options.pProcesses = CurrentUiEnv().RunningProcesses();
    setup.options.pPackageFiles = CurrentUiEnv().ScanPackageFiles();
    setup.options.pFingerprintCache = m_app.m_pFingerprintCache;
    setup.moduleDir = m_app.m_strModuleDir;
    m_nActiveTag = ++m_nLastTag;
    m_pSession = std::make_unique<ScanSession>(std::move(setup), this, m_nActiveTag);
    m_tmStart = m_pSession->StartTime();
    m_txtCurrent->SetText(u"等待扫描。。。");
    m_nState = kStateScanning;
    EnableGroup(false);
    ShowProgressSummary();
    m_app.m_bScanRunning = 1;
    return 0;
}

void ScanDlg::OnMessage(const Message& m) {
    // Only the current scan speaks; a stopped or earlier one may have left messages queued.
    if (m_nActiveTag == 0 || m.lParam != m_nActiveTag || !m_pSession) return;
    switch (m.message) {
        case WM_SCAN_PROGRESS:
            OnScanProgress();
            break;
        case WM_SCAN_FOUND:
            // Every finding past the last line shown arrives in one batch; the messages of the
            // rest of the batch then find nothing new.
            // The rest of a large batch follows in a message of its own.
            if (!RefreshResults(false, kFindingsPerBatch)) PostMessage(WM_SCAN_FOUND, 0, m.lParam);
            ShowProgressSummary();
            break;
        case WM_SCAN_DONE:
            OnScanDone();
            break;
        default:
            break;
    }
}

void ScanDlg::OnScanProgress() {
    const std::u16string current = m_pSession->TakeProgress();
    if (!current.empty()) m_txtCurrent->SetText(u"/line_width=%d/%s", width() - 10, current);
    ShowProgressSummary();
}

void ScanDlg::OnScanDone() {
    if (m_pSession->ListUnreadable()) {
        m_nActiveTag = 0;
        RestorePauseButton();
        EnableGroup(true);
        m_txtCurrent->SetText(u"等待扫描。。。");
        m_nState = kStateStopped;
        m_app.m_bScanRunning = 0;
        ShowMessageBox(this, QStringLiteral("列表读取失败，无法扫描！"), QStringLiteral("Tovarek"));
        return;
    }
    // The findings not yet shown first, a batch at a time, so the window answers meanwhile.
    if (!RefreshResults(false, kFindingsPerBatch)) {
        PostMessage(WM_SCAN_DONE, 0, m_nActiveTag);
        return;
    }
    m_nActiveTag = 0;
    RestorePauseButton();
    EnableGroup(true);
    ShowFinalSummaryAndWriteLog();
    m_nState = kStateFinished;
    m_app.m_bScanRunning = 0;
    // Its worker is about to end (it may still save the fingerprints); the session stays shown
    // until the next scan, for "删除所选" and the log. Stopped ones that ended are joined.
    ReapSessions();
}

bool ScanDlg::RefreshResults(bool reset, size_t limit) {
    if (reset) {
        m_pList->clear();
        m_nLastShown = 0;
        m_app.m_lstFindings.clear();
    }
    if (!m_pSession) return true;
    // A line is a finding's by its sequence number, not by its text: names that are prefixes of
    // others, differ only in case, or lost their file all keep a line of their own. Numbers only
    // grow during a scan, so the findings past the last one shown are the ones without a line.
    std::vector<std::pair<int32_t, ScanFileRecord>> records;
    bool more = false;
    m_pSession->Findings().ForEach(
        [&](int32_t sequence, const ScanFileRecord& record) {
            if (records.size() < limit) {
                records.emplace_back(sequence, record);
            } else {
                more = true;
            }
        },
        m_nLastShown);
    if (records.empty()) return true;
    QListWidgetItem* last = nullptr;
    for (const auto& [sequence, record] : records) {
        m_app.m_lstFindings.push_back(record.fileName);
        auto* item = new QListWidgetItem(QString::fromStdU16String(
            EscapeName(ScanResultLine(record.filePath, record.bSystemFile))));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        item->setData(Qt::UserRole, sequence);
        m_pList->addItem(item);
        last = item;
        m_nLastShown = sequence;
    }
    // Once per batch: moving the current line lays the list out again.
    m_pList->setCurrentItem(last);
    return !more;
}

void ScanDlg::DeleteSelected() {
    std::vector<int32_t> chosen;
    for (int i = 0; i < m_pList->count(); ++i) {
        QListWidgetItem* item = m_pList->item(i);
        if (item->checkState() == Qt::Checked) chosen.push_back(item->data(Qt::UserRole).toInt());
    }
    m_pSession->DeleteFindings(chosen);
}

void ScanDlg::ShowProgressSummary() {
    if (!m_pSession) return;
    m_txtSummary->SetText(u"%s", m_pSession->Summary(false));
}

void ScanDlg::ShowFinalSummaryAndWriteLog() {
    if (!m_pSession) return;
    if (!m_app.m_lstFindings.empty() && m_pMainWnd) m_pMainWnd->PostMessage(WM_SHOW_NOTICE, 0, 0);
    m_txtSummary->SetText(u"%s", m_pSession->Summary(true));
    m_pSession->WriteLog();
}

void ScanDlg::OnSize(int w, int h) {
    m_pList->setGeometry(5, 50, w - 10, h - 110);
}

void ScanDlg::OnPaintObjects(QPainter& dc) {
    const int w = width();
    const int h = height();
    // The quick and full buttons share their places with pause and stop: only the enabled pair
    // is drawn, so only it can be seen and clicked.
    if (m_bIdleEnabled) {
        m_btnQuick->Draw(dc, 10, 15, this, 0);
        m_btnFull->Draw(dc, 110, 15, this, 0);
    } else {
        m_btnPause->Draw(dc, 10, 15, this, 0);
        m_btnStop->Draw(dc, 70, 15, this, 0);
    }
    m_btnCustom->Draw(dc, 210, 15, this, 0);
    m_btnSelectAll->Draw(dc, w - 160, 20, this, 0);
    m_btnDelete->Draw(dc, w - 70, 15, this, 0);
    m_txtSummary->Draw(dc, 5, h - 50, this, 0);
    m_txtCurrent->Draw(dc, 5, h - 35, this, 0);
}

}  // namespace tovarek
