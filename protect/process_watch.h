// The process watch: one pass looks at every running process and ends each one whose
// executable is listed, by fingerprint or by name, leaving a history line, a log line and a
// notice name for each. Passes run on one thread at a time (the protection page's worker) and
// never overlap; the history index may be asked and pruned from another thread meanwhile. The
// page's list box is reached through HistorySink, from the thread that runs the pass.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <string>

#include "protect/exe_fingerprint_cache.h"
#include "scan/package_files.h"
#include "scan/process_table.h"
#include "store/blacklist.h"

namespace tovarek {

class CoreState;
class MessageSink;

// What the protection page offers the pass: its history list box.
class HistorySink {
public:
    virtual ~HistorySink() = default;
    // Appends one line at the end of the history list (never sorted).
    virtual void AddHistoryLine(const std::u16string& line) = 0;
    // Refits the list's horizontal scroll range to `longestLine`, measured by the list itself.
    virtual void FitHistoryWidth(const std::u16string& longestLine) = 0;
};

// What a watch works with; every part left empty is the running system's.
struct WatchSetup {
    Processes* processes = nullptr;  // none: SystemProcesses()
    // The installed packages' records: a listed process whose executable is an unmodified
    // package file is reported, never ended. None: SystemPackageFiles().
    PackageFiles* packages = nullptr;
    // The fingerprint of what a process runs; false when it can't be read. None: read through
    // /proc/<pid>/exe and reused while the file is unchanged (see ExeFingerprintCache, which
    // shares the program's fingerprint cache).
    std::function<bool(const ProcessEntry&, char digestText[33])> fingerprint;
    // The file this program runs from: a process running it is never matched, whatever its path.
    // Unknown: the running executable.
    FileId ownExecutable;
    // The time of history and log lines; none: the wall clock.
    std::function<int64_t()> clock;
};

// History line -> the ended process's entry, with spareText holding the line; equal lines share
// one entry, the later one wins.
using HistoryIndex = std::map<std::u16string, ProcessEntry>;

class ProcessWatch {
public:
    using Clock = std::function<int64_t()>;

    // `sink` may be null (no list to show). What `setup` points to must outlive the watch.
    ProcessWatch(CoreState& app, HistorySink* sink, WatchSetup setup = {});
    ProcessWatch(const ProcessWatch&) = delete;
    ProcessWatch& operator=(const ProcessWatch&) = delete;

    // One pass: blacklist view, snapshot, every match recorded in ascending PID (history line,
    // notice name in app.m_lstInterceptions, log line), then every matched chain ended on the
    // same snapshot. A protected process or one running the program's own executable is never
    // matched: no line, no log, no notice, no chain. One running an unmodified package file is
    // not ended either: it gets a system-file history and log line, once per run and file, and
    // no notice. False when no list could be read (none ever, this pass included): nothing was
    // matched, and the first such pass after a readable one leaves the history line
    // "[time]列表读取失败，保护暂停". False too, without that line, once stopped.
    bool RunProtectionPass();

    // Any thread: the pass in progress gives up at its next process (a list being read, at its
    // next rows) and every later pass returns at once, so the program's end never waits for one.
    void Stop() { m_bStopped.store(true); }

    // The page's timer tick: empties the notice list, runs a pass and, when it ended anything,
    // posts WM_SHOW_NOTICE (1) to `parent`.
    void OnWatchTimer(MessageSink& parent);

    // Where a pass appends the names of the processes it ends: app.m_lstInterceptions unless
    // set (a pass on a worker thread keeps its own list, which the UI thread takes afterwards).
    void SetNoticeList(std::list<std::u16string>* notices) { m_pNotices = notices; }

    // Each entry keeps the ended process's exeId: the file it ran as seen in the pass, so a
    // later deletion can tell that file from one put at the same path since. The index itself
    // only while no pass runs; FindHistory and EraseHistory at any time.
    const HistoryIndex& historyIndex() const { return m_mapHistory; }
    bool FindHistory(const std::u16string& line, ProcessEntry& entry) const;
    // Removes a history entry (the page deletes its file or drops its line).
    void EraseHistory(const std::u16string& line);
    // What the page asks before it deletes an intercepted file.
    PackageFiles& Packages() { return *m_pPackages; }
    // The executables' fingerprints the watch keeps between passes (when it reads them itself).
    const ExeFingerprintCache& cache() const { return m_cache; }

private:
    CoreState& m_app;
    HistorySink* m_pSink;
    Processes& m_processes;
    PackageFiles* m_pPackages;
    std::function<bool(const ProcessEntry&, char digestText[33])> m_fingerprint;
    FileId m_ownExecutable;
    Clock m_clock;
    ExeFingerprintCache m_cache;
    BlacklistView m_pBlacklist;
    std::list<std::u16string>* m_pNotices;
    mutable std::mutex m_historyMutex;  // guards m_mapHistory
    HistoryIndex m_mapHistory;
    bool m_bListFailureShown = false;
    std::atomic<bool> m_bStopped{false};
    // The system files already reported in this run (device, inode).
    std::set<std::pair<uint64_t, uint64_t>> m_setSystemFilesShown;
};

}  // namespace tovarek
