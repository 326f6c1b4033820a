#include "scan/package_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "scan/file_fingerprint.h"

namespace tovarek {
namespace {

constexpr char kSuffix[] = ".md5sums";
// A record line: 32 hex digits, two blanks, a path; PATH_MAX bounds the path.
constexpr size_t kMaxLineBytes = 32 + 2 + 4096;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The first 16 hex digits as a number; false when any of the 32 is no hex digit.
bool DigestPrefix(const char* digest, uint64_t& prefix) {
    prefix = 0;
    for (int i = 0; i < 32; ++i) {
        const int v = HexValue(digest[i]);
        if (v < 0) return false;
        if (i < 16) prefix = prefix << 4 | static_cast<uint64_t>(v);
    }
    return true;
}

bool ReadWhole(const std::string& path, std::string& out) {
    out.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return n == 0;
}

}  // namespace

PackageFiles::PackageFiles(std::string root, std::string adminDir)
    : m_strRoot(std::move(root)),
      m_strAdminDir(adminDir.empty() ? m_strRoot + "/var/lib/dpkg" : std::move(adminDir)) {}

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
    DIR* dir = opendir(infoDir.c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (dirent* e = readdir(dir)) {
        const size_t length = strlen(e->d_name);
        if (length > sizeof kSuffix - 1 &&
            strcmp(e->d_name + length - (sizeof kSuffix - 1), kSuffix) == 0) {
            names.emplace_back(e->d_name);
        }
    }
    closedir(dir);
    std::string text;
    for (const std::string& name : names) {
        if (!ReadWhole(infoDir + name, text) || text.size() > UINT32_MAX) continue;
        const uint32_t file = static_cast<uint32_t>(m_files.size());
        m_files.push_back(infoDir + name);
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            uint64_t prefix = 0;
            if (end - at > 34 && DigestPrefix(text.data() + at, prefix)) {
                m_records.push_back({prefix, file, static_cast<uint32_t>(at)});
            }
            at = end + 1;
        }
    }
    std::sort(m_records.begin(), m_records.end(),
              [](const Record& a, const Record& b) { return a.digestPrefix < b.digestPrefix; });
    m_records.shrink_to_fit();
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
