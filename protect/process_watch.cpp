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

ProcessWatch::ProcessWatch(CoreState& app, HistorySink* sink, WatchSetup setup)
    : m_app(app),
      m_pSink(sink),
      m_processes(setup.processes ? *setup.processes : SystemProcesses()),
      m_pPackages(setup.packages ? setup.packages : &SystemPackageFiles()),
      m_fingerprint(std::move(setup.fingerprint)),
      m_ownExecutable(setup.ownExecutable),
      m_clock(std::move(setup.clock)),
      m_cache(app.m_pFingerprintCache),
      m_pNotices(&app.m_lstInterceptions) {
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
    m_processes.Snapshot(table, shellProcessId);

    // Formed as every entry's path is (the kernel's " (deleted)" dropped), so a rebuilt or
    // replaced program still recognises itself; the file identity catches alias paths.
    const std::u16string ownPath = LowerCase(PathToUtf16(ModulePath()));
    const FileId ownFile = m_ownExecutable.known ? m_ownExecutable : OwnExecutableId();
    const std::set<uint32_t> protectedIds = m_processes.ProtectedProcessIds();

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
        const bool hashed = m_fingerprint
                                ? m_fingerprint(entry, digest)
                                : m_cache.Fingerprint(ProcExePath(entry.processId), digest);
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
        if (hashed && m_pPackages->IsUnmodifiedPackageFile(entry.exeId, digest)) {
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
        for (uint32_t pid : toEnd) m_processes.EndChain(table, pid, shellProcessId, protectedIds);
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
    m_cache.EndPass();
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
