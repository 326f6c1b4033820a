#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/path_text.h"
#include "platform/program_folders.h"
#include "protect/process_watch.h"
#include "scan/fingerprint_cache.h"
#include "store/app_settings.h"
#include "store/core_state.h"
#include "store/database.h"

namespace tovarek::cli {
namespace {

class PrintingHistory : public HistorySink {
public:
    void AddHistoryLine(const std::u16string& line) override {
        // The line holds the name escaped already, so one line is one history line and a crafted
        // executable name can't forge another; as md5sum marks a line whose name holds escapes,
        // a line with a backslash starts with one.
        const std::string bytes = Utf16ToAnsiPath(line);
        printf("%s%s\n", bytes.find('\\') != std::string::npos ? "\\" : "", bytes.c_str());
        ++m_nLines;
    }
    void FitHistoryWidth(const std::u16string&) override {}
    int m_nLines = 0;
};

double Seconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

// watch --once: one pass. watch --passes N: N passes back to back in this one process, each
// timed on the standard error (the benchmark's steady state).
int RunWatch(int argc, char** argv) {
    // dpkg's database under another root, as dpkg --root names one (tests, chroots).
    std::string dpkgRoot = "/";
    if (argc >= 2 && strcmp(argv[0], "--dpkg-root") == 0) {
        dpkgRoot = argv[1];
        argc -= 2;
        argv += 2;
    }
    long passes = 0;
    if (argc == 1 && strcmp(argv[0], "--once") == 0) {
        passes = 1;
    } else if (argc == 2 && strcmp(argv[0], "--passes") == 0) {
        char* end = nullptr;
        passes = strtol(argv[1], &end, 10);
        if (*end != '\0' || passes < 1) return Usage("watch: --passes needs a positive count");
    } else {
        return Usage("watch: expected --once or --passes N");
    }
    // Opening a missing database would create an empty one, and a pass over an empty list would
    // report that nothing listed runs.
    struct stat dbStat;
    if (stat(DataFile(kDatabaseFileName).c_str(), &dbStat) != 0) {
        fprintf(stderr, "ravlin-cli: watch: no Ravlin.db in the current directory\n");
        return kExitUsage;
    }
    CoreState app;
    AppSettings settings;
    settings.LoadSettings();
    InitCoreState(app, &settings);
    PrintingHistory history;
    PackageFiles packages(dpkgRoot);
    // Shared with the scans, as in the program: an executable a scan read is not read again.
    FingerprintCache fingerprints;
    fingerprints.Load(DataFile(kFingerprintCacheFileName));
    app.m_pFingerprintCache = &fingerprints;
    WatchSetup setup;
    setup.packages = &packages;
    ProcessWatch watch(app, &history, std::move(setup));
    bool listRead = false;
    for (long i = 0; i < passes; ++i) {
        app.m_lstInterceptions.clear();
        const uint64_t readBefore = watch.cache().filesRead();
        const double t0 = Seconds();
        const bool hadList = listRead || i == 0;
        listRead = watch.RunProtectionPass();
        const double t1 = Seconds();
        if (!listRead && hadList) {
            fprintf(stderr,
                    "ravlin-cli: watch: cannot read the list in Ravlin.db; no process was "
                    "checked\n");
        }
        if (passes > 1) {
            fprintf(stderr, "pass %ld: %.6f s, %llu executables read\n", i + 1, t1 - t0,
                    static_cast<unsigned long long>(watch.cache().filesRead() - readBefore));
        }
    }
    fflush(stdout);
    fingerprints.Save(DataFile(kFingerprintCacheFileName));
    if (!listRead) return kExitUsage;
    return history.m_nLines > 0 ? 1 : 0;
}

}  // namespace tovarek::cli
