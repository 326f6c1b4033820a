#include "scan/scan_engine.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <deque>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/code_page.h"
#include "platform/lower_case.h"
#include "platform/module_info.h"
#include "platform/mounts.h"
#include "scan/file_fingerprint.h"
#include "scan/process_table.h"

namespace tovarek {

NameIndex BuildNameIndex(const BlacklistMap& blacklist) {
    NameIndex index;
    for (const auto& [md5, entry] : blacklist) index[LowerCase(entry.name)] = entry;
    return index;
}

void AddQuickScanRoots(ScanRoots& roots) {
    roots.push_back(AnsiToUtf16(SystemProgramsDir()));
}

void AddFixedDriveRoots(ScanRoots& roots, const std::string& mountInfo,
                        const std::function<bool(uint32_t, uint32_t)>& isRemovable) {
    for (const std::string& point : FixedMountPoints(mountInfo, isRemovable)) {
        roots.push_back(AnsiToUtf16(point));
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

// ---- process ending ----

namespace {

class SystemEnder : public ProcessEnder {
public:
    void EndProcessesOfFile(const std::u16string& filePath,
                            const std::u16string& fileName) override {
        ProcessTable table;
        uint32_t shellProcessId = 0;
        SnapshotProcesses(table, shellProcessId);
        TerminateProcessesOfFile(table, shellProcessId, filePath, fileName);
    }
};

}  // namespace

ProcessEnder& SystemProcessEnder() {
    static SystemEnder ender;
    return ender;
}

// ---- the walk and the judgement ----

namespace {

// Past this depth directories are reached by path instead of holding their descriptor open, so a
// deep tree can't use up the process's descriptors (the helpers need some to read files).
constexpr int kMaxHeldDirectories = 96;
// Files walked ahead of the judgement; bounds memory and open directories.
constexpr size_t kWindowFiles = 48;
constexpr size_t kDirentBufferBytes = 32768;

struct DirRef {
    DirRef() = default;
    DirRef(const DirRef&) = delete;
    DirRef& operator=(const DirRef&) = delete;
    ~DirRef() {
        if (fd >= 0) close(fd);
    }
    int fd = -1;  // -1: reached by path only
    dev_t dev = 0;
    std::string path;  // ends in '/'
    std::u16string widePath;
};

enum FileState { kPending, kTaken, kDone };

struct PendingFile {
    std::shared_ptr<DirRef> dir;
    std::string name;
    bool mayOpen = false;  // a regular file, or a link to one: never a device, FIFO or socket
    FileState state = kPending;
    bool hashed = false;
    char digest[33] = {};
};

// Most names are plain ASCII: widen them without a trip through iconv.
std::u16string ToWide(std::string_view narrow) {
    for (unsigned char c : narrow) {
        if (c >= 0x80) return AnsiToUtf16(narrow);
    }
    return std::u16string(narrow.begin(), narrow.end());
}

int OpenIn(const DirRef& dir, const std::string& name, int flags) {
    if (dir.fd >= 0) return openat(dir.fd, name.c_str(), flags);
    return open((dir.path + name).c_str(), flags);
}

void Fingerprint(PendingFile& f) {
    f.hashed = false;
    if (!f.mayOpen) return;
    // O_NONBLOCK: should the entry have turned into a FIFO meanwhile, the open doesn't wait.
    int fd = OpenIn(*f.dir, f.name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) f.hashed = ComputeFdMd5(fd, f.digest);
    close(fd);
}

struct DirEntry {
    std::string name;
    unsigned char type;
};

// Every entry but "." and "..", in the order the file system gives them.
bool ReadEntries(int fd, std::vector<char>& buffer, std::vector<DirEntry>& entries) {
    entries.clear();
    for (;;) {
        ssize_t n = getdents64(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return !entries.empty();
        if (n == 0) return true;
        for (ssize_t off = 0; off < n;) {
            auto* d = reinterpret_cast<struct dirent64*>(buffer.data() + off);
            off += d->d_reclen;
            const char* name = d->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
                continue;
            }
            entries.push_back({name, d->d_type});
        }
    }
}

}  // namespace

class ScanPipeline {
public:
    ScanPipeline(ScanJob& job, const ScanOptions& options);
    ~ScanPipeline();
    ScanPipeline(const ScanPipeline&) = delete;
    ScanPipeline& operator=(const ScanPipeline&) = delete;

    void ScanRoot(const std::string& root);
    void CheckOne(const std::string& directory, const std::string& name);

private:
    bool Stopped() const { return m_pControl && m_pControl->IsStopped(); }
    bool Checkpoint();
    bool Admit(int fd, dev_t parentDev, bool isRoot, dev_t& dev);
    bool IsPseudoDevice(int fd, dev_t dev);
    bool WalkDirectory(const std::shared_ptr<DirRef>& dir, int depth);
    bool Push(std::shared_ptr<PendingFile> file);
    void AdvanceOne();
    void Discard();
    void Judge(PendingFile& f);
    void Post(unsigned message, uintptr_t wParam);
    void HelperLoop();

    ScanJob& m_job;
    ScanControl* m_pControl;
    ProcessEnder* m_pEnder;
    std::u16string m_strOwnPathLower;
    std::map<dev_t, std::string> m_mapFsTypeOfDevice;
    std::map<dev_t, bool> m_mapPseudoDevice;
    std::set<std::pair<dev_t, ino_t>> m_visited;
    std::vector<char> m_direntBuffer;

    // The window of walked files not yet judged, oldest first. [0, m_nextFree) are taken or
    // done, the rest wait for a fingerprint. Only the walking thread adds or removes entries.
    std::mutex m_mutex;
    std::condition_variable m_cvWork;
    std::condition_variable m_cvDone;
    std::deque<std::shared_ptr<PendingFile>> m_window;
    size_t m_nextFree = 0;
    bool m_bShutdown = false;
    bool m_bJudgeWaiting = false;
    std::vector<std::thread> m_helpers;
};

ScanPipeline::ScanPipeline(ScanJob& job, const ScanOptions& options)
    : m_job(job),
      m_pControl(options.pControl),
      m_pEnder(options.pEnder ? options.pEnder : &SystemProcessEnder()),
      m_direntBuffer(kDirentBufferBytes) {
    std::string own = options.ownExecutablePath.empty() ? ModulePath() : options.ownExecutablePath;
    if (!own.empty()) m_strOwnPathLower = LowerCase(ToWide(own));
    std::string mountInfo = options.mountInfo.empty() ? ReadMountInfo() : options.mountInfo;
    for (const MountInfoEntry& e : ParseMountInfo(mountInfo)) {
        m_mapFsTypeOfDevice.emplace(makedev(e.major, e.minor), e.fsType);
    }
    int helpers = options.hashThreads;
    if (helpers < 0) {
        unsigned cores = std::thread::hardware_concurrency();
        helpers = cores > 1 ? static_cast<int>(cores) - 1 : 0;
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
}

bool ScanPipeline::Checkpoint() {
    if (!m_pControl) return true;
    bool wasPaused = m_pControl->IsPaused();
    bool go = m_pControl->Checkpoint();
    // The helpers sleep while paused and need a nudge to take up their work again.
    if (wasPaused && go) m_cvWork.notify_all();
    return go;
}

void ScanPipeline::HelperLoop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cvWork.wait(lock, [this] {
            return m_bShutdown ||
                   (m_nextFree < m_window.size() &&
                    !(m_pControl && (m_pControl->IsPaused() || m_pControl->IsStopped())));
        });
        if (m_bShutdown) return;
        std::shared_ptr<PendingFile> f = m_window[m_nextFree++];
        f->state = kTaken;
        lock.unlock();
        Fingerprint(*f);
        lock.lock();
        f->state = kDone;
        if (m_bJudgeWaiting) m_cvDone.notify_one();
    }
}

// Judges the oldest walked file, fingerprinting it (or a later one) here when no helper has.
void ScanPipeline::AdvanceOne() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        std::shared_ptr<PendingFile> front = m_window.front();
        if (front->state == kDone) {
            m_window.pop_front();
            --m_nextFree;
            lock.unlock();
            Judge(*front);
            return;
        }
        if (m_nextFree < m_window.size()) {
            std::shared_ptr<PendingFile> f = m_window[m_nextFree++];
            f->state = kTaken;
            lock.unlock();
            Fingerprint(*f);
            lock.lock();
            f->state = kDone;
            continue;
        }
        m_bJudgeWaiting = true;
        m_cvDone.wait(lock, [&front] { return front->state == kDone; });
        m_bJudgeWaiting = false;
    }
}

