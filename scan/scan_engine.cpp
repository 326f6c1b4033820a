#include "scan/scan_engine.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/code_page.h"
#include "platform/dir_handle.h"
#include "platform/lower_case.h"
#include "platform/module_info.h"
#include "platform/mounts.h"
#include "platform/path_text.h"
#include "platform/regular_file.h"
#include "scan/file_fingerprint.h"
#include "scan/fingerprint_cache.h"
#include "scan/lane_file_hasher.h"
#include "scan/package_files.h"
#include "scan/process_table.h"
#include "scan/scan_journal.h"

namespace tovarek {

void AddQuickScanRoots(ScanRoots& roots) {
    roots.push_back(PathToUtf16(SystemProgramsDir()));
}

void AddFixedDriveRoots(ScanRoots& roots, const std::string& mountInfo,
                        const std::function<bool(uint32_t, uint32_t)>& isRemovable) {
    for (const std::string& point : FixedMountPoints(mountInfo, isRemovable)) {
        roots.push_back(PathToUtf16(point));
    }
}

void AddFixedDriveRoots(ScanRoots& roots) {
    AddFixedDriveRoots(roots, ReadMountInfo(), IsRemovableBlockDevice);
}

// ---- ScanControl ----

void ScanControl::Pause() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_nState.load() == kRunning) m_nState.store(kPaused, std::memory_order_release);
}

void ScanControl::Continue() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_nState.load() == kPaused) m_nState.store(kRunning, std::memory_order_release);
    }
    m_changed.notify_all();
}

void ScanControl::Stop() {
    std::lock_guard<std::recursive_mutex> posting(m_postMutex);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_nState.store(kStopped, std::memory_order_release);
    }
    m_changed.notify_all();
}

bool ScanControl::Checkpoint() {
    if (m_nState.load(std::memory_order_acquire) == kRunning) return true;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_nState.load() != kPaused; });
    return m_nState.load() != kStopped;
}

void ScanControl::Post(MessageSink* sink, unsigned message, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard<std::recursive_mutex> posting(m_postMutex);
    if (m_nState.load() == kStopped || !sink) return;
    sink->PostMessage(message, wParam, lParam);
}

// ---- the walk and the judgement ----

namespace {

// Past this depth directories are reached relative to an ancestor's descriptor instead of holding
// their own open, so a deep tree can't use up the process's descriptors (the helpers need some to
// read files).
constexpr int kMaxHeldDirectories = 96;
// A directory whose path below its anchor would pass this keeps its own descriptor and becomes the
// next anchor, so every relative path stays far below PATH_MAX however deep the tree.
constexpr size_t kMaxRelativeBytes = 2048;
// How deep the walk goes. Every level holds its entries, its path and a stack frame while the
// levels below it are walked, so a tree made deep on purpose would otherwise use up the worker's
// stack and memory. Deeper subtrees are skipped and counted; real trees stay far above this.
constexpr int kMaxDepth = 1024;
constexpr size_t kMaxPathBytes = 16384;
// Files walked ahead of the judgement; bounds memory and open directories. With fingerprinting
// threads, enough to keep every lane fed while one lane still reads a large file that is next
// to be judged; and at most so many directories, whose descriptors the files keep open.
constexpr size_t kWindowFiles = 48;
constexpr size_t kWindowFilesPerLane = 16;
constexpr size_t kWindowDirectories = 128;
// While the list still loads, nothing can be judged: the walk, the cache and the reads go on
// ahead of it this far, so a repeated scan has settled most files by the time the list is in.
constexpr size_t kWindowFilesBeforeList = 16384;
constexpr size_t kMaxFilesInLanes = 512;

struct WalkedDir : DirHandle {
    std::u16string widePath;
    size_t filesInWindow = 0;  // walking thread only
};

enum FileState { kPending, kTaken, kDone };

struct PendingFile {
    std::shared_ptr<WalkedDir> dir;
    std::string name;
    bool mayOpen = false;  // a regular file, or a link to one: never a device, FIFO or socket
    FileState state = kPending;
    bool hashed = false;
    bool abandoned = false;   // dropped unread on a stop: not judged at all
    bool cacheTried = false;  // looked up in the cache already
    char digest[33] = {};
    FileId id;  // which file the name led to, as seen when it was fingerprinted
    // Set when the fingerprint read may be kept in the cache: the file's identity before the
    // read, and the time just before that identity was taken.
    bool cacheable = false;
    FileIdentity identity;
    int64_t identityTakenNs = 0;
};

// Most names are plain ASCII: widen them without a trip through the decoder. Names are bytes;
// the wide text keeps every byte (see path_text.h).
std::u16string ToWide(std::string_view narrow) {
    for (unsigned char c : narrow) {
        if (c >= 0x80) return PathToUtf16(narrow);
    }
    return std::u16string(narrow.begin(), narrow.end());
}

}  // namespace

