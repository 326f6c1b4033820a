#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <memory>
#include <string>
#include <thread>

#include "cli/commands.h"
#include "platform/code_page.h"
#include "platform/messages.h"
#include "platform/module_info.h"
#include "platform/name_escape.h"
#include "platform/path_text.h"
#include "platform/program_folders.h"
#include "scan/canonical_root.h"
#include "scan/fingerprint_cache.h"
#include "scan/package_files.h"
#include "scan/quarantine_result.h"
#include "scan/scan_log.h"
#include "scan/scan_session.h"
#include "store/database.h"
#include "store/scan_list.h"

namespace tovarek::cli {
namespace {

// Stands where the scan page would: keeps the finding and end messages for the main thread.
// Progress messages only tell what the scanned-file store already holds, so they are dropped
// here rather than waking the main thread once per file.
class ScanMessages : public MessageSink {
public:
    void PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override {
        if (message == WM_SCAN_PROGRESS) return;
        m_queue.Post({message, wParam, lParam});
    }
    Message Wait() { return m_queue.Wait(); }

private:
    MessageQueue m_queue;
};

// One finding per line, as the bytes that name the file, escaped as md5sum escapes names, so
// every line stays one finding; a system file left as it was says so after the name.
// The list read on a thread of its own; Wait() is its outcome, from any thread, any number of
// times. The thread goes on to read what the first finding will ask for.
struct ListLoad {
    std::shared_ptr<ScanList> list = std::make_shared<ScanList>();
    std::promise<int> done;
    std::shared_future<int> outcome = done.get_future().share();
    std::thread thread;
    int Wait() const { return outcome.get(); }
    ~ListLoad() {
        if (thread.joinable()) thread.join();
    }
};
// Not an SQLite code: the table holds no usable row.
constexpr int kListEmpty = -1;

void PrintFinding(const ScanFileRecord& record) {
    std::string bytes = Utf16ToPath(record.filePath);
    printf("%s%s%s\n", EscapedLineMark(bytes), EscapeName(bytes).c_str(),
           record.bSystemFile ? Utf16ToUtf8(ScanResultLine(u"", true)).c_str() : "");
}

}  // namespace

// scan [--delete] PATH...: the scan worker over the given directories with the list of
// ./Ravlin.db; --delete moves found files into the quarantine. Exit 0 nothing found, 1 something
// found, 2 error (a found file that --delete could not move counts as one). A clean result must
// mean that everything was checked: a list that can't be read or is empty, or a root that can't
// be opened, is an error, and so is "nothing found" where folders were left unwalked.
int RunScan(int argc, char** argv) {
    int deleteOnFind = 0;
    ScanRoots roots;
    // dpkg's database under another root, as dpkg --root names one (tests, chroots).
    std::string dpkgRoot = "/";
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--delete") == 0) {
            deleteOnFind = 1;
            continue;
        }
        if (strcmp(argv[i], "--dpkg-root") == 0 && i + 1 < argc) {
            dpkgRoot = argv[++i];
            continue;
        }
        // Opened as the walk will open it, by its bytes.
        int fd = open(argv[i], O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            fprintf(stderr, "ravlin-cli: scan: %s: cannot open the directory: %s\n", argv[i],
                    strerror(errno));
            return kExitUsage;
        }
        close(fd);
        // Full paths, as the kernel names running executables: a found file's processes are
        // matched by exact path.
        std::u16string root;
        if (!CanonicalScanRoot(PathToUtf16(argv[i]), root)) {
            fprintf(stderr, "ravlin-cli: scan: %s: %s\n", argv[i], strerror(errno));
            return kExitUsage;
        }
        roots.push_back(root);
    }
    if (roots.empty()) return Usage("scan: missing PATH");
    // Opening a missing database would create an empty one in the current directory.
    struct stat dbStat;
    if (stat(DataFile(kDatabaseFileName).c_str(), &dbStat) != 0) {
        fprintf(stderr, "ravlin-cli: scan: no %s\n",
                DataFolder().empty() ? "Ravlin.db in the current directory"
                                     : DataFile(kDatabaseFileName).c_str());
        return kExitUsage;
    }

    // Read only, so the scan never creates or changes the database. The list loads while the
    // walk and the first reads begin; the judgement waits for it.
    PackageFiles packages(dpkgRoot);
    ListLoad load;
    load.thread = std::thread([&load, &packages] {
        int rc = LoadScanListReadOnly(*load.list);
        if (rc == 0 && load.list->empty()) rc = kListEmpty;
        load.done.set_value(rc);
        // Read here while the walk goes on, instead of by the walking thread at its first
        // finding.
        if (rc == 0) packages.Preload();
    });

    // Files unchanged since an earlier scan are not read again; the session saves what it read.
    FingerprintCache fingerprints;
    fingerprints.Load(DataFile(kFingerprintCacheFileName));

    ScanSessionSetup setup;
    setup.roots = roots;
    setup.list = load.list;
    setup.options.listReady = [&load] { return load.Wait() == 0; };
    setup.deleteOnFind = deleteOnFind;
    setup.options.pPackageFiles = &packages;
    setup.options.pFingerprintCache = &fingerprints;
    // The same log the scan page writes, beside the program.
    setup.moduleDir = PathToUtf16(ModuleDir());
    ScanMessages messages;
    int found = 0;
    int kept = 0;
    ScanSession session(std::move(setup), &messages);
    for (;;) {
        Message m = messages.Wait();
        if (m.message == WM_SCAN_DONE) break;
        ScanFileRecord record;
        if (m.message == WM_SCAN_FOUND &&
            session.Findings().Find(static_cast<int32_t>(m.wParam), record)) {
            PrintFinding(record);
            ++found;
            // Not deleted either: the file stays where it is, and the user must know why.
            if (record.quarantine.Failed()) {
                ++kept;
                fprintf(stderr,
                        "ravlin-cli: scan: %s: not moved into the quarantine, left in place: %s\n",
                        EscapeName(Utf16ToPath(record.filePath)).c_str(),
                        QuarantineFailureText(record.quarantine).c_str());
            }
        }
    }
    session.Join();
    if (load.Wait() == kListEmpty) {
        fprintf(stderr, "ravlin-cli: scan: the list in Ravlin.db is empty; nothing was scanned\n");
        return kExitUsage;
    }
    if (load.Wait() != 0) {
        fprintf(stderr,
                "ravlin-cli: scan: cannot read the list in Ravlin.db (SQLite error %d); nothing "
                "was scanned\n",
                load.Wait());
        return kExitUsage;
    }
    session.WriteLog();
    printf("%s\n", Utf16ToUtf8(session.Summary(true)).c_str());
    const ScanOutcome& outcome = session.Outcome();
    if (outcome.tooDeepSubtrees > 0) {
        fprintf(stderr, "ravlin-cli: scan: %llu folders lie too deep and were not scanned\n",
                static_cast<unsigned long long>(outcome.tooDeepSubtrees));
    }
    // A root the scan refused (a kernel file system such as /proc) was not checked at all.
    for (const std::string& root : outcome.refusedRoots) {
        fprintf(stderr,
                "ravlin-cli: scan: %s: not a file system that can be scanned; nothing there was "
                "checked\n",
                EscapeName(root).c_str());
    }
    if (kept > 0) return kExitUsage;
    if (found > 0) return 1;
    // Nothing found is a clean result only where everything was walked.
    return session.FoldersNotWalked() > 0 ? kExitUsage : 0;
}

}  // namespace tovarek::cli
