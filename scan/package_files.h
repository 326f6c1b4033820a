// The files of installed Debian packages as dpkg recorded them ("<admin>/info/*.md5sums": an MD5
// and a path below the root on each line), so that nothing the program ends or deletes is an
// unmodified file of the system itself: a list that names one is mistaken or forged, and a
// changed one is a case for the package manager. The records are read at the first question and
// again only when dpkg's status file has changed. One lock guards every question, so the scan
// thread and the UI thread may share one object.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_id.h"

namespace tovarek {

class PackageFiles {
public:
    // `root`: where the recorded paths start ("/" for the running system); `adminDir`: dpkg's
    // database folder (empty: root + "/var/lib/dpkg").
    explicit PackageFiles(std::string root = "/", std::string adminDir = "");
    PackageFiles(const PackageFiles&) = delete;
    PackageFiles& operator=(const PackageFiles&) = delete;

    // True when the file `id` is what some recorded path leads to (device and inode: dpkg still
    // records bin/sleep where /bin links to /usr/bin) and `digest` (32 lower-case hex digits,
    // the file's MD5 now) is the one dpkg recorded for that path. False when either is unknown.
    bool IsUnmodifiedPackageFile(const FileId& id, const char* digest);

    // The same for the file at `path`, fingerprinted here; false unless `path` still leads to
    // `id`.
    bool IsUnmodifiedPackageFileAt(const std::string& path, const FileId& id);

    // Reads the records now, when they are not read yet or dpkg's status changed, so that the
    // first question need not wait for them.
    void Preload();

    // How often the records were read (the first question, then each change of dpkg's status).
    uint64_t loads();

private:
    struct Record {
        uint64_t digestPrefix;  // the first 16 hex digits of the recorded MD5
        uint32_t file;          // index into m_files
        uint32_t offset;        // where the record's line starts in that file
    };
    struct Stamp {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        int64_t mtimeNs = 0;
        int64_t ctimeNs = 0;
        bool operator==(const Stamp&) const = default;
    };

    static bool ReadRecordsAt(int dirFd, const char* name, uint32_t file, std::vector<char>& buffer,
                              std::vector<Record>& records);
    void RefreshLocked();
    void LoadLocked();
    bool RecordLeadsTo(const Record& record, const FileId& id, const char* digest) const;

    const std::string m_strRoot;
    const std::string m_strAdminDir;
    std::mutex m_mutex;
    bool m_bLoaded = false;
    Stamp m_status;
    uint64_t m_nLoads = 0;
    // Only a prefix and a place per record are kept (16 bytes for each of some 100,000 files);
    // a candidate's line is read again from its file when a question needs it.
    std::vector<std::string> m_files;
    std::vector<Record> m_records;  // sorted by digestPrefix
};

// The running system's records, shared by everything in the process.
PackageFiles& SystemPackageFiles();

}  // namespace tovarek