class ScanPipeline : private LaneFileSource {
public:
    ScanPipeline(ScanJob& job, const ScanOptions& options);
    ~ScanPipeline();
    ScanPipeline(const ScanPipeline&) = delete;
    ScanPipeline& operator=(const ScanPipeline&) = delete;

    void ScanRoot(const std::string& root);

private:
    bool Stopped() const {
        return m_bListUnreadable.load(std::memory_order_relaxed) ||
               (m_pControl && m_pControl->IsStopped());
    }
    bool Checkpoint();
    bool Admit(const DirHandle& dir, dev_t parentDev, bool isRoot);
    // What the file system of `dev` is, judged once a scan (`fd` lies on it, for statfs when the
    // mount table doesn't name it). Any thread.
    struct DeviceKind {
        bool pseudo;           // a kernel view: never walked, not even as a root
        bool fixed;            // local and disk-backed: entered from above
        bool keepsChangeTime;  // a file's fingerprint may be kept while its identity holds
    };
    DeviceKind KindOf(int fd, dev_t dev);
    // The kind of a device the scan has judged already; false when it has not.
    bool KnownKindOf(dev_t dev, DeviceKind& kind);
    bool SettleFromCache(PendingFile& f, int at, const std::string& located);
    bool IsPseudoDevice(int fd, dev_t dev) { return KindOf(fd, dev).pseudo; }
    bool MayRead(dev_t dirDev, dev_t fileDev, int fd);
    void HashStream(PendingFile& f, int fd);
    int OpenForFingerprint(PendingFile& f, uint64_t& sizeBytes);
    // The step the walking thread and the fingerprinting threads share: take the oldest file no
    // thread has taken (under `lock`, which it releases), open it (a file settled without a read
    // is marked done at once), and once read, keep its fingerprint and mark it done.
    std::shared_ptr<PendingFile> TakeNext(std::unique_lock<std::mutex>& lock);
    // Moves the free index past files settled as they were walked; under m_mutex.
    size_t SkipSettled();
    int OpenTaken(PendingFile& f, uint64_t& sizeBytes);
    void Finish(PendingFile& f, bool ok, const char digestText[33]);
    void Remember(const PendingFile& f);
    // The fingerprinting threads' side (LaneFileSource).
    bool NextFile(LaneFile& file, bool wait) override;
    void FileDone(void* token, bool ok, const char digestText[33]) override;
    bool KeepGoing() override;
    void MarkDone(PendingFile& f);
    QuarantineResult QuarantineIfStillJudged(const PendingFile& f, const std::u16string& entry);
    bool IsQuarantineFolder(const DirHandle& dir);
    bool WalkDirectory(const std::shared_ptr<WalkedDir>& dir, int depth);
    bool Push(std::shared_ptr<PendingFile> file);
    void AdvanceOne();
    void Discard();
    void Judge(PendingFile& f);
    void Post(unsigned message, uintptr_t wParam);
    void HelperLoop();

