#include "platform/dir_handle.h"

#include <dirent.h>
#include <errno.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <utility>

namespace tovarek {
namespace {

// Never blocks on a FIFO put where a directory was listed; never becomes a controlling terminal.
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK;
constexpr size_t kListBufferBytes = 32768;

DirEntry::Type TypeOf(unsigned char dirent) {
    switch (dirent) {
        case DT_DIR:
            return DirEntry::kDirectory;
        case DT_REG:
            return DirEntry::kRegular;
        case DT_LNK:
            return DirEntry::kLink;
        case DT_UNKNOWN:
            return DirEntry::kUnknown;
        default:
            return DirEntry::kOther;
    }
}

}  // namespace

DirHandle::~DirHandle() {
    if (m_fd >= 0) close(m_fd);
}

bool DirHandle::OpenRoot(std::string path) {
    m_path = std::move(path);
    m_fd = open(m_path.c_str(), kDirectoryFlags);
    struct stat st;
    if (m_fd < 0 || fstat(m_fd, &st) != 0) return false;
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    return true;
}

bool DirHandle::OpenIn(const DirHandle& parent, const std::string& name, std::string path) {
    std::string located;
    const int at = parent.Locate(name, located);
    m_fd = openat(at, located.c_str(), kDirectoryFlags);
    struct stat st;
    if (m_fd < 0 || fstat(m_fd, &st) != 0) return false;
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    m_path = std::move(path);
    return true;
}

void DirHandle::LinkBelow(const std::shared_ptr<DirHandle>& parent, const std::string& name) {
    m_parent = parent;
    m_name = name;
    if (parent->m_fd >= 0) {
        m_anchor = parent;
        m_relative = name + '/';
    } else {
        m_anchor = parent->m_anchor;
        m_relative = parent->m_relative + name + '/';
    }
}

void DirHandle::GiveUpDescriptor() {
    close(m_fd);
    m_fd = -1;
}

void DirHandle::KeepDescriptor() {
    m_anchor.reset();
    m_relative.clear();
    m_parent.reset();
}

bool DirHandle::StatIn(const std::string& name, struct stat& st) const {
    std::string located;
    const int at = Locate(name, located);
    return fstatat(at, located.c_str(), &st, 0) == 0;
}

int DirHandle::OpenAgain(bool& owned) const {
    owned = false;
    if (m_fd >= 0) return m_fd;
    if (!m_anchor) {
        // Known by its path alone: only what is found there can be checked.
        owned = true;
        return open(m_path.c_str(), kDirectoryFlags);
    }
    std::vector<const DirHandle*> levels;
    for (const DirHandle* d = this; d != m_anchor.get(); d = d->m_parent.get()) {
        if (!d) return -1;
        levels.push_back(d);
    }
    int at = m_anchor->m_fd;
    for (auto it = levels.rbegin(); it != levels.rend(); ++it) {
        int next = openat(at, (*it)->m_name.c_str(), kDirectoryFlags);
        if (owned) close(at);
        owned = true;
        struct stat st;
        if (next >= 0 &&
            (fstat(next, &st) != 0 || st.st_dev != (*it)->m_dev || st.st_ino != (*it)->m_ino)) {
            close(next);
            next = -1;
        }
        if (next < 0) {
            owned = false;
            return -1;
        }
        at = next;
    }
    return at;
}

DirLister::DirLister() : m_buffer(kListBufferBytes) {}

bool DirLister::List(const DirHandle& dir, std::vector<DirEntry>& entries) {
    entries.clear();
    for (;;) {
        ssize_t n = getdents64(dir.fd(), m_buffer.data(), m_buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return !entries.empty();
        if (n == 0) return true;
        for (ssize_t off = 0; off < n;) {
            auto* d = reinterpret_cast<struct dirent64*>(m_buffer.data() + off);
            off += d->d_reclen;
            const char* name = d->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
                continue;
            }
            entries.push_back({name, TypeOf(d->d_type)});
        }
    }
}

bool StatAt(int at, const std::string& name, struct stat& st) {
    return fstatat(at, name.c_str(), &st, 0) == 0;
}

bool StatDescriptor(int fd, struct stat& st) {
    return fstat(fd, &st) == 0;
}

bool FileSystemMagicOf(int fd, long& fsMagic) {
    struct statfs sfs;
    if (fstatfs(fd, &sfs) != 0) return false;
    fsMagic = static_cast<long>(sfs.f_type);
    return true;
}

void CloseDescriptor(int fd) {
    close(fd);
}

}  // namespace tovarek
