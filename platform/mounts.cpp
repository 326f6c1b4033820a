#include "platform/mounts.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace tovarek {
namespace {

// Mount paths escape blank, tab, line feed and backslash as \ooo (proc(5)).
std::string DecodeOctalEscapes(std::string_view text) {
    auto isOct = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && isOct(text[i + 1]) && isOct(text[i + 2]) &&
            isOct(text[i + 3])) {
            out.push_back(static_cast<char>(((text[i + 1] - '0') << 6) |
                                            ((text[i + 2] - '0') << 3) | (text[i + 3] - '0')));
            i += 3;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

std::vector<std::string_view> SplitBlanks(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

bool ParseLine(std::string_view line, MountInfoEntry& entry) {
    std::vector<std::string_view> f = SplitBlanks(line);
    // 36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue
    auto sep = std::find(f.begin(), f.end(), std::string_view("-"));
    if (f.size() < 6 || sep == f.end() || sep - f.begin() < 6 || f.end() - sep < 3) return false;
    std::string devText(f[2]);
    unsigned major = 0, minor = 0;
    char tail = 0;
    if (sscanf(devText.c_str(), "%u:%u%c", &major, &minor, &tail) != 2) return false;
    entry.major = major;
    entry.minor = minor;
    entry.root = DecodeOctalEscapes(f[3]);
    entry.mountPoint = DecodeOctalEscapes(f[4]);
    entry.fsType = std::string(sep[1]);
    entry.source = DecodeOctalEscapes(sep[2]);
    return true;
}

bool InList(std::string_view type, std::initializer_list<std::string_view> list) {
    return std::find(list.begin(), list.end(), type) != list.end();
}

}  // namespace

std::vector<MountInfoEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountInfoEntry> entries;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        MountInfoEntry entry;
        if (ParseLine(text.substr(pos, end - pos), entry)) entries.push_back(std::move(entry));
        pos = end + 1;
    }
    return entries;
}

std::string ReadMountInfo() {
    std::string text;
    int fd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[8192];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return text;
}

bool IsPseudoFileSystemType(std::string_view t) {
    return InList(
        t,
        {"proc",      "sysfs",       "devtmpfs", "devpts",       "cgroup",   "cgroup2",   "debugfs",
         "tracefs",   "securityfs",  "bpf",      "pstore",       "configfs", "fusectl",   "mqueue",
         "hugetlbfs", "binfmt_misc", "efivarfs", "rpc_pipefs",   "nsfs",     "selinuxfs", "autofs",
         "nfsd",      "sockfs",      "pipefs",   "anon_inodefs", "devfs",    "usbfs",     "xenfs",
         "smackfs",   "apparmorfs",  "rootfs"});
}

bool IsPseudoFileSystemMagic(long fType) {
    switch (static_cast<unsigned long>(fType) & 0xFFFFFFFFul) {
        case PROC_SUPER_MAGIC:
        case SYSFS_MAGIC:
        case DEVPTS_SUPER_MAGIC:
        case CGROUP_SUPER_MAGIC:
        case CGROUP2_SUPER_MAGIC:
        case DEBUGFS_MAGIC:
        case TRACEFS_MAGIC:
        case SECURITYFS_MAGIC:
        case BPF_FS_MAGIC:
        case PSTOREFS_MAGIC:
        case 0x62656570:  // configfs
        case 0x65735543:  // fusectl
        case 0x19800202:  // mqueue
        case HUGETLBFS_MAGIC:
        case BINFMTFS_MAGIC:
        case EFIVARFS_MAGIC:
        case NSFS_MAGIC:
        case SELINUX_MAGIC:
        case AUTOFS_SUPER_MAGIC:
            return true;
        default:
            return false;
    }
}

bool IsFixedFileSystemType(std::string_view t) {
    if (IsPseudoFileSystemType(t)) return false;
    // FUSE in every form (fuse, fuseblk, fuse.sshfs, ...).
    if (t.substr(0, 4) == "fuse") return false;
    return !InList(t, {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "ceph", "9p",
                       "glusterfs", "lustre", "coda", "davfs", "iso9660", "udf", "tmpfs", "ramfs"});
}

