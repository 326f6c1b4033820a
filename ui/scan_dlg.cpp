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
#include "scan/package_files.h"
#include "scan/process_table.h"
#include "scan/quarantine.h"
#include "scan/scan_log.h"
#include "scan/scan_message_gate.h"
#include "scan/scan_summary.h"
#include "scan/scan_worker.h"
#include "store/app_settings.h"
#include "ui/message_box.h"
#include "ui/set_scan_path_dlg.h"
#include "ui/skin/skin_ui.h"
#include "ui/ui_resources.h"
#include "ui/ui_state.h"

namespace tovarek {
namespace {

constexpr char16_t kPauseMarkup[] = u"/a,p5=%d,btn_width=45,btn_text='暂停'/";
constexpr char16_t kContinueMarkup[] = u"/a,p5=%d,btn_width=45,btn_text='继续'/";

ScanDlg::TestHooks& Hooks() {
    static ScanDlg::TestHooks hooks;
    return hooks;
}

UiRichText* MakeObject(const QString& markup) {
    UiRichText* object = GetSkinUi()->CreateRichText();
    object->SetMarkup(markup);
    return object;
}

}  // namespace

void ScanDlg::SetTestHooks(TestHooks hooks) {
    Hooks() = std::move(hooks);
}

ScanDlg::ScanDlg(UiState& app, MessageSink* mainWnd, QWidget* parent)
    : SkinnedWidget(kSkinPage, parent), m_app(app), m_pMainWnd(mainWnd) {
    setObjectName("ScanDlg");
    m_pList = new QListWidget(this);
    m_pList->setObjectName("ScanResultList");
    m_pList->setGeometry(0, 35, 350, 200);
    m_pList->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_pList->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    if (m_app.m_pUiRes) m_pList->setFont(m_app.m_pUiRes->fntText);
    CreatePageObjects();
    m_nScanned = 0;
    EnableGroup(true);
    m_nState = kStateStopped;
    if (m_app.m_pSettings && m_app.m_pSettings->autoScan) OnUiClick(0);
}

ScanDlg::~ScanDlg() {
    JoinWorker();
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

void ScanDlg::StopAndJoinScan() {
    if (IsScanRunning()) OnStop();
    JoinWorker();
}

void ScanDlg::JoinWorker() {
    // The worker's destructor stops it and waits for its thread; only then may the stores be
    // emptied or changed, and only then is its gate no longer used.
    m_pWorker.reset();
    m_pGate.reset();
    m_nActiveTag = 0;
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
                const TestHooks& hooks = Hooks();
                if (index == 0) {
                    hooks.quickRoots ? hooks.quickRoots(roots) : AddQuickScanRoots(roots);
                } else {
                    hooks.fullRoots ? hooks.fullRoots(roots) : AddFixedDriveRoots(roots);
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
                if (m_pWorker) m_pWorker->Pause();
                m_nState = kStatePaused;
            }
            break;
        case 2:
            if (m_nState == kStatePaused) {
                m_btnPause->SetText(kPauseMarkup, m_nButtonImage);
                m_btnPause->SetClickHandler(1, 1, this, &ScanDlg::OnUiClick);
                if (m_pWorker) m_pWorker->Continue();
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
            if (canStart) {
                JoinWorker();
                DeleteSelected();
                RefreshResults(true);
                ShowSummary(true);
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
    if (m_pWorker) m_pWorker->Stop();  // nothing more is posted once this returns
    m_nActiveTag = 0;                  // and what is already queued is dropped
    m_btnPause->SetText(kPauseMarkup, m_nButtonImage);
    m_btnPause->SetClickHandler(1, 1, this, &ScanDlg::OnUiClick);
    m_txtCurrent->SetText(u"扫描已停止");
    EnableGroup(true);
    ShowSummary(true);
    m_nState = kStateStopped;
    m_app.m_bScanRunning = 0;
}

int ScanDlg::StartScan(const ScanRoots& roots) {
    if (roots.empty()) {
        ShowMessageBox(this, QStringLiteral("请选择要扫描的目录"), QStringLiteral("Tovarek"));
        return -1;
    }
    // The stores are the previous worker's until it has ended.
    JoinWorker();
    {
        // Built from the program's one shared index: no copy of the whole index for a scan.
        BlacklistView view;
        GetSharedBlacklist(m_app, view);
        m_scanList.Assign(view ? view->byMd5 : BlacklistMap{});
    }
    m_scannedFiles.Clear();
    m_findings.Clear();
    m_app.m_lstFindings.clear();
    m_pList->clear();
    m_nLastShown = 0;
    m_tmStart = NowSeconds();
    m_nScanned = 0;

    m_nActiveTag = ++m_nLastTag;
    m_pGate = std::make_unique<ScanMessageGate>(this, m_nActiveTag);
    m_pWorker = std::make_unique<UITdScan>(m_app);
    m_pWorker->Options().pEnder = Hooks().pEnder;
    m_pWorker->Options().pPackageFiles = Hooks().pPackageFiles;
    m_pWorker->PostScanRequest(CanonicalScanRoots(roots), &m_scannedFiles, &m_findings, &m_scanList,
                               m_pGate.get());
    m_nState = kStateScanning;
    EnableGroup(false);
    m_app.m_bScanRunning = 1;
    return 0;
}

void ScanDlg::OnMessage(const Message& m) {
    // Only the current scan speaks; a stopped or earlier one may have left messages queued.
    if (m_nActiveTag == 0 || m.lParam != m_nActiveTag) return;
    switch (m.message) {
        case WM_SCAN_PROGRESS:
            OnScanProgress();
            break;
        case WM_SCAN_FOUND:
            RefreshResults(false);
            ShowSummary(false);
            break;
        case WM_SCAN_DONE:
            OnScanDone();
            break;
        default:
            break;
    }
}

void ScanDlg::OnScanProgress() {
    ScanFileRecord record;
    if (!m_scannedFiles.Find(static_cast<int32_t>(m_pGate->TakeProgress()), record)) return;
    m_txtCurrent->SetText(u"/line_width=%d/%s", width() - 10, record.filePath);
    m_nScanned = static_cast<int64_t>(m_scannedFiles.Size());
    ShowSummary(false);
}

void ScanDlg::OnScanDone() {
    m_nActiveTag = 0;
    RefreshResults(false);
    EnableGroup(true);
    ShowSummary(true);
    m_nState = kStateFinished;
    m_app.m_bScanRunning = 0;
    // Idle in its loop now: end its thread at once.
    JoinWorker();
}

void ScanDlg::RefreshResults(bool reset) {
    if (reset) {
        m_pList->clear();
        m_nLastShown = 0;
        m_app.m_lstFindings.clear();
    }
    // A line is a finding's by its sequence number, not by its text: names that are prefixes of
    // others, differ only in case, or lost their file all keep a line of their own. Numbers only
    // grow during a scan, so the findings past the last one shown are the ones without a line.
    std::vector<std::pair<int32_t, ScanFileRecord>> records;
    m_findings.ForEach(
        [&](int32_t sequence, const ScanFileRecord& record) {
            records.emplace_back(sequence, record);
        },
        m_nLastShown);
    for (const auto& [sequence, record] : records) {
        m_app.m_lstFindings.push_back(record.fileName);
        auto* item = new QListWidgetItem(QString::fromStdU16String(
            EscapeName(ScanResultLine(record.filePath, record.bSystemFile))));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        item->setData(Qt::UserRole, sequence);
        m_pList->addItem(item);
        m_pList->setCurrentItem(item);
        m_nLastShown = sequence;
    }
}

void ScanDlg::DeleteSelected() {
    ProcessEnder* ender = Hooks().pEnder;
    PackageFiles& packages = Hooks().pPackageFiles ? *Hooks().pPackageFiles : SystemPackageFiles();
    ProcessTable table;
    uint32_t shellProcessId = 0;
    // One snapshot serves every file of this deletion.
    if (!ender) SnapshotProcesses(table, shellProcessId);
    const Quarantine quarantine;
    for (int i = 0; i < m_pList->count(); ++i) {
        QListWidgetItem* item = m_pList->item(i);
        if (item->checkState() != Qt::Checked) continue;
        const int32_t sequence = item->data(Qt::UserRole).toInt();
        ScanFileRecord record;
        if (!m_findings.Find(sequence, record)) continue;
        const std::string path = Utf16ToPath(record.filePath);
        // Only the file the scan found: one put at the same path since (a package update, a clean
        // copy) is not it, and neither are the processes running that one. Without a recorded
        // identity nothing is known about the file, so it stays as well. The line goes either way,
        // unless the found file itself could not be put in quarantine: then it stays, and so does
        // its line, and the log says why.
        const FileId& found = record.fileId;
        // A system file is left, and so is its line: it was not handled. Asked again, as the
        // file may have become one since the scan.
        if (record.bSystemFile || packages.IsUnmodifiedPackageFileAt(path, found)) continue;
        if (found.SameFile(FileIdOfPath(path))) {
            // Whatever path a process runs it by, the same file ends with it.
            if (ender) {
                ender->EndProcessesOfFile(record.filePath, record.fileName, found);
            } else {
                TerminateProcessesOfFile(table, shellProcessId, record.filePath, record.fileName,
                                         found);
            }
            const QuarantineResult moved = quarantine.MoveIn(
                path, found, Utf16ToUtf8(record.listedEntry), QuarantineOrigin::kScanPage);
            if (moved.Failed()) {
                m_findings.Update(sequence, [&](ScanFileRecord& r) { r.quarantine = moved; });
                continue;
            }
        }
        m_findings.Erase(sequence);
    }
}

void ScanDlg::ShowSummary(bool final) {
    const int64_t elapsed = m_tmStart ? NowSeconds() - m_tmStart : 0;
    const int dangerous = m_pList->count();
    std::u16string summary = BuildScanSummary(m_nScanned, dangerous, elapsed, final);
    if (final && !m_app.m_lstFindings.empty() && m_pMainWnd)
        m_pMainWnd->PostMessage(WM_SHOW_NOTICE, 0, 0);
    m_txtSummary->SetText(u"%s", summary);
    if (!final) return;
    std::vector<std::u16string> lines;
    std::vector<std::u16string> notes;
    for (int i = 0; i < m_pList->count(); ++i) {
        QListWidgetItem* item = m_pList->item(i);
        ScanFileRecord record;
        const bool known = m_findings.Find(item->data(Qt::UserRole).toInt(), record);
        // From the record: the log escapes the name itself, the list shows it escaped already.
        lines.push_back(known ? ScanResultLine(record.filePath, record.bSystemFile)
                              : item->text().toStdU16String());
        notes.push_back(known ? QuarantineFailureNote(record.quarantine.status) : u"");
    }
    WriteScanLog(m_app.m_strModuleDir, m_tmStart, lines, notes);
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
