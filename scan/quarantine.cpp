#include "scan/quarantine.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/local_time.h"
#include "platform/program_folders.h"
#include "scan/md5.h"
#include "scan/scan_journal.h"
#include "scan/sha256.h"

namespace tovarek {
namespace {

constexpr size_t kCopyBufferBytes = 65536;
constexpr size_t kMaxRecordBytes = 65536;
constexpr char kRecordSuffix[] = ".rec";
constexpr char kPartSuffix[] = ".part";
// Remains of a move a crash cut short are swept once this old: younger ones may belong to a
// move still running in another process.
constexpr int64_t kLeftoverAgeSeconds = 3600;

// A descriptor closed when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    void reset(int fd) {
        if (m_fd >= 0) close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

std::string Hex(const unsigned char* bytes, size_t size) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text.push_back(kHex[bytes[i] >> 4]);
        text.push_back(kHex[bytes[i] & 15]);
    }
    return text;
}

std::string NewId() {
    unsigned char bytes[8];
    // Up to 256 bytes from the urandom source come whole and are never cut short by a signal
    // (getrandom(2)); anything else is a failure.
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return {};
    return Hex(bytes, sizeof bytes);
}

bool WriteAll(int fd, const char* data, size_t size, int& error) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

struct Digests {
    std::string md5;
    std::string sha256;
    uint64_t sizeBytes = 0;
};

enum class Pass { kDone, kReadFailed, kWriteFailed };

// Reads `fd` whole from its start, digesting it and, when `out` is not -1, writing every byte
// there. `error` tells why a pass failed.
Pass DigestFile(int fd, int out, Digests& digests, int& error) {
    std::vector<unsigned char> buffer(kCopyBufferBytes);
    Md5Context md5;
    Md5Init(md5);
    Sha256 sha;
    uint64_t offset = 0;
    for (;;) {
        ssize_t n = pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno;
            return Pass::kReadFailed;
        }
        if (n == 0) break;
        Md5Update(md5, buffer.data(), static_cast<size_t>(n));
        sha.Update(buffer.data(), static_cast<size_t>(n));
        if (out >= 0 && !WriteAll(out, reinterpret_cast<const char*>(buffer.data()),
                                  static_cast<size_t>(n), error)) {
            return Pass::kWriteFailed;
        }
        offset += static_cast<uint64_t>(n);
    }
    unsigned char digest[16];
    Md5Final(md5, digest);
    digests.md5 = Hex(digest, sizeof digest);
    digests.sha256 = sha.FinalHex();
    digests.sizeBytes = offset;
    return Pass::kDone;
}

// The content is what was digested: same size and modification time as when it was opened,
// and every byte of that size read.
bool Unchanged(int fd, const struct stat& before, const Digests& digests) {
    struct stat now;
    return fstat(fd, &now) == 0 && now.st_size == before.st_size &&
           now.st_mtim.tv_sec == before.st_mtim.tv_sec &&
           now.st_mtim.tv_nsec == before.st_mtim.tv_nsec &&
           digests.sizeBytes == static_cast<uint64_t>(before.st_size);
}

QuarantineStatus StoreStatus(int error) {
    return error == ENOSPC || error == EDQUOT ? QuarantineStatus::kNoSpace
                                              : QuarantineStatus::kCannotStore;
}

// Writes `text` to `name` in `folderFd` so that the name holds either nothing or all of it,
// durably: a temporary file made exclusively, synced, renamed, and the folder synced.
bool WriteDurably(int folderFd, const std::string& name, const std::string& text, int& error) {
    const std::string temp = name + kPartSuffix;
    Fd fd(
        openat(folderFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        error = errno;
        return false;
    }
    if (!WriteAll(fd.get(), text.data(), text.size(), error) || fsync(fd.get()) != 0 ||
        renameat(folderFd, temp.c_str(), folderFd, name.c_str()) != 0) {
        if (error == 0) error = errno;
        unlinkat(folderFd, temp.c_str(), 0);
        return false;
    }
    if (fsync(folderFd) != 0) {
        error = errno;
        return false;
    }
    return true;
}

// Reads the record of `id`: 0, ENOENT when there is none, EINVAL when it is not a record.
int ReadRecord(int folderFd, const std::string& id, QuarantineRecord& record) {
    const std::string name = id + kRecordSuffix;
    Fd fd(openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) return errno == ENOENT ? ENOENT : EINVAL;
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return EINVAL;
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > kMaxRecordBytes) return EINVAL;
    }
    record.id = id;
    return ParseQuarantineRecord(text, record) ? 0 : EINVAL;
}

