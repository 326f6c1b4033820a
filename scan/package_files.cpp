#include "scan/package_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "scan/file_fingerprint.h"

namespace tovarek {
namespace {

constexpr char kSuffix[] = ".md5sums";
// A record line: 32 hex digits, two blanks, a path; PATH_MAX bounds the path.
constexpr size_t kMaxLineBytes = 32 + 2 + 4096;

// Hex digit values, -1 for any other byte: 120,000 record lines are parsed at a load.
constexpr auto kHexValues = [] {
    std::array<int8_t, 256> values{};
    for (int c = 0; c < 256; ++c) {
        values[c] = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
    }
    return values;
}();

// The first 16 hex digits as a number; false when any of the 32 is no hex digit.
bool DigestPrefix(const char* digest, uint64_t& prefix) {
    prefix = 0;
    for (int i = 0; i < 32; ++i) {
        const int v = kHexValues[static_cast<unsigned char>(digest[i])];
        if (v < 0) return false;
        if (i < 16) prefix = prefix << 4 | static_cast<uint64_t>(v);
    }
    return true;
}

// Adds a record for each line of the regular file `name` below `dirFd` to `records`, read in
// chunks through `buffer`: a few files are megabytes long, and the buffer stays in the cache.
// False, with nothing added, when the file can't be read whole.
}  // namespace

bool PackageFiles::ReadRecordsAt(int dirFd, const char* name, uint32_t file,
                                 std::vector<char>& buffer, std::vector<Record>& records) {
    int fd = openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > UINT32_MAX) {
        close(fd);
        return false;
    }
    const size_t before = records.size();
    // Each record line takes at least 36 bytes.
    const size_t most = before + static_cast<size_t>(st.st_size) / 36 + 1;
    if (records.capacity() < most) records.reserve(std::max(most, 2 * records.capacity()));
    uint64_t base = 0;      // the file offset of buffer[0]
    size_t held = 0;        // bytes in the buffer not yet parsed (the start of a line)
    bool skipping = false;  // inside a line too long for any record
    for (;;) {
        const ssize_t n = read(fd, buffer.data() + held, buffer.size() - held);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || base + held + static_cast<size_t>(n) > UINT32_MAX) {
            close(fd);
            records.resize(before);
            return false;
        }
        const bool atEnd = n == 0;
        const char* const begin = buffer.data();
        const char* const end = begin + held + static_cast<size_t>(n);
        const char* at = begin;
        while (at < end) {
            const char* newline = static_cast<const char*>(memchr(at, '\n', end - at));
            if (!newline && !atEnd) break;
            const char* lineEnd = newline ? newline : end;
            uint64_t prefix = 0;
            if (!skipping && lineEnd - at > 34 && DigestPrefix(at, prefix)) {
                records.push_back({prefix, file, static_cast<uint32_t>(base + (at - begin))});
            }
            skipping = false;
            at = lineEnd + 1;
        }
        if (atEnd) break;
        held = static_cast<size_t>(std::max<ptrdiff_t>(end - at, 0));
        base += static_cast<uint64_t>(at - begin);
        if (held == buffer.size()) {
            // No record line is this long: its remainder is passed over.
            base += held;
            held = 0;
            skipping = true;
        }
        memmove(buffer.data(), at, held);
    }
    close(fd);
    return true;
}

PackageFiles::PackageFiles(std::string root, std::string adminDir)
    : m_strRoot(std::move(root)),
      m_strAdminDir(adminDir.empty() ? m_strRoot + "/var/lib/dpkg" : std::move(adminDir)) {}

void PackageFiles::Preload() {
    std::lock_guard lock(m_mutex);
    RefreshLocked();
}

uint64_t PackageFiles::loads() {
    std::lock_guard lock(m_mutex);
    return m_nLoads;
}

void PackageFiles::RefreshLocked() {
    // dpkg rewrites its status file whenever it installs, removes or changes a package.
    Stamp now;
    struct stat st;
    if (stat((m_strAdminDir + "/status").c_str(), &st) == 0) {
        now = {true,
               st.st_dev,
               st.st_ino,
               st.st_size,
               st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
               st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
    }
    if (m_bLoaded && now == m_status) return;
    m_status = now;
    m_bLoaded = true;
    LoadLocked();
}

void PackageFiles::LoadLocked() {
    ++m_nLoads;
    m_files.clear();
    m_records.clear();
    const std::string infoDir = m_strAdminDir + "/info/";
    const int dirFd = open(infoDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return;
    DIR* dir = fdopendir(dup(dirFd));
    if (!dir) {
        close(dirFd);
        return;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(dir)) {
        const size_t length = strlen(e->d_name);
        if (length > sizeof kSuffix - 1 &&
            strcmp(e->d_name + length - (sizeof kSuffix - 1), kSuffix) == 0) {
            names.emplace_back(e->d_name);
        }
    }
    closedir(dir);
    // A scan asks at its first finding, on the thread that walks: a thousand files, read through
    // one small buffer, with the records reserved from the sizes.
    std::vector<char> buffer(64 * 1024);
    for (const std::string& name : names) {
        const uint32_t file = static_cast<uint32_t>(m_files.size());
        if (ReadRecordsAt(dirFd, name.c_str(), file, buffer, m_records)) {
            m_files.push_back(infoDir + name);
        }
    }
    close(dirFd);
    std::sort(m_records.begin(), m_records.end(),
              [](const Record& a, const Record& b) { return a.digestPrefix < b.digestPrefix; });
}

bool PackageFiles::RecordLeadsTo(const Record& record, const FileId& id, const char* digest) const {
    int fd = open(m_files[record.file].c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    std::string line(kMaxLineBytes, '\0');
    ssize_t n = pread(fd, line.data(), line.size(), record.offset);
    close(fd);
    if (n <= 34) return false;
    line.resize(static_cast<size_t>(n));
    line.resize(std::min(line.find('\n'), line.size()));
    // The line is read again, so it is checked again: the whole digest, then the path.
    if (line.size() <= 34 || strncasecmp(line.data(), digest, 32) != 0) return false;
    size_t pathStart = 32;
    while (pathStart < line.size() && line[pathStart] == ' ') ++pathStart;
    if (pathStart == line.size()) return false;
    std::string path = m_strRoot;
    if (path.empty() || path.back() != '/') path += '/';
    path += line.substr(pathStart);
    // Whatever links the recorded path passes through: the file it leads to now.
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && FileIdOfStat(st).SameFile(id);
}

bool PackageFiles::IsUnmodifiedPackageFile(const FileId& id, const char* digest) {
    uint64_t prefix = 0;
    if (!id.known || digest == nullptr || !DigestPrefix(digest, prefix)) return false;
    std::lock_guard lock(m_mutex);
    RefreshLocked();
    auto [first, last] = std::equal_range(
        m_records.begin(), m_records.end(), Record{prefix, 0, 0},
        [](const Record& a, const Record& b) { return a.digestPrefix < b.digestPrefix; });
    for (auto it = first; it != last; ++it) {
        if (RecordLeadsTo(*it, id, digest)) return true;
    }
    return false;
}

bool PackageFiles::IsUnmodifiedPackageFileAt(const std::string& path, const FileId& id) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    char digest[33];
    const bool same = FileIdOfFd(fd).SameFile(id);
    const bool hashed = same && ComputeFdMd5(fd, digest);
    close(fd);
    return hashed && IsUnmodifiedPackageFile(id, digest);
}

PackageFiles& SystemPackageFiles() {
    static PackageFiles files;
    return files;
}

}  // namespace tovarek
