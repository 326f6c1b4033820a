// The scan engine: which directories a scan covers, the depth-first walk, and the judgement of
// every file (fingerprint in the blacklist, else lower-cased name among the listed names).
// A ScanJob belongs to the one thread that walks with it; fingerprints may be computed ahead on
// helper threads the job owns, while records, messages and findings keep the walk's order.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/file_id.h"
#include "platform/messages.h"
#include "scan/md5_lanes.h"
#include "scan/quarantine.h"
#include "scan/scan_stores.h"
#include "store/blacklist.h"
#include "store/scan_list.h"

namespace tovarek {

// Ordered list of root directories, each ending in '/'.
using ScanRoots = std::list<std::u16string>;

// Appends the quick-scan root (the system programs folder).
void AddQuickScanRoots(ScanRoots& roots);
// Appends the mount point of every fixed file system, in mount-table order.
void AddFixedDriveRoots(ScanRoots& roots);
// Same over a given mountinfo text and removable-device test (for tests).
void AddFixedDriveRoots(ScanRoots& roots, const std::string& mountInfo,
                        const std::function<bool(uint32_t, uint32_t)>& isRemovable);

// Pause and stop requests for a running scan. Any thread may request; the scanning thread and
// the job's helpers check between directory entries, between files and between the reads of a
// file. Once Stop() has returned, nothing more is posted through Post().
class ScanControl {
public:
    ScanControl() = default;
    ScanControl(const ScanControl&) = delete;
    ScanControl& operator=(const ScanControl&) = delete;

    void Pause();
    void Continue();
    void Stop();
    bool IsStopped() const { return m_nState.load(std::memory_order_acquire) == kStopped; }
    bool IsPaused() const { return m_nState.load(std::memory_order_acquire) == kPaused; }

    // Blocks while paused. Returns false once stopped.
    bool Checkpoint();
    // Posts unless stopped; the check and the post are one step as seen by Stop().
    void Post(MessageSink* sink, unsigned message, uintptr_t wParam, intptr_t lParam);

private:
    static constexpr int kRunning = 0;
    static constexpr int kPaused = 1;
    static constexpr int kStopped = 2;
    std::atomic<int> m_nState{kRunning};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Held around each post, so Stop() can wait out one in flight. Recursive: a sink may itself
    // ask for a pause or a stop.
    std::recursive_mutex m_postMutex;
};

class Processes;
class FingerprintCache;
class PackageFiles;

struct ScanOptions {
    ScanControl* pControl = nullptr;  // none: the scan can't be paused or stopped
    // What a finding's processes are ended through; none: SystemProcesses().
    Processes* pProcesses = nullptr;
    // The installed packages' records; none: SystemPackageFiles(). A finding that is an
    // unmodified package file is reported as a system file and neither ended nor deleted.
    PackageFiles* pPackageFiles = nullptr;
    // Where delete-on-find puts found files; its folder is never walked. None: the program's own
    // (DefaultQuarantineDir()).
    const Quarantine* pQuarantine = nullptr;
    // Threads that fingerprint ahead of the walk, many files at once each; -1 picks one per
    // core. 0: the walking thread fingerprints each file, one stream, just before judging it.
    int hashThreads = -1;
    // How the fingerprinting threads hash (for tests and benchmarks; the CPU's widest default).
    Md5LanePath md5Path = BestMd5LanePath();
    // Fingerprints kept between scans, for files on fixed local file systems whose change time
    // can be trusted; none: every file is read.
    FingerprintCache* pFingerprintCache = nullptr;
    // The program's own executable, never a finding (by path in any letter case, or as the same
    // file); empty: the running one.
    std::string ownExecutablePath;
    // The mount table that tells the file system of each device; empty: /proc/self/mountinfo.
    std::string mountInfo;
    // Tells removable block devices; none: IsRemovableBlockDevice.
    std::function<bool(uint32_t, uint32_t)> isRemovable;
    // For tests: runs on the fingerprinting thread just before the file at this path (directory
    // as walked, then the name) is looked at, so a test can swap it.
    std::function<void(const std::string&)> beforeRead;
    // Names the file the scan is at (directory as walked + name), on the walking thread: each
    // file as it is judged, and before that a file whose read the judgement must wait for, as
    // the wait begins, so a large file is named while it is read.
    std::function<void(const std::u16string&)> onReading;
    // Blocks until the list the job was given is complete, for a list still loading as the walk
    // begins; false when it could not be had: nothing is judged and the walk ends at once. Asked
    // once, on the walking thread, before the first judgement. None: the list is complete.
    std::function<bool()> listReady;
};

// What a scan could not cover, for the caller to tell the user.
struct ScanOutcome {
    // Directories not entered because they lie too deep (past the walk's depth or path length
    // bound); each one's whole subtree goes unchecked.
    uint64_t tooDeepSubtrees = 0;
    // Roots not walked at all (as given): they could not be opened or hold a kernel file system.
    std::vector<std::string> refusedRoots;
};

class ScanPipeline;

// The context of one scan. Its stores outlive it; the blacklist copy must stay unchanged while
// it lives. Directories are entered at most once per job (by device and inode). A root is walked
// whatever its file system (pseudo ones excepted); below it, the walk enters another file system
// only when it is a fixed one (local and disk-backed), so a scan of "/" never runs on into USB
// sticks, network shares, FUSE or RAM disks, nor hangs on a dead server.
class ScanJob {
public:
    ScanJob(ScanRecordStore& scannedFiles, ScanRecordStore& findings, const ScanList& list,
            MessageSink* notifyWnd, int deleteOnFind, const ScanOptions& options = {});
    ~ScanJob();
    ScanJob(const ScanJob&) = delete;
    ScanJob& operator=(const ScanJob&) = delete;

    ScanRecordStore& m_scannedFiles;
    ScanRecordStore& m_findings;
    const ScanList& m_list;
    MessageSink* m_pNotifyWnd;
    const int m_bDeleteOnFind;
    // Filled by the walking thread; read it once the walk has returned.
    ScanOutcome m_outcome;

private:
    friend class ScanPipeline;
    friend void ScanDirectory(ScanJob&, const std::string&);
    std::unique_ptr<ScanPipeline> m_pPipeline;
};

// Walks `directory` (narrow, ending in '/') and checks every file in it and below. Returns when
// every file met has been judged, or at once when the scan was stopped. A directory that can't
// be listed is skipped silently; a root that can't be walked, and subtrees too deep to enter, are
// counted in the job's outcome.
void ScanDirectory(ScanJob& job, const std::string& directory);

}  // namespace tovarek
