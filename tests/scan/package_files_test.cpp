// dpkg's records as the package sparing reads them: lines anywhere in files of any length.
#include "scan/package_files.h"

#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/scan/md5_text.h"
#include "tests/support/temp_dir.h"

namespace tovarek {
namespace {

// The records are read in chunks: a record is found wherever it falls against a chunk border,
// after a line too long for any chunk, and as a last line without a line break; the part of a
// long line past a chunk is no record.
TEST(PackageFiles, ARecordIsFoundWhereverItLiesInALongFile) {
    test::TempDir dir;
    const std::string root = dir.path();
    for (const char* d :
         {"/usr", "/usr/bin", "/var", "/var/lib", "/var/lib/dpkg", "/var/lib/dpkg/info"}) {
        ASSERT_EQ(mkdir((root + d).c_str(), 0755), 0) << d;
    }
    test::WriteFile(root + "/usr/bin/tool", "tool");
    test::WriteFile(root + "/var/lib/dpkg/status", "Package: tool\n");
    const std::string md5 = test::Md5OfBytes("tool");
    const FileId id = FileIdOfPath(root + "/usr/bin/tool");
    const std::string other(32, '0');
    const std::string record = md5 + "  usr/bin/tool";
    // Past a chunk's length, it goes on as a record would start.
    const std::string longLine = std::string(65536, 'x') + record + "\n";
    for (size_t before : {0, 65000, 65536 - 20, 65536 - 36, 65536 - 1, 65536, 140000}) {
        std::string text;
        while (text.size() + 40 <= before) text += other + "  usr/share/doc/f\n";
        text += std::string(before - text.size(), '\n');
        for (bool last : {false, true}) {
            std::string file = text + (last ? longLine + record : record + "\n" + longLine);
            test::WriteFile(root + "/var/lib/dpkg/info/tool.md5sums", file);
            PackageFiles packages(root);
            EXPECT_TRUE(packages.IsUnmodifiedPackageFile(id, md5.c_str()))
                << "record at " << before << (last ? ", last, after a long line" : "");
        }
    }
    test::WriteFile(root + "/var/lib/dpkg/info/tool.md5sums", longLine);
    PackageFiles packages(root);
    EXPECT_FALSE(packages.IsUnmodifiedPackageFile(id, md5.c_str()));
}

}  // namespace
}  // namespace tovarek