bool IsStoredFile(int folderFd, const std::string& id) {
    struct stat st;
    return fstatat(folderFd, id.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

// Owner (only root may give a file away), then mode (a change of owner clears set-id bits), then
// times.
void ApplyAttributes(int fd, const QuarantineRecord& record) {
    if (geteuid() == 0) {
        if (fchown(fd, record.ownerId, record.groupId) != 0) {
            // The file is back with its bytes; an owner the file system refuses is not worth
            // losing that over.
        }
    }
    fchmod(fd, record.mode & 07777);
    struct timespec times[2];
    times[0].tv_sec = record.atimeSec;
    times[0].tv_nsec = record.atimeNsec;
    times[1].tv_sec = record.mtimeSec;
    times[1].tv_nsec = record.mtimeNsec;
    futimens(fd, times);
}

// renameat2 with RENAME_NOREPLACE, or a link and an unlink where the file system lacks it: never
// writes over an existing name. 0 or an errno.
int MoveNoReplace(int fromFd, const std::string& from, int toFd, const std::string& to) {
    if (renameat2(fromFd, from.c_str(), toFd, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    if (linkat(fromFd, from.c_str(), toFd, to.c_str(), 0) != 0) return errno;
    unlinkat(fromFd, from.c_str(), 0);
    return 0;
}

void SplitPath(const std::string& path, std::string& folder, std::string& name) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder.assign(1, '.');  // not = ".": GCC 12 warns falsely (-Wrestrict) at -O3
        name = path;
    } else {
        folder.assign(path, 0, slash == 0 ? 1 : slash);
        name.assign(path, slash + 1);
    }
}

}  // namespace

std::string DefaultQuarantineDir() {
    const std::string data = DataFolder();
    if (!data.empty()) return data + "quarantine";
    char cwd[PATH_MAX];
    // A build opens Ravlin.db by its bare name, so the folder it lies in is the current one.
    if (!getcwd(cwd, sizeof cwd)) return "quarantine";
    std::string dir = cwd;
    if (dir.back() != '/') dir.push_back('/');
    return dir + "quarantine";
}

std::string RestoreFailureText(const RestoreResult& result) {
    switch (result.status) {
        case RestoreStatus::kRestored:
            return "restored";
        case RestoreStatus::kUnknownId:
            return "no such item in the quarantine";
        case RestoreStatus::kExists:
            return "a file already exists there";
        case RestoreStatus::kNoFolder:
            return "the folder does not exist";
        case RestoreStatus::kDamaged:
            return "the stored file does not match its record (SHA-256)";
        case RestoreStatus::kFailed:
            break;
    }
    return strerror(result.error);
}

Quarantine::Quarantine(std::string folder, QuarantineHooks hooks)
    : m_strFolder(std::move(folder)), m_hooks(std::move(hooks)) {
    // The folder is opened without following a link at its last step, which a trailing slash
    // would defeat.
    while (m_strFolder.size() > 1 && m_strFolder.back() == '/') m_strFolder.pop_back();
}

int64_t Quarantine::Now() const {
    return m_hooks.clock ? m_hooks.clock() : NowSeconds();
}

int Quarantine::Hook(QuarantineStep step) const {
    return m_hooks.beforeStep ? m_hooks.beforeStep(step) : 0;
}

FileId Quarantine::FolderId() const {
    return FileIdOfPath(m_strFolder);
}

int Quarantine::OpenFolder(bool create, int& error) const {
    if (create) MakeFolders(m_strFolder);
    int fd = open(m_strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    struct stat st;
    // Another user's folder is not trusted: its owner could plant a record that makes a restore
    // write wherever this user may.
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid()) {
        error = EPERM;
        close(fd);
        return -1;
    }
    if ((st.st_mode & 07777) != 0700 && fchmod(fd, 0700) != 0) {
        error = errno;
        close(fd);
        return -1;
    }
    return fd;
}

QuarantineResult Quarantine::MoveIn(const std::string& pathBytes, const FileId& judged,
                                    const std::string& listedEntry, QuarantineOrigin origin) const {
    std::string folder, name;
    SplitPath(pathBytes, folder, name);
    Fd dirFd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() < 0) return {QuarantineStatus::kNotJudged, errno, {}};
    return MoveIn(dirFd.get(), name, pathBytes, judged, listedEntry, origin);
}