    ScanJob& m_job;
    ScanControl* m_pControl;
    Processes* m_pProcesses;
    PackageFiles* m_pPackageFiles;
    std::u16string m_strOwnPathLower;
    FileId m_ownId;
    std::function<bool(uint32_t, uint32_t)> m_isRemovable;
    std::function<void(const std::string&)> m_beforeRead;
    std::function<void(const std::u16string&)> m_onReading;
    std::function<bool()> m_listReady;  // walking thread; cleared once asked
    std::atomic<bool> m_bListUnreadable{false};
    Md5LanePath m_md5Path;
    FingerprintCache* m_pCache;
    bool m_bCacheMayHit = false;  // the cache held fingerprints when the scan began
    size_t m_nWindowFiles = kWindowFiles;
    size_t m_nWindowDirectories = 0;  // directories the window's files are in; walking thread
    std::unique_ptr<Quarantine> m_pOwnQuarantine;
    const Quarantine* m_pQuarantine;
    // The quarantine folder, looked up again until it exists (a move during this scan may make
    // it). Walking thread only.
    FileId m_quarantineId;
    std::map<dev_t, std::string> m_mapFsTypeOfDevice;
    // Mount points (ending in '/') of file systems the walk never enters from above: skipped
    // before they are opened, so a dead network server can't hold the walk.
    std::set<std::string> m_setForeignMountPoints;
    // The helpers ask too, for files that links lead to.
    std::mutex m_deviceMutex;
    std::map<dev_t, DeviceKind> m_mapDeviceKind;
    std::set<std::pair<dev_t, ino_t>> m_visited;
    DirLister m_lister;
    // "/proc/self/fd", where files are reopened for reading (shared by the helpers, whose
    // descriptors are the process's).
    int m_procFdDir = -1;

    // The window of walked files not yet judged, oldest first. [0, m_nextFree) are taken or
    // done, the rest wait for a fingerprint or were settled from the cache as they were walked.
    // Only the walking thread adds or removes entries.
    std::mutex m_mutex;
    std::condition_variable m_cvWork;
    std::condition_variable m_cvDone;
    std::deque<std::shared_ptr<PendingFile>> m_window;
    size_t m_nextFree = 0;
    bool m_bShutdown = false;
    // The file the walking thread waits for, if it waits: only its completion wakes it, not
    // that of every file read ahead of it.
    const PendingFile* m_pAwaited = nullptr;
    std::vector<std::thread> m_helpers;
};

ScanPipeline::ScanPipeline(ScanJob& job, const ScanOptions& options)
    : m_job(job),
      m_pControl(options.pControl),
      m_pProcesses(options.pProcesses ? options.pProcesses : &SystemProcesses()),
      m_pPackageFiles(options.pPackageFiles ? options.pPackageFiles : &SystemPackageFiles()),
      m_pQuarantine(options.pQuarantine) {
    if (!m_pQuarantine) {
        m_pOwnQuarantine = std::make_unique<Quarantine>();
        m_pQuarantine = m_pOwnQuarantine.get();
    }
    std::string own = options.ownExecutablePath.empty() ? ModulePath() : options.ownExecutablePath;
    if (!own.empty()) m_strOwnPathLower = LowerCase(ToWide(own));
    m_ownId = options.ownExecutablePath.empty() ? OwnExecutableId()
                                                : FileIdOfPath(options.ownExecutablePath);
    m_isRemovable = options.isRemovable ? options.isRemovable : IsRemovableBlockDevice;
    m_beforeRead = options.beforeRead;
    m_onReading = options.onReading;
    m_listReady = options.listReady;
    m_md5Path = options.md5Path;
    m_pCache = options.pFingerprintCache;
    m_bCacheMayHit = m_pCache && m_pCache->Size() > 0;
    m_procFdDir = OpenProcFdDir();
    std::string mountInfo = options.mountInfo.empty() ? ReadMountInfo() : options.mountInfo;
    for (const MountInfoEntry& e : ParseMountInfo(mountInfo)) {
        // The last mount of a device wins: later lines stack over earlier ones.
        m_mapFsTypeOfDevice[makedev(e.major, e.minor)] = e.fsType;
        std::string point = e.mountPoint;
        if (point.empty() || point.back() != '/') point.push_back('/');
        if (!IsFixedFileSystemType(e.fsType) || m_isRemovable(e.major, e.minor)) {
            m_setForeignMountPoints.insert(point);
        } else {
            m_setForeignMountPoints.erase(point);
        }
    }
    int helpers = options.hashThreads;
    const size_t lanes = Md5Lanes(m_md5Path).LaneCount();
    if (helpers < 0) {
        // The walking thread mostly waits for them: one fingerprinting thread per core, but no
        // more than keep kMaxFilesInLanes open at once, far below the usual limit of 1024
        // descriptors (a file that can't be opened would be judged by its name alone).
        unsigned cores = std::thread::hardware_concurrency();
        helpers =
            std::clamp(static_cast<int>(cores), 1, static_cast<int>(kMaxFilesInLanes / lanes));
    }
    if (helpers > 0) {
        m_nWindowFiles =
            std::max(kWindowFiles, kWindowFilesPerLane * static_cast<size_t>(helpers) * lanes);
    }
    for (int i = 0; i < helpers; ++i) m_helpers.emplace_back([this] { HelperLoop(); });
}