bool ScanPipeline::Push(std::shared_ptr<PendingFile> file) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_window.push_back(std::move(file));
    }
    if (!m_helpers.empty()) m_cvWork.notify_one();
    while (m_window.size() >= kWindowFiles) {
        if (!Checkpoint()) return false;
        AdvanceOne();
    }
    return true;
}

void ScanPipeline::Discard() {
    std::lock_guard<std::mutex> lock(m_mutex);
    // A helper still reading one of these holds its own reference.
    m_window.clear();
    m_nextFree = 0;
}

void ScanPipeline::Post(unsigned message, uintptr_t wParam) {
    if (m_pControl) {
        m_pControl->Post(m_job.m_pNotifyWnd, message, wParam, 0);
    } else if (m_job.m_pNotifyWnd) {
        m_job.m_pNotifyWnd->PostMessage(message, wParam, 0);
    }
}

void ScanPipeline::Judge(PendingFile& f) {
    std::u16string wideName = ToWide(f.name);
    std::u16string widePath = f.dir->widePath + wideName;
    int32_t scanned = m_job.m_scannedFiles.Insert({wideName, widePath});
    Post(WM_SCAN_PROGRESS, static_cast<uintptr_t>(scanned));

    bool match = false;
    if (f.hashed) match = m_job.m_blacklist.count(std::u16string(f.digest, f.digest + 32)) != 0;
    if (!match && !m_job.m_nameIndex.empty()) {
        match = m_job.m_nameIndex.count(LowerCase(wideName)) != 0;
    }
    if (match && !m_strOwnPathLower.empty() && LowerCase(widePath) == m_strOwnPathLower) {
        match = false;
    }
    if (match) {
        m_pEnder->EndProcessesOfFile(widePath, wideName);
        if (m_job.m_bDeleteOnFind) {
            // Through the directory the walk opened: the very file judged, whatever its name's
            // encoding or its path's length.
            if (f.dir->fd >= 0) {
                unlinkat(f.dir->fd, f.name.c_str(), 0);
            } else {
                unlink((f.dir->path + f.name).c_str());
            }
        }
        int32_t found = m_job.m_findings.Insert({std::move(wideName), std::move(widePath)});
        Post(WM_SCAN_FOUND, static_cast<uintptr_t>(found));
    }
    // Let the page's thread, which handles one message per file, keep up.
    sched_yield();
}

