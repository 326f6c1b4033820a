#include "scan/scan_session.h"

#include <utility>

#include "platform/code_page.h"
#include "platform/file_id.h"
#include "platform/local_time.h"
#include "platform/path_text.h"
#include "platform/program_folders.h"
#include "scan/fingerprint_cache.h"
#include "scan/package_files.h"
#include "scan/process_table.h"
#include "scan/quarantine.h"
#include "scan/scan_log.h"
#include "scan/scan_summary.h"
#include "store/blacklist.h"

namespace tovarek {

ScanSession::ScanSession(ScanSessionSetup setup, MessageSink* window, intptr_t tag)
    : m_setup(std::move(setup)), m_tmStart(NowSeconds()), m_gate(window, tag) {
    m_thread = std::thread([this] { Run(); });
}

ScanSession::~ScanSession() {
    Stop();
    Join();
}

void ScanSession::Join() {
    if (m_thread.joinable()) m_thread.join();
}

void ScanSession::Run() {
    ScanOptions options = m_setup.options;
    options.pControl = &m_control;
    options.onReading = [this](const std::u16string& path) {
        {
            std::lock_guard<std::mutex> lock(m_progressMutex);
            m_strCurrent = path;
        }
        m_control.Post(&m_gate, WM_SCAN_PROGRESS, 0, 0);
    };
    static const ScanList kNoList;
    BlacklistView list = m_setup.list;
    // A list that could not be read would make every file look clean: no walk at all.
    // A stop gives a long reload up at once.
    if (!list && m_setup.listSource && GetSharedBlacklist(*m_setup.listSource, list, [this] {
                                           return !m_control.IsStopped();
                                       }) != 0)
        m_bListUnreadable.store(true, std::memory_order_release);
    if (!m_bListUnreadable.load(std::memory_order_relaxed)) {
        ScanJob job(m_scanned, m_findings, list ? *list : kNoList, &m_gate, m_setup.deleteOnFind,
                    options);
        for (const std::u16string& root : m_setup.roots) {
            if (m_control.IsStopped()) break;
            ScanDirectory(job, Utf16ToPath(root));
        }
        // A scan paused on its last file stays paused: it ends when continued, or is stopped.
        m_control.Checkpoint();
        m_outcome = std::move(job.m_outcome);
    }
    m_bOutcomeReady.store(true, std::memory_order_release);
    {
        // The records of the files judged served the progress line only; the count stays.
        std::lock_guard<std::mutex> lock(m_progressMutex);
        m_nScannedFinal = static_cast<int64_t>(m_scanned.Size());
        m_bScannedReleased = true;
    }
    m_scanned.Clear();
    m_control.Post(&m_gate, WM_SCAN_DONE, 0, 0);
    // What a stopped scan read is as good as the rest.
    if (options.pFingerprintCache) {
        options.pFingerprintCache->Save(DataFile(kFingerprintCacheFileName));
    }
    m_bEnded.store(true, std::memory_order_release);
}

std::u16string ScanSession::TakeProgress() {
    m_gate.TakeProgress();
    return CurrentFile();
}

std::u16string ScanSession::CurrentFile() const {
    std::lock_guard<std::mutex> lock(m_progressMutex);
    return m_strCurrent;
}

int64_t ScanSession::ScannedCount() const {
    std::lock_guard<std::mutex> lock(m_progressMutex);
    return m_bScannedReleased ? m_nScannedFinal : static_cast<int64_t>(m_scanned.Size());
}

const ScanOutcome& ScanSession::Outcome() const {
    static const ScanOutcome kNone;
    return m_bOutcomeReady.load(std::memory_order_acquire) ? m_outcome : kNone;
}

uint64_t ScanSession::FoldersNotWalked() const {
    const ScanOutcome& outcome = Outcome();
    return outcome.refusedRoots.size() + outcome.tooDeepSubtrees;
}

std::u16string ScanSession::Summary(bool final) const {
    return BuildScanSummary(ScannedCount(), static_cast<int>(m_findings.Size()),
                            NowSeconds() - m_tmStart, final, final ? FoldersNotWalked() : 0);
}

int ScanSession::WriteLog() const {
    std::vector<ScanLogLine> lines;
    m_findings.ForEach([&lines](int32_t, const ScanFileRecord& record) {
        lines.push_back({record.filePath, record.bSystemFile, false,
                         QuarantineFailureNote(record.quarantine.status)});
    });
    for (ScanLogLine& line : lines) line.vanished = !line.systemFile && PathVanished(line.filePath);
    return WriteScanLog(m_setup.moduleDir, m_tmStart, lines);
}

void ScanSession::DeleteFindings(const std::vector<int32_t>& sequences) {
    Processes& processes =
        m_setup.options.pProcesses ? *m_setup.options.pProcesses : SystemProcesses();
    PackageFiles& packages =
        m_setup.options.pPackageFiles ? *m_setup.options.pPackageFiles : SystemPackageFiles();
    ProcessTable table;
    uint32_t shellProcessId = 0;
    // One snapshot serves every file of this deletion.
    if (!sequences.empty()) processes.Snapshot(table, shellProcessId);
    const Quarantine ownQuarantine;
    const Quarantine& quarantine =
        m_setup.options.pQuarantine ? *m_setup.options.pQuarantine : ownQuarantine;
    for (int32_t sequence : sequences) {
        ScanFileRecord record;
        if (!m_findings.Find(sequence, record)) continue;
        const std::string path = Utf16ToPath(record.filePath);
        const FileId& found = record.fileId;
        // Asked again: the file may have become a package's since the scan.
        if (record.bSystemFile || packages.IsUnmodifiedPackageFileAt(path, found)) continue;
        if (found.SameFile(FileIdOfPath(path))) {
            // Whatever path or name a process runs it by, the same file ends with it.
            processes.EndProcessesOfFile(table, shellProcessId, record.filePath, record.fileName,
                                         found);
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

}  // namespace tovarek