ScanPipeline::~ScanPipeline() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bShutdown = true;
    }
    m_cvWork.notify_all();
    for (std::thread& t : m_helpers) t.join();
    if (m_procFdDir >= 0) CloseDescriptor(m_procFdDir);
}

bool ScanPipeline::Checkpoint() {
    if (m_bListUnreadable.load(std::memory_order_relaxed)) return false;
    if (!m_pControl) return true;
    bool wasPaused = m_pControl->IsPaused();
    bool go = m_pControl->Checkpoint();
    // The helpers sleep while paused and need a nudge to take up their work again.
    if (wasPaused && go) m_cvWork.notify_all();
    return go;
}

void ScanPipeline::HelperLoop() {
    LaneFileHasher hasher(m_md5Path);
    for (;;) {
        // Returns at the end, and after a stop (to wait there for the end).
        hasher.Run(*this);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bShutdown) return;
    }
}

// The next walked file a fingerprinting thread reads, in walk order. Files settled without a
// read (not a regular file, unreadable, known to the cache) are marked done on the way.
bool ScanPipeline::NextFile(LaneFile& file, bool wait) {
    for (;;) {
        std::shared_ptr<PendingFile> f;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            auto ready = [this] { return m_bShutdown || SkipSettled() < m_window.size(); };
            if (!ready()) {
                if (!wait) return false;
                m_cvWork.wait(lock, ready);
            }
            if (m_bShutdown) return false;
            f = m_window[m_nextFree];
            if (Stopped()) {
                // Nothing more is read; the walking thread, which may wait for this very file,
                // learns so at once.
                ++m_nextFree;
                f->abandoned = true;
                f->state = kDone;
                if (m_pAwaited == f.get()) m_cvDone.notify_one();
                continue;
            }
            if (m_pControl && m_pControl->IsPaused()) {
                if (!wait) return false;
                lock.unlock();
                m_pControl->Checkpoint();  // back once continued or stopped
                continue;
            }
            f = TakeNext(lock);
        }
        uint64_t sizeBytes = 0;
        const int fd = OpenTaken(*f, sizeBytes);
        if (fd >= 0) {
            // The hasher hands the token back in FileDone, whatever happens.
            file = {fd, sizeBytes, new std::shared_ptr<PendingFile>(std::move(f))};
            return true;
        }
    }
}

size_t ScanPipeline::SkipSettled() {
    while (m_nextFree < m_window.size() && m_window[m_nextFree]->state == kDone) ++m_nextFree;
    return m_nextFree;
}

std::shared_ptr<PendingFile> ScanPipeline::TakeNext(std::unique_lock<std::mutex>& lock) {
    std::shared_ptr<PendingFile> f = m_window[SkipSettled()];
    ++m_nextFree;
    f->state = kTaken;
    lock.unlock();
    return f;
}

int ScanPipeline::OpenTaken(PendingFile& f, uint64_t& sizeBytes) {
    const int fd = OpenForFingerprint(f, sizeBytes);
    if (fd < 0) MarkDone(f);
    return fd;
}

void ScanPipeline::Finish(PendingFile& f, bool ok, const char digestText[33]) {
    if (ok) {
        memcpy(f.digest, digestText, 33);
        f.hashed = true;
        Remember(f);
    } else if (Stopped()) {
        // Dropped part-way: neither counted nor judged.
        f.abandoned = true;
    }
    MarkDone(f);
}

void ScanPipeline::FileDone(void* token, bool ok, const char digestText[33]) {
    std::unique_ptr<std::shared_ptr<PendingFile>> holder(
        static_cast<std::shared_ptr<PendingFile>*>(token));
    Finish(**holder, ok, digestText);
}