bool ScanPipeline::IsPseudoDevice(int fd, dev_t dev) {
    auto cached = m_mapPseudoDevice.find(dev);
    if (cached != m_mapPseudoDevice.end()) return cached->second;
    bool pseudo = false;
    auto known = m_mapFsTypeOfDevice.find(dev);
    if (known != m_mapFsTypeOfDevice.end()) {
        pseudo = IsPseudoFileSystemType(known->second);
    } else {
        struct statfs sfs;
        pseudo = fstatfs(fd, &sfs) == 0 && IsPseudoFileSystemMagic(sfs.f_type);
    }
    m_mapPseudoDevice.emplace(dev, pseudo);
    return pseudo;
}

// A directory is entered once per scan and never when it lies on a pseudo file system.
bool ScanPipeline::Admit(int fd, dev_t parentDev, bool isRoot, dev_t& dev) {
    struct stat st;
    if (fstat(fd, &st) != 0) return false;
    dev = st.st_dev;
    if ((isRoot || st.st_dev != parentDev) && IsPseudoDevice(fd, st.st_dev)) return false;
    return m_visited.emplace(st.st_dev, st.st_ino).second;
}

bool ScanPipeline::WalkDirectory(const std::shared_ptr<DirRef>& dir, int depth) {
    std::vector<DirEntry> entries;
    if (!ReadEntries(dir->fd, m_direntBuffer, entries)) return true;
    if (depth >= kMaxHeldDirectories) {
        close(dir->fd);
        dir->fd = -1;
    }
    for (DirEntry& e : entries) {
        if (!Checkpoint()) return false;
        bool isDirectory = e.type == DT_DIR;
        bool mayOpen = e.type == DT_REG;
        if (e.type == DT_LNK || e.type == DT_UNKNOWN) {
            // Links are followed: to a directory, it is walked; to a regular file, it is read.
            struct stat st;
            int r = dir->fd >= 0 ? fstatat(dir->fd, e.name.c_str(), &st, 0)
                                 : stat((dir->path + e.name).c_str(), &st);
            if (r == 0) {
                isDirectory = S_ISDIR(st.st_mode);
                mayOpen = S_ISREG(st.st_mode);
            }
        }
        if (isDirectory) {
            if (e.name[0] == '.') continue;
            int fd = OpenIn(*dir, e.name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
            if (fd < 0) continue;
            dev_t dev = 0;
            if (!Admit(fd, dir->dev, false, dev)) {
                close(fd);
                continue;
            }
            auto child = std::make_shared<DirRef>();
            child->fd = fd;
            child->dev = dev;
            child->path = dir->path + e.name + '/';
            child->widePath = dir->widePath + ToWide(e.name) + u'/';
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
    auto dir = std::make_shared<DirRef>();
    dir->path = root;
    if (dir->path.back() != '/') dir->path.push_back('/');
    dir->fd = open(dir->path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (dir->fd < 0) return;
    if (!Admit(dir->fd, 0, true, dir->dev)) return;
    dir->widePath = ToWide(dir->path);
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

void ScanPipeline::CheckOne(const std::string& directory, const std::string& name) {
    if (Stopped()) return;
    auto dir = std::make_shared<DirRef>();
    dir->path = directory;
    dir->widePath = ToWide(directory);
    PendingFile f;
    f.dir = dir;
    f.name = name;
    struct stat st;
    f.mayOpen = stat((directory + name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
    Fingerprint(f);
    Judge(f);
}

// ---- ScanJob ----

ScanJob::ScanJob(ScannedFileStore& scannedFiles, FindingStore& findings,
                 const BlacklistMap& blacklist, MessageSink* notifyWnd, int deleteOnFind,
                 const ScanOptions& options)
    : m_scannedFiles(scannedFiles),
      m_findings(findings),
      m_blacklist(blacklist),
      m_nameIndex(BuildNameIndex(blacklist)),
      m_pNotifyWnd(notifyWnd),
      m_bDeleteOnFind(deleteOnFind) {
    m_pPipeline = std::make_unique<ScanPipeline>(*this, options);
}

ScanJob::~ScanJob() = default;

void ScanDirectory(ScanJob& job, const std::string& directory) {
    job.m_pPipeline->ScanRoot(directory);
}

void CheckFile(ScanJob& job, const std::string& directory, const std::string& name) {
    job.m_pPipeline->CheckOne(directory, name);
}

}  // namespace tovarek