bool IsFixedFileSystemMagic(long fType) {
    if (IsPseudoFileSystemMagic(fType)) return false;
    switch (static_cast<unsigned long>(fType) & 0xFFFFFFFFul) {
        case NFS_SUPER_MAGIC:
        case SMB_SUPER_MAGIC:
        case 0xFF534D42:  // cifs
        case 0xFE534D42:  // smb2
        case 0x65735546:  // fuse
        case CODA_SUPER_MAGIC:
        case AFS_SUPER_MAGIC:
        case 0x00C36400:  // ceph
        case V9FS_MAGIC:
        case ISOFS_SUPER_MAGIC:
        case 0x15013346:  // udf
        case TMPFS_MAGIC:
        case RAMFS_MAGIC:
            return false;
        default:
            return true;
    }
}

bool KeepsChangeTime(std::string_view t) {
    return InList(t, {"ext2", "ext3", "ext4", "xfs", "btrfs", "f2fs", "bcachefs", "jfs", "reiserfs",
                      "nilfs2", "zfs", "overlay"});
}

bool KeepsChangeTimeMagic(long fType) {
    switch (static_cast<unsigned long>(fType) & 0xFFFFFFFFul) {
        case EXT4_SUPER_MAGIC:  // ext2 and ext3 too
        case XFS_SUPER_MAGIC:
        case BTRFS_SUPER_MAGIC:
        case F2FS_SUPER_MAGIC:
        case 0xCA451A4E:  // bcachefs
        case 0x3153464A:  // jfs
        case REISERFS_SUPER_MAGIC:
        case NILFS_SUPER_MAGIC:
        case 0x2FC12FC1:  // zfs
        case OVERLAYFS_SUPER_MAGIC:
            return true;
        default:
            return false;
    }
}

bool IsRemovableBlockDevice(uint32_t major, uint32_t minor) {
    if (major == 0) return false;  // not a block device
    char path[96];
    auto readFlag = [](const char* p) {
        int fd = open(p, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return -1;
        char c = 0;
        ssize_t n = read(fd, &c, 1);
        close(fd);
        return n == 1 ? (c == '1' ? 1 : 0) : -1;
    };
    snprintf(path, sizeof path, "/sys/dev/block/%u:%u/removable", major, minor);
    int flag = readFlag(path);
    if (flag < 0) {
        // A partition carries no flag of its own; its disk is the parent folder.
        snprintf(path, sizeof path, "/sys/dev/block/%u:%u/../removable", major, minor);
        flag = readFlag(path);
    }
    return flag == 1;
}

std::vector<std::string> FixedMountPoints(
    std::string_view mountInfo, const std::function<bool(uint32_t, uint32_t)>& isRemovable) {
    std::vector<MountInfoEntry> entries = ParseMountInfo(mountInfo);
    // One mount per device: the first whose root is the device's own root, else the first.
    std::map<std::pair<uint32_t, uint32_t>, size_t> chosen;
    std::vector<size_t> order;
    for (size_t i = 0; i < entries.size(); ++i) {
        const MountInfoEntry& e = entries[i];
        if (!IsFixedFileSystemType(e.fsType)) continue;
        if (isRemovable && isRemovable(e.major, e.minor)) continue;
        auto key = std::make_pair(e.major, e.minor);
        auto it = chosen.find(key);
        if (it == chosen.end()) {
            chosen.emplace(key, order.size());
            order.push_back(i);
        } else if (entries[order[it->second]].root != "/" && e.root == "/") {
            order[it->second] = i;
        }
    }
    std::vector<std::string> points;
    for (size_t i : order) {
        std::string p = entries[i].mountPoint;
        if (p.empty() || p.back() != '/') p.push_back('/');
        points.push_back(std::move(p));
    }
    return points;
}

std::string SystemProgramsDir() {
    return "/usr/";
}

}  // namespace tovarek