bool ScanPipeline::KeepGoing() {
    if (m_bListUnreadable.load(std::memory_order_relaxed)) return false;
    return !m_pControl || m_pControl->Checkpoint();
}

void ScanPipeline::MarkDone(PendingFile& f) {
    std::lock_guard<std::mutex> lock(m_mutex);
    f.state = kDone;
    if (m_pAwaited == &f) m_cvDone.notify_one();
}

// Judges the oldest walked file once it has its fingerprint. Without fingerprinting threads the
// walking thread takes it here itself, one stream, right before its judgement.
void ScanPipeline::AdvanceOne() {
    std::unique_lock<std::mutex> lock(m_mutex);
    bool named = false;
    for (;;) {
        std::shared_ptr<PendingFile> front = m_window.front();
        if (front->state == kDone) {
            m_window.pop_front();
            if (--front->dir->filesInWindow == 0) --m_nWindowDirectories;
            // A file settled on the way in may lie past the free index.
            if (m_nextFree > 0) --m_nextFree;
            lock.unlock();
            Judge(*front);
            return;
        }
        if (m_onReading && !named) {
            // The scan waits for this file's read: it is the file the scan is at, however long
            // the read takes (files read ahead of it don't count).
            named = true;
            lock.unlock();
            m_onReading(front->dir->widePath + ToWide(front->name));
            lock.lock();
            continue;
        }
        if (m_helpers.empty()) {
            std::shared_ptr<PendingFile> f = TakeNext(lock);
            uint64_t sizeBytes = 0;
            const int fd = OpenTaken(*f, sizeBytes);
            if (fd >= 0) HashStream(*f, fd);
            lock.lock();
            continue;
        }
        m_pAwaited = front.get();
        m_cvDone.wait(lock, [&front] { return front->state == kDone; });
        m_pAwaited = nullptr;
    }
}

bool ScanPipeline::Push(std::shared_ptr<PendingFile> file) {
    // Settled here when the cache knows it: handing a file to a helper and waiting for it back
    // costs more than the one stat that settles it.
    bool settled = false;
    if (m_bCacheMayHit && file->mayOpen && !m_beforeRead) {
        std::string located;
        const int at = file->dir->Locate(file->name, located);
        settled = SettleFromCache(*file, at, located);
        if (settled) file->state = kDone;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (file->dir->filesInWindow++ == 0) ++m_nWindowDirectories;
        m_window.push_back(std::move(file));
    }
    if (!m_helpers.empty() && !settled) m_cvWork.notify_one();
    const size_t windowFiles =
        m_listReady ? std::max(m_nWindowFiles, kWindowFilesBeforeList) : m_nWindowFiles;
    while (m_window.size() >= windowFiles || m_nWindowDirectories > kWindowDirectories) {
        if (!Checkpoint()) return false;
        AdvanceOne();
    }
    return true;
}

void ScanPipeline::Discard() {
    std::lock_guard<std::mutex> lock(m_mutex);
    // A helper still reading one of these holds its own reference.
    for (const std::shared_ptr<PendingFile>& f : m_window) f->dir->filesInWindow = 0;
    m_window.clear();
    m_nextFree = 0;
    m_nWindowDirectories = 0;
}

void ScanPipeline::Post(unsigned message, uintptr_t wParam) {
    if (m_pControl) {
        m_pControl->Post(m_job.m_pNotifyWnd, message, wParam, 0);
    } else if (m_job.m_pNotifyWnd) {
        m_job.m_pNotifyWnd->PostMessage(message, wParam, 0);
    }
}