QuarantineResult Quarantine::MoveIn(int dirFd, const std::string& name,
                                    const std::string& pathBytes, const FileId& judged,
                                    const std::string& listedEntry, QuarantineOrigin origin) const {
    QuarantineResult result;
    struct stat st;
    if (!judged.known || name.empty() || name.find('/') != std::string::npos ||
        fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        !FileIdOfStat(st).SameFile(judged)) {
        return result;
    }
    // Reading for the digests must not move the access time the record keeps; only the owner
    // (or root) may ask for that.
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    Fd file(openat(dirFd, name.c_str(), flags | O_NOATIME));
    if (file.get() < 0 && errno == EPERM) file.reset(openat(dirFd, name.c_str(), flags));
    if (file.get() < 0) {
        result.error = errno;
        // Gone, or turned into a link, since the look above: not the judged file any more.
        if (errno != ENOENT && errno != ELOOP) result.status = QuarantineStatus::kUnreadable;
        return result;
    }
    if (fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || !FileIdOfStat(st).SameFile(judged)) {
        return result;
    }

    int error = 0;
    Fd folder(OpenFolder(true, error));
    struct stat folderSt;
    const std::string id = NewId();
    if (folder.get() < 0 || fstat(folder.get(), &folderSt) != 0 || id.empty()) {
        return {QuarantineStatus::kCannotStore, error ? error : EIO, {}};
    }
    const std::string part = id + kPartSuffix;
    const std::string recordName = id + kRecordSuffix;
    auto fail = [&](QuarantineStatus status, int why) {
        unlinkat(folder.get(), id.c_str(), 0);
        unlinkat(folder.get(), part.c_str(), 0);
        unlinkat(folder.get(), recordName.c_str(), 0);
        fsync(folder.get());
        return QuarantineResult{status, why, {}};
    };
    auto halted = [] { return QuarantineResult{QuarantineStatus::kCannotStore, 0, {}}; };

    // Linked in (no copy, no space) where that can be done and this user may then take every
    // permission away; anything else is copied, and the copy is this user's own.
    const uid_t euid = geteuid();
    bool byLink = st.st_dev == folderSt.st_dev && (euid == 0 || euid == st.st_uid);
    Digests digests;
    Fd copy;
    // Copies the file into "<id>.part", durably; digests it on the way.
    auto copyIn = [&](int& why) -> QuarantineStatus {
        copy.reset(openat(folder.get(), part.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0000));
        if (copy.get() < 0) {
            why = errno;
            return StoreStatus(why);
        }
        Pass pass = DigestFile(file.get(), copy.get(), digests, why);
        if (pass == Pass::kReadFailed) return QuarantineStatus::kUnreadable;
        if (pass == Pass::kWriteFailed) return StoreStatus(why);
        if (fsync(copy.get()) != 0) {
            why = errno;
            return StoreStatus(why);
        }
        return QuarantineStatus::kMoved;
    };

    if (byLink) {
        Pass pass = DigestFile(file.get(), -1, digests, error);
        if (pass != Pass::kDone) return fail(QuarantineStatus::kUnreadable, error);
    } else {
        int step = Hook(QuarantineStep::kStore);
        if (step == kQuarantineHalt) return halted();
        if (step != 0) return fail(StoreStatus(step), step);
        QuarantineStatus copied = copyIn(error);
        if (copied != QuarantineStatus::kMoved) return fail(copied, error);
    }
    if (!Unchanged(file.get(), st, digests)) return fail(QuarantineStatus::kChanged, 0);

    QuarantineRecord record;
    record.id = id;
    record.pathBytes = pathBytes;
    record.ownerId = st.st_uid;
    record.groupId = st.st_gid;
    record.mode = st.st_mode;
    record.sizeBytes = static_cast<uint64_t>(st.st_size);
    record.mtimeSec = st.st_mtim.tv_sec;
    record.mtimeNsec = st.st_mtim.tv_nsec;
    record.atimeSec = st.st_atim.tv_sec;
    record.atimeNsec = st.st_atim.tv_nsec;
    record.md5 = digests.md5;
    record.sha256 = digests.sha256;
    record.listedEntry = listedEntry;
    record.time = Now();
    record.origin = origin;
    int step = Hook(QuarantineStep::kRecord);
    if (step == kQuarantineHalt) return halted();
    if (step != 0) return fail(StoreStatus(step), step);
    // The record comes first: stored bytes never lie in the folder without one.
    if (!WriteDurably(folder.get(), recordName, FormatQuarantineRecord(record), error)) {
        return fail(StoreStatus(error), error);
    }

    if (byLink) {
        step = Hook(QuarantineStep::kStore);
        if (step == kQuarantineHalt) return halted();
        if (step != 0) return fail(StoreStatus(step), step);
        // The name is linked, not the descriptor: whatever it names now must still be the
        // judged file, checked once the link is made.
        if (linkat(dirFd, name.c_str(), folder.get(), id.c_str(), 0) == 0) {
            struct stat linked;
            if (fstatat(folder.get(), id.c_str(), &linked, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(linked.st_mode) || !FileIdOfStat(linked).SameFile(judged)) {
                return fail(QuarantineStatus::kNotJudged, 0);
            }
        } else {
            // A file system without links here (or a bind mount between): copy after all.
            byLink = false;
            const std::string sha = digests.sha256;
            QuarantineStatus copied = copyIn(error);
            if (copied != QuarantineStatus::kMoved) return fail(copied, error);
            if (digests.sha256 != sha || !Unchanged(file.get(), st, digests)) {
                return fail(QuarantineStatus::kChanged, 0);
            }
        }
    }
    if (!byLink && renameat(folder.get(), part.c_str(), folder.get(), id.c_str()) != 0) {
        error = errno;
        return fail(StoreStatus(error), error);
    }
    if (fsync(folder.get()) != 0) {
        error = errno;
        return fail(StoreStatus(error), error);
    }

    step = Hook(QuarantineStep::kUnlink);
    if (step == kQuarantineHalt) return halted();
    if (step != 0) return fail(QuarantineStatus::kNotRemoved, step);
    struct stat now;
    if (fstatat(dirFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(now.st_mode) ||
        !FileIdOfStat(now).SameFile(judged)) {
        return fail(QuarantineStatus::kNotJudged, 0);
    }
    if (unlinkat(dirFd, name.c_str(), 0) != 0) {
        error = errno;
        return fail(QuarantineStatus::kNotRemoved, error);
    }
    fsync(dirFd);
    // Neither readable by others nor executable, whoever owns it.
    if (byLink) {
        fchmod(file.get(), 0);
        fsync(file.get());
    }
    JournalDeletion(pathBytes, record.md5);
    return {QuarantineStatus::kMoved, 0, id};
}

int Quarantine::List(std::vector<QuarantineRecord>& items) const {
    items.clear();
    int error = 0;
    Fd folder(OpenFolder(false, error));
    if (folder.get() < 0) return error == ENOENT ? 0 : error;
    int listFd = dup(folder.get());
    DIR* dir = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (!dir) {
        error = errno;
        if (listFd >= 0) close(listFd);
        return error;
    }
    const size_t suffix = strlen(kRecordSuffix);
    while (struct dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kRecordSuffix))
            continue;
        std::string id = name.substr(0, name.size() - suffix);
        QuarantineRecord record;
        if (!IsQuarantineId(id) || !IsStoredFile(folder.get(), id)) continue;
        if (ReadRecord(folder.get(), id, record) == 0) items.push_back(std::move(record));
    }
    closedir(dir);
    std::sort(items.begin(), items.end(), [](const QuarantineRecord& a, const QuarantineRecord& b) {
        return a.time != b.time ? a.time < b.time : a.id < b.id;
    });
    return 0;
}

