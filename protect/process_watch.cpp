#include "protect/process_watch.h"

#include <unistd.h>

#include <vector>

#include "platform/code_page.h"
#include "platform/local_time.h"
#include "platform/lower_case.h"
#include "platform/messages.h"
#include "platform/module_info.h"
#include "platform/path_text.h"
#include "platform/proc_reader.h"
#include "protect/intercept_log.h"
#include "store/core_state.h"
#include "store/scan_list.h"

namespace tovarek {
namespace {

std::u16string WidenAscii(const char* text, size_t length) {
    return std::u16string(text, text + length);
}

}  // namespace

int LinuxProcessControl::Snapshot(ProcessTable& table, uint32_t& shellProcessId) {
    return SnapshotProcesses(table, shellProcessId);
}

bool LinuxProcessControl::Fingerprint(const ProcessEntry& entry, char digestText[33]) {
    return m_cache.Fingerprint(ProcExePath(entry.processId), digestText);
}

void LinuxProcessControl::EndChain(const ProcessTable& table, uint32_t processId,
                                   uint32_t shellProcessId) {
    if (!m_bNeverEndedTaken) {
        m_setNeverEnded = NeverEndedProcessIds();
        m_bNeverEndedTaken = true;
    }
    EndProcesses(table, ChainProcessIds(table, processId, shellProcessId, m_setNeverEnded));
}

std::set<uint32_t> LinuxProcessControl::ProtectedProcessIds() {
    m_setNeverEnded = NeverEndedProcessIds();
    m_bNeverEndedTaken = true;
    return m_setNeverEnded;
}

void LinuxProcessControl::EndPass() {
    m_cache.EndPass();
    m_bNeverEndedTaken = false;
}

ProcessWatch::ProcessWatch(CoreState& app, HistorySink* sink, ProcessControl* control, Clock clock)
    : m_app(app),
      m_pSink(sink),
      m_pControl(control),
      m_clock(std::move(clock)),
      m_pNotices(&app.m_lstInterceptions) {
    if (!m_pControl) {
        m_pOwnControl = std::make_unique<LinuxProcessControl>(nullptr, app.m_pFingerprintCache);
        m_pControl = m_pOwnControl.get();
    }
    if (!m_clock) m_clock = NowSeconds;
}

bool ProcessWatch::RunProtectionPass() {
    // A list that could not be read is not an empty one: with no list ever read nothing can be
    // judged, and saying so once per failure keeps the history readable while every pass tries
    // again. A list read before stays in force while a reload fails.
    const auto keepGoing = [this] { return !m_bStopped.load(); };
    if (!keepGoing()) return false;
    if (GetSharedBlacklist(m_app, m_pBlacklist, keepGoing) == 0) {
        m_bListFailureShown = false;
    } else if (m_bStopped.load()) {
        return false;
    } else if (!m_pBlacklist) {
        if (!m_bListFailureShown && m_pSink)
            m_pSink->AddHistoryLine(BuildListFailureLine(m_clock()));
        m_bListFailureShown = true;
        return false;
    }
    const ScanList& list = *m_pBlacklist;

    ProcessTable table;
    uint32_t shellProcessId = 0;
    m_pControl->Snapshot(table, shellProcessId);

    // Formed as every entry's path is (the kernel's " (deleted)" dropped), so a rebuilt or
    // replaced program still recognises itself; the file identity catches alias paths.
    const std::u16string ownPath = LowerCase(PathToUtf16(ModulePath()));
    const FileId ownFile = m_pControl->OwnExecutable();
    const std::set<uint32_t> protectedIds = m_pControl->ProtectedProcessIds();

    std::vector<uint32_t> toEnd;
    for (const auto& [pid, entry] : table) {
        if (!keepGoing()) break;
        // A zombie runs nothing; matching it by its old name would log it at every pass.
        if (entry.hasExited) continue;
        // Never a target: matching it would log it every 3 seconds and end nothing.
        if (protectedIds.count(pid) || entry.exeId.SameFile(ownFile)) continue;
        char digest[33];
        std::u16string listed;
        bool matches = false;
        const bool hashed = m_pControl->Fingerprint(entry, digest);
        if (hashed) {
            listed = WidenAscii(digest, 32);
            matches = list.ContainsFingerprint(listed);
        }
        if (!matches) {
            listed = LowerCase(entry.exeName);
            matches = list.ContainsName(listed);
        }
        if (!matches) continue;
        // Never end ourselves, whatever the list says.
        if (!entry.exePath.empty() && LowerCase(entry.exePath) == ownPath) continue;
        // Nor the system's own unmodified files; told once per run and file, not every pass.
        if (hashed && m_pControl->Packages().IsUnmodifiedPackageFile(entry.exeId, digest)) {
            if (m_setSystemFilesShown.emplace(entry.exeId.device, entry.exeId.inode).second) {
                const int64_t now = m_clock();
                if (m_pSink) m_pSink->AddHistoryLine(BuildSystemFileLine(now, entry.exePath));
                WriteInterceptLog(m_app, entry.exePath, now, kSystemFileNote);
            }
            continue;
        }

        toEnd.push_back(pid);
        const int64_t now = m_clock();
        std::u16string line = BuildHistoryLine(now, entry.exeName);
        m_pNotices->push_back(entry.exeName);
        if (m_pSink) m_pSink->AddHistoryLine(line);
        ProcessEntry kept = entry;
        kept.spareText = line;
        kept.listedEntry = std::move(listed);
        {
            std::lock_guard lock(m_historyMutex);
            m_mapHistory[line] = std::move(kept);  // an equal earlier line's file is not this one
        }
        const int64_t logged = m_clock();
        WriteInterceptLog(m_app, entry.exePath, logged);
        JournalInterception(entry.exePath, hashed ? digest : nullptr, pid, logged);
    }

    if (!toEnd.empty()) {
        for (uint32_t pid : toEnd) m_pControl->EndChain(table, pid, shellProcessId);
        std::u16string longest;
        bool any = false;
        {
            std::lock_guard lock(m_historyMutex);
            for (const auto& [line, kept] : m_mapHistory) {
                if (!any || kept.spareText.size() > longest.size()) longest = kept.spareText;
                any = true;
            }
        }
        if (m_pSink && any) m_pSink->FitHistoryWidth(longest);
    }
    m_pControl->EndPass();
    return true;
}

bool ProcessWatch::FindHistory(const std::u16string& line, ProcessEntry& entry) const {
    std::lock_guard lock(m_historyMutex);
    auto it = m_mapHistory.find(line);
    if (it == m_mapHistory.end()) return false;
    entry = it->second;
    return true;
}

void ProcessWatch::EraseHistory(const std::u16string& line) {
    std::lock_guard lock(m_historyMutex);
    m_mapHistory.erase(line);
}

void ProcessWatch::OnWatchTimer(MessageSink& parent) {
    m_app.m_lstInterceptions.clear();
    RunProtectionPass();
    if (!m_app.m_lstInterceptions.empty()) parent.PostMessage(WM_SHOW_NOTICE, 1, 0);
}

}  // namespace tovarek