void ScanPipeline::Judge(PendingFile& f) {
    if (m_listReady) {
        // The walk and the reads went ahead while the list loaded.
        const bool ready = m_listReady();
        m_listReady = nullptr;
        if (!ready) {
            m_bListUnreadable.store(true);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_cvWork.notify_all();
        }
    }
    if (f.abandoned || m_bListUnreadable.load()) return;
    std::u16string wideName = ToWide(f.name);
    std::u16string widePath = f.dir->widePath + wideName;
    if (m_onReading) m_onReading(widePath);
    ScanRecordStore& store = m_job.m_scannedFiles;
    const int32_t scanned =
        store.Insert(store.KeepsRecords() ? ScanFileRecord{wideName, widePath, {}, {}, {}, {}}
                                          : ScanFileRecord{});
    Post(WM_SCAN_PROGRESS, static_cast<uintptr_t>(scanned));

    bool match = false;
    std::u16string entry;
    if (f.hashed) {
        std::u16string digest(f.digest, f.digest + 32);
        if (m_job.m_list.ContainsFingerprint(digest)) {
            match = true;
            entry = std::move(digest);
        }
    }
    if (!match && !m_job.m_list.empty()) {
        entry = LowerCase(wideName);
        match = m_job.m_list.ContainsName(entry);
    }
    // The program itself, by its path in any letter case or as the same file by any other path.
    if (match && ((!m_strOwnPathLower.empty() && LowerCase(widePath) == m_strOwnPathLower) ||
                  f.id.SameFile(m_ownId))) {
        match = false;
    }
    if (match) {
        // Reported, never ended or deleted: the system's own unmodified files.
        const bool systemFile =
            f.hashed && m_pPackageFiles->IsUnmodifiedPackageFile(f.id, f.digest);
        ScanFileRecord finding{
            std::move(wideName), std::move(widePath), f.id, systemFile, entry, {}};
        JournalFinding(finding.filePath, systemFile, f.hashed ? f.digest : nullptr);
        if (!systemFile) {
            ProcessTable table;
            uint32_t shellProcessId = 0;
            m_pProcesses->Snapshot(table, shellProcessId);
            m_pProcesses->EndProcessesOfFile(table, shellProcessId, finding.filePath,
                                             finding.fileName, f.id);
            if (m_job.m_bDeleteOnFind) finding.quarantine = QuarantineIfStillJudged(f, entry);
        }
        int32_t found = m_job.m_findings.Insert(std::move(finding));
        Post(WM_SCAN_FOUND, static_cast<uintptr_t>(found));
    }
}

bool ScanPipeline::KnownKindOf(dev_t dev, DeviceKind& kind) {
    std::lock_guard<std::mutex> lock(m_deviceMutex);
    auto cached = m_mapDeviceKind.find(dev);
    if (cached == m_mapDeviceKind.end()) return false;
    kind = cached->second;
    return true;
}

ScanPipeline::DeviceKind ScanPipeline::KindOf(int fd, dev_t dev) {
    std::lock_guard<std::mutex> lock(m_deviceMutex);
    auto cached = m_mapDeviceKind.find(dev);
    if (cached != m_mapDeviceKind.end()) return cached->second;
    DeviceKind kind{false, false, false};
    auto known = m_mapFsTypeOfDevice.find(dev);
    if (known != m_mapFsTypeOfDevice.end()) {
        kind = {IsPseudoFileSystemType(known->second), IsFixedFileSystemType(known->second),
                KeepsChangeTime(known->second)};
    } else {
        long magic = 0;
        if (FileSystemMagicOf(fd, magic)) {
            kind = {IsPseudoFileSystemMagic(magic), IsFixedFileSystemMagic(magic),
                    KeepsChangeTimeMagic(magic)};
        }
    }
    kind.fixed = kind.fixed && !m_isRemovable(major(dev), minor(dev));
    kind.keepsChangeTime = kind.keepsChangeTime && kind.fixed;
    m_mapDeviceKind.emplace(dev, kind);
    return kind;
}

// A directory is entered once per scan and never when it lies on a pseudo file system; below a
// root, another file system is entered only when it is a fixed one.
bool ScanPipeline::Admit(const DirHandle& dir, dev_t parentDev, bool isRoot) {
    // Stored files are already out of harm's way; judging them again would only move them again.
    if (IsQuarantineFolder(dir)) return false;
    if (isRoot || dir.dev() != parentDev) {
        const DeviceKind kind = KindOf(dir.fd(), dir.dev());
        if (kind.pseudo || (!isRoot && !kind.fixed)) return false;
    }
    return m_visited.emplace(dir.dev(), dir.ino()).second;
}