bool Quarantine::Purge(const std::string& id) const {
    if (!IsQuarantineId(id)) return false;
    int error = 0;
    Fd folder(OpenFolder(false, error));
    if (folder.get() < 0) return false;
    // The bytes first: a purge cut short leaves a record without bytes, never bytes no record
    // explains.
    const bool stored = unlinkat(folder.get(), id.c_str(), 0) == 0;
    const bool recorded = unlinkat(folder.get(), (id + kRecordSuffix).c_str(), 0) == 0;
    fsync(folder.get());
    return stored || recorded;
}

std::vector<std::string> Quarantine::PurgeOlderThan(int64_t cutoff) const {
    std::vector<QuarantineRecord> items;
    List(items);
    std::vector<std::string> purged;
    for (const QuarantineRecord& item : items) {
        if (item.time < cutoff && Purge(item.id)) purged.push_back(item.id);
    }
    // What a crash left of a move, and what no record can explain: temporary files, records
    // without bytes or that can't be read, bytes without a readable record.
    int error = 0;
    Fd folder(OpenFolder(false, error));
    int listFd = folder.get() >= 0 ? dup(folder.get()) : -1;
    DIR* dir = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0) close(listFd);
        return purged;
    }
    const int64_t leftoverCutoff = std::min(cutoff, Now() - kLeftoverAgeSeconds);
    std::vector<std::string> leftovers;
    while (struct dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() < 16 || !IsQuarantineId(name.substr(0, 16))) continue;
        const std::string id = name.substr(0, 16);
        const std::string rest = name.substr(16);
        bool leftover = rest == kPartSuffix || rest == std::string(kRecordSuffix) + kPartSuffix;
        if (rest.empty() || rest == kRecordSuffix) {
            QuarantineRecord record;
            leftover = !IsStoredFile(folder.get(), id) || ReadRecord(folder.get(), id, record) != 0;
        }
        struct stat st;
        if (leftover && fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            st.st_ctim.tv_sec < leftoverCutoff) {
            leftovers.push_back(name);
        }
    }
    closedir(dir);
    for (const std::string& name : leftovers) unlinkat(folder.get(), name.c_str(), 0);
    if (!leftovers.empty()) fsync(folder.get());
    return purged;
}

