// The mount table and the places a scan starts from: the system programs folder for the quick
// scan and the local, disk-backed file systems for the full scan. Parsing is pure and takes the
// mountinfo text as input, so tests feed canned tables. Thread-safe: no state is kept.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tovarek {

// One line of /proc/<pid>/mountinfo (proc(5)); octal escapes in paths are decoded.
struct MountInfoEntry {
    uint32_t major = 0;  // field 3, major:minor, the st_dev of files on the mount
    uint32_t minor = 0;
    std::string root;        // field 4, the mount's root inside its file system
    std::string mountPoint;  // field 5
    std::string fsType;      // first field after the " - " separator
    std::string source;      // the one after it
};

// Lines that don't parse are skipped.
std::vector<MountInfoEntry> ParseMountInfo(std::string_view text);

// Whole text of /proc/self/mountinfo, empty when it can't be read.
std::string ReadMountInfo();

// proc, sysfs, devtmpfs, devpts, cgroup, ...: kernel views that hold no user files. A scan never
// enters them, whatever its root.
bool IsPseudoFileSystemType(std::string_view fsType);

// Same test on the f_type of statfs(2), for directories on a device the mount table lacks.
bool IsPseudoFileSystemMagic(long fType);

// A type a full scan covers: neither pseudo, network, FUSE, optical nor RAM-backed.
bool IsFixedFileSystemType(std::string_view fsType);

// Same test on the f_type of statfs(2), for a device the mount table lacks.
bool IsFixedFileSystemMagic(long fType);

// A type whose change time the kernel moves on every change to a file and no user can set back
// (ext2/3/4, XFS, Btrfs, F2FS, ...): only there does an unchanged change time prove unchanged
// content. Not FAT, exFAT or NTFS, whose "change time" is a creation time or settable.
bool KeepsChangeTime(std::string_view fsType);
// Same test on the f_type of statfs(2).
bool KeepsChangeTimeMagic(long fType);

// Reads /sys/dev/block/MAJ:MIN/removable (or its parent disk's, for a partition).
bool IsRemovableBlockDevice(uint32_t major, uint32_t minor);

// The mount points a full scan starts from, in table order, each ending in '/': one per fixed
// file system (the mount of the device's own root is preferred to a bind mount of a part of it),
// leaving out removable block devices as `isRemovable` tells.
std::vector<std::string> FixedMountPoints(
    std::string_view mountInfo, const std::function<bool(uint32_t, uint32_t)>& isRemovable);

// The folder the quick scan covers (the system's programs and libraries), ending in '/'.
std::string SystemProgramsDir();

}  // namespace tovarek