bool ScanPipeline::IsQuarantineFolder(const DirHandle& dir) {
    if (!m_quarantineId.known) m_quarantineId = m_pQuarantine->FolderId();
    const FileId id{static_cast<uint64_t>(dir.dev()), static_cast<uint64_t>(dir.ino()), true};
    return id.SameFile(m_quarantineId);
}

// A file that a link leads onto another file system is read only when that one is a file system
// the walk would enter: a link must not carry the scan onto a network share or a kernel view.
bool ScanPipeline::MayRead(dev_t dirDev, dev_t fileDev, int fd) {
    if (fileDev == dirDev) return true;
    const DeviceKind kind = KindOf(fd, fileDev);
    return !kind.pseudo && kind.fixed;
}

// A file the cache knows is settled by one stat, where a read needs three calls more (open,
// stat, close): most of a repeated scan's time. True when `f` has its fingerprint.
bool ScanPipeline::SettleFromCache(PendingFile& f, int at, const std::string& located) {
    f.cacheTried = true;
    struct stat st;
    if (!m_bCacheMayHit || !StatAt(at, located, st) || !S_ISREG(st.st_mode)) {
        return false;
    }
    DeviceKind kind{};
    if (!KnownKindOf(st.st_dev, kind) || (st.st_dev != f.dir->dev() && !kind.fixed) ||
        kind.pseudo || !kind.keepsChangeTime || !m_pCache->Lookup(IdentityOfStat(st), f.digest)) {
        return false;
    }
    f.id = FileIdOfStat(st);
    f.hashed = true;
    return true;
}

// Looks at what the name leads to now, whatever it was when listed, and opens it for reading
// when its fingerprint must be read: only a regular file on a file system the walk may read. -1
// when the file is settled without a read (its fingerprint then comes from the cache, or there
// is none).
int ScanPipeline::OpenForFingerprint(PendingFile& f, uint64_t& sizeBytes) {
    f.hashed = false;
    f.cacheable = false;
    if (m_beforeRead) m_beforeRead(f.dir->path() + f.name);
    std::string located;
    int at = f.dir->Locate(f.name, located);
    struct stat st;
    if (!f.mayOpen) {
        // Never opened (a device, FIFO or socket may block or act on an open); its identity
        // comes from the name alone.
        if (StatAt(at, located, st)) f.id = FileIdOfStat(st);
        return -1;
    }
    if (!f.cacheTried && SettleFromCache(f, at, located)) return -1;
    // Taken before the identity: a change after this moment moves the change time past it.
    const int64_t takenNs = m_pCache ? RealTimeNs() : 0;
    int pathFd = OpenPathAt(at, located.c_str(), st);
    if (pathFd < 0) return -1;
    f.id = FileIdOfStat(st);
    int fd = -1;
    if (S_ISREG(st.st_mode) && MayRead(f.dir->dev(), st.st_dev, pathFd)) {
        if (m_pCache && KindOf(pathFd, st.st_dev).keepsChangeTime) {
            f.identity = IdentityOfStat(st);
            f.hashed = m_pCache->Lookup(f.identity, f.digest);
            f.cacheable = !f.hashed;
            f.identityTakenNs = takenNs;
        }
        if (!f.hashed) {
            fd = ReopenForReading(pathFd, m_procFdDir);
            sizeBytes = static_cast<uint64_t>(st.st_size);
        }
    }
    CloseDescriptor(pathFd);
    return fd;
}

void ScanPipeline::Remember(const PendingFile& f) {
    if (f.cacheable && f.hashed) m_pCache->Insert(f.identity, f.digest, f.identityTakenNs);
}

// Reads the open file `fd` (closed here) and finishes `f`; a stop abandons it part-way, a pause
// waits inside it.
void ScanPipeline::HashStream(PendingFile& f, int fd) {
    char digest[33] = {};
    const bool ok = ComputeFdMd5(fd, digest, [this] { return Checkpoint(); });
    CloseDescriptor(fd);
    Finish(f, ok, digest);
}

