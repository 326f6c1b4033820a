#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "platform/mounts.h"
#include "scan/scan_engine.h"

namespace tovarek {
namespace {

// A machine's table in the kernel's own form: pseudo, RAM, network, FUSE and optical mounts
// among disk ones, a removable stick, a bind mount of a part of a disk seen before its own root,
// and a mount point holding a blank.
const char kMountInfo[] =
    "21 26 0:20 / /proc rw,relatime - proc proc rw\n"
    "22 26 0:21 / /sys rw,relatime - sysfs sysfs rw\n"
    "23 26 0:6 / /dev rw,relatime - devtmpfs devtmpfs rw,size=12334808k\n"
    "25 23 0:23 / /dev/pts rw,relatime - devpts devpts rw,mode=600\n"
    "40 30 0:37 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n"
    "26 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw,discard\n"
    "41 26 254:16 /srv/data /srv rw,relatime - xfs /dev/vdb rw\n"
    "42 26 254:16 / /mnt/big\\040disk rw,relatime - xfs /dev/vdb rw\n"
    "43 26 0:45 / /home rw,relatime - btrfs /dev/vdc rw,subvol=/home\n"
    "44 26 0:24 / /tmp rw,nosuid - tmpfs tmpfs rw\n"
    "45 26 0:50 / /net rw - nfs4 server:/export rw\n"
    "46 26 0:51 / /media/phone rw - fuse.gvfsd-fuse gvfsd-fuse rw\n"
    "47 26 11:0 / /media/cdrom ro - iso9660 /dev/sr0 ro\n"
    "48 26 8:17 / /media/stick rw - vfat /dev/sdb1 rw\n"
    "49 26 254:0 /var/lib/x /var/lib/x rw - ext4 /dev/vda rw\n"
    "50 26 0:52 / /var/lib/docker/overlay rw - overlay overlay rw,lowerdir=/a\n"
    "garbage line without fields\n"
    "51 26 notanumber / /bad rw - ext4 /dev/x rw\n";

TEST(ScanRoots, FullScanCoversEachFixedFileSystemOnceInTableOrder) {
    auto removable = [](uint32_t major, uint32_t minor) { return major == 8 && minor == 17; };
    ScanRoots roots;
    AddFixedDriveRoots(roots, kMountInfo, removable);
    ScanRoots expected = {u"/", u"/mnt/big disk/", u"/home/", u"/var/lib/docker/overlay/"};
    EXPECT_EQ(roots, expected);
}

TEST(ScanRoots, QuickScanIsTheSystemProgramsFolderAppendedToTheList) {
    ScanRoots roots = {u"/already/"};
    AddQuickScanRoots(roots);
    EXPECT_EQ(roots, (ScanRoots{u"/already/", u"/usr/"}));
}

TEST(MountInfo, ParsesFieldsAndDecodesEscapes) {
    auto entries = ParseMountInfo(
        "36 35 98:0 /mnt1 /mnt2\\011tab\\134x rw,noatime master:1 - ext3 /dev/root rw\n"
        "37 35 98:1 / /no/separator rw\n");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].major, 98u);
    EXPECT_EQ(entries[0].minor, 0u);
    EXPECT_EQ(entries[0].root, "/mnt1");
    EXPECT_EQ(entries[0].mountPoint, "/mnt2\ttab\\x");
    EXPECT_EQ(entries[0].fsType, "ext3");
    EXPECT_EQ(entries[0].source, "/dev/root");
}

TEST(MountInfo, FileSystemKinds) {
    struct Case {
        const char* type;
        bool pseudo;
        bool fixed;
    };
    const Case cases[] = {
        {"ext4", false, true},     {"xfs", false, true},      {"btrfs", false, true},
        {"overlay", false, true},  {"vfat", false, true},     {"proc", true, false},
        {"sysfs", true, false},    {"devtmpfs", true, false}, {"cgroup2", true, false},
        {"tmpfs", false, false},   {"ramfs", false, false},   {"nfs", false, false},
        {"cifs", false, false},    {"fuseblk", false, false}, {"fuse.sshfs", false, false},
        {"iso9660", false, false}, {"udf", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsPseudoFileSystemType(c.type), c.pseudo) << c.type;
        EXPECT_EQ(IsFixedFileSystemType(c.type), c.fixed) << c.type;
    }
}

}  // namespace
}  // namespace tovarek