std::vector<std::string> Quarantine::PurgeAll() const {
    return PurgeOlderThan(std::numeric_limits<int64_t>::max());
}

RestoreResult Quarantine::Restore(const std::string& id, const std::string& toPath) const {
    RestoreResult result;
    int error = 0;
    Fd folder(IsQuarantineId(id) ? OpenFolder(false, error) : -1);
    QuarantineRecord record;
    if (folder.get() < 0 || !IsStoredFile(folder.get(), id)) {
        result.status = RestoreStatus::kUnknownId;
        return result;
    }
    int read = ReadRecord(folder.get(), id, record);
    if (read != 0) {
        result.status = read == ENOENT ? RestoreStatus::kUnknownId : RestoreStatus::kDamaged;
        return result;
    }

    std::string target = toPath.empty() ? record.pathBytes : toPath;
    struct stat st;
    if (!toPath.empty() && stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::string folderPart, originalName;
        SplitPath(record.pathBytes, folderPart, originalName);
        while (target.size() > 1 && target.back() == '/') target.pop_back();
        target += (target == "/" ? "" : "/") + originalName;
    }
    result.path = target;
    std::string targetFolder, name;
    SplitPath(target, targetFolder, name);
    Fd targetFd(open(targetFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (name.empty() || targetFd.get() < 0) {
        result.status = name.empty() || errno == ENOENT || errno == ENOTDIR
                            ? RestoreStatus::kNoFolder
                            : RestoreStatus::kFailed;
        result.error = errno;
        return result;
    }
    // Nothing is written over, not even a dangling link.
    if (fstatat(targetFd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        result.status = RestoreStatus::kExists;
        result.error = EEXIST;
        return result;
    }
    if (errno != ENOENT) {
        result.error = errno;
        return result;
    }

    // Stored with mode 0000: readable again for the check, and 0000 again whenever the item
    // stays.
    fchmodat(folder.get(), id.c_str(), 0400, 0);
    Fd stored(openat(folder.get(), id.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    auto keep = [&](RestoreStatus status, int why) {
        fchmodat(folder.get(), id.c_str(), 0, 0);
        result.status = status;
        result.error = why;
        return result;
    };
    struct stat storedSt, targetSt;
    if (stored.get() < 0 || fstat(stored.get(), &storedSt) != 0 ||
        fstat(targetFd.get(), &targetSt) != 0) {
        return keep(RestoreStatus::kFailed, errno);
    }
    auto matches = [&](const Digests& d) {
        return d.sha256 == record.sha256 && d.sizeBytes == record.sizeBytes;
    };

    bool placed = false;
    if (storedSt.st_dev == targetSt.st_dev) {
        // Same file system: the stored file itself goes back.
        Digests digests;
        if (DigestFile(stored.get(), -1, digests, error) != Pass::kDone) {
            return keep(RestoreStatus::kFailed, error);
        }
        if (!matches(digests)) return keep(RestoreStatus::kDamaged, 0);
        ApplyAttributes(stored.get(), record);
        int moved = MoveNoReplace(folder.get(), id, targetFd.get(), name);
        if (moved == EEXIST) return keep(RestoreStatus::kExists, EEXIST);
        // Anything else (a bind mount between, no links): copied below.
        placed = moved == 0;
    }
    if (!placed) {
        // A new file, unnamed until it is whole and checked; where the file system can't make
        // one, a hidden temporary name in the same folder.
        std::string temp;
        Fd out(openat(targetFd.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        if (out.get() < 0) {
            temp = ".tovarek-restore-" + id;
            out.reset(openat(targetFd.get(), temp.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (out.get() < 0) return keep(RestoreStatus::kFailed, errno);
        }
        auto drop = [&](RestoreStatus status, int why) {
            if (!temp.empty()) unlinkat(targetFd.get(), temp.c_str(), 0);
            return keep(status, why);
        };
        Digests digests;
        if (DigestFile(stored.get(), out.get(), digests, error) != Pass::kDone) {
            return drop(RestoreStatus::kFailed, error);
        }
        if (!matches(digests)) return drop(RestoreStatus::kDamaged, 0);
        ApplyAttributes(out.get(), record);
        if (fsync(out.get()) != 0) return drop(RestoreStatus::kFailed, errno);
        int moved = 0;
        if (temp.empty()) {
            const std::string self = "/proc/self/fd/" + std::to_string(out.get());
            if (linkat(AT_FDCWD, self.c_str(), targetFd.get(), name.c_str(), AT_SYMLINK_FOLLOW) !=
                0) {
                moved = errno;
            }
        } else {
            moved = MoveNoReplace(targetFd.get(), temp, targetFd.get(), name);
        }
        if (moved != 0) {
            return drop(moved == EEXIST ? RestoreStatus::kExists : RestoreStatus::kFailed, moved);
        }
    }
    fsync(targetFd.get());
    // Only now that the file is durable at its place does the item go.
    unlinkat(folder.get(), id.c_str(), 0);
    unlinkat(folder.get(), (id + kRecordSuffix).c_str(), 0);
    fsync(folder.get());
    result.status = RestoreStatus::kRestored;
    result.error = 0;
    return result;
}

}  // namespace tovarek