// Moves the judged file into quarantine only while its directory entry is still the regular file
// that was fingerprinted: never a file that took its name since, nor what a link (to a file or,
// on the way down, to a directory) leads to.
QuarantineResult ScanPipeline::QuarantineIfStillJudged(const PendingFile& f,
                                                       const std::u16string& entry) {
    if (!f.id.known) return {};
    bool owned = false;
    int dirFd = f.dir->OpenAgain(owned);
    if (dirFd < 0) return {};
    QuarantineResult result = m_pQuarantine->MoveIn(dirFd, f.name, f.dir->path() + f.name, f.id,
                                                    Utf16ToUtf8(entry), QuarantineOrigin::kScan);
    if (owned) CloseDescriptor(dirFd);
    return result;
}

bool ScanPipeline::WalkDirectory(const std::shared_ptr<WalkedDir>& dir, int depth) {
    std::vector<DirEntry> entries;
    if (!m_lister.List(*dir, entries)) return true;
    if (depth >= kMaxHeldDirectories && dir->MayGiveUpDescriptor(kMaxRelativeBytes)) {
        dir->GiveUpDescriptor();
    } else {
        dir->KeepDescriptor();
    }
    for (DirEntry& e : entries) {
        if (!Checkpoint()) return false;
        bool isDirectory = e.type == DirEntry::kDirectory;
        bool mayOpen = e.type == DirEntry::kRegular;
        if (e.type == DirEntry::kLink || e.type == DirEntry::kUnknown) {
            // Links are followed: to a directory, it is walked; to a regular file, it is read.
            struct stat st;
            if (dir->StatIn(e.name, st)) {
                isDirectory = S_ISDIR(st.st_mode);
                mayOpen = S_ISREG(st.st_mode);
            }
        }
        if (isDirectory) {
            if (e.name[0] == '.') continue;
            std::string childPath = dir->path() + e.name + '/';
            // A mount of a kind never entered from above is not even opened.
            if (m_setForeignMountPoints.count(childPath)) continue;
            if (depth + 1 > kMaxDepth || childPath.size() > kMaxPathBytes) {
                ++m_job.m_outcome.tooDeepSubtrees;
                continue;
            }
            auto child = std::make_shared<WalkedDir>();
            if (!child->OpenIn(*dir, e.name, std::move(childPath)) ||
                !Admit(*child, dir->dev(), false)) {
                continue;
            }
            child->widePath = dir->widePath + ToWide(e.name) + u'/';
            // Where the child is reached from once its own descriptor is closed.
            child->LinkBelow(dir, e.name);
            if (!WalkDirectory(child, depth + 1)) return false;
        } else {
            auto file = std::make_shared<PendingFile>();
            file->dir = dir;
            file->name = std::move(e.name);
            file->mayOpen = mayOpen;
            if (!Push(std::move(file))) return false;
        }
    }
    return true;
}

void ScanPipeline::ScanRoot(const std::string& root) {
    if (Stopped() || root.empty()) return;
    auto dir = std::make_shared<WalkedDir>();
    std::string path = root;
    if (path.back() != '/') path.push_back('/');
    if (!dir->OpenRoot(std::move(path)) || IsPseudoDevice(dir->fd(), dir->dev())) {
        // Nothing below it is checked: the caller must not take this for a clean result.
        m_job.m_outcome.refusedRoots.push_back(root);
        return;
    }
    if (!Admit(*dir, 0, true)) return;
    dir->widePath = ToWide(dir->path());
    bool finished = WalkDirectory(dir, 0);
    while (finished && !m_window.empty()) {
        if (!Checkpoint()) {
            finished = false;
            break;
        }
        AdvanceOne();
    }
    if (!finished) Discard();
}

// ---- ScanJob ----

ScanJob::ScanJob(ScanRecordStore& scannedFiles, ScanRecordStore& findings, const ScanList& list,
                 MessageSink* notifyWnd, int deleteOnFind, const ScanOptions& options)
    : m_scannedFiles(scannedFiles),
      m_findings(findings),
      m_list(list),
      m_pNotifyWnd(notifyWnd),
      m_bDeleteOnFind(deleteOnFind) {
    m_pPipeline = std::make_unique<ScanPipeline>(*this, options);
}

ScanJob::~ScanJob() {
    m_pPipeline.reset();
}

void ScanDirectory(ScanJob& job, const std::string& directory) {
    job.m_pPipeline->ScanRoot(directory);
}

}  // namespace tovarek
