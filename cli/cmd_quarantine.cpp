#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/local_time.h"
#include "platform/name_escape.h"
#include "platform/path_text.h"
#include "scan/quarantine.h"

namespace tovarek::cli {
namespace {

// id, time, size, matched entry, original path: tab-separated, the path last so that nothing in
// it can shift a field; backslashes and line ends escaped as scan prints paths.
int List(const Quarantine& quarantine) {
    std::vector<QuarantineRecord> items;
    int error = quarantine.List(items);
    if (error != 0) {
        fprintf(stderr, "ravlin-cli: quarantine: list: %s: %s\n",
                EscapeName(quarantine.Folder()).c_str(), strerror(error));
        return kExitUsage;
    }
    for (const QuarantineRecord& item : items) {
        printf("%s\t%s\t%llu\t%s\t%s\n", item.id.c_str(),
               Utf16ToPath(FormatLocalTime(u"%Y-%m-%d %H:%M:%S", item.time)).c_str(),
               static_cast<unsigned long long>(item.sizeBytes),
               EscapeName(item.listedEntry).c_str(), EscapeName(item.pathBytes).c_str());
    }
    return 0;
}

int Restore(const Quarantine& quarantine, int argc, char** argv) {
    std::string id, to;
    bool haveTo = false;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--to") == 0) {
            if (i + 1 >= argc || haveTo) return Usage("quarantine restore: --to needs one PATH");
            to = argv[++i];
            haveTo = true;
        } else if (id.empty()) {
            id = argv[i];
        } else {
            return Usage("quarantine restore: one ID at a time");
        }
    }
    if (id.empty()) return Usage("quarantine restore: missing ID");
    if (haveTo && to.empty()) return Usage("quarantine restore: --to needs one PATH");
    RestoreResult result = quarantine.Restore(id, to);
    if (result.status != RestoreStatus::kRestored) {
        if (result.path.empty()) {
            fprintf(stderr, "ravlin-cli: quarantine: restore: %s: %s; nothing was restored\n",
                    EscapeName(id).c_str(), RestoreFailureText(result).c_str());
        } else {
            fprintf(stderr, "ravlin-cli: quarantine: restore: %s: %s: %s; nothing was restored\n",
                    EscapeName(id).c_str(), EscapeName(result.path).c_str(),
                    RestoreFailureText(result).c_str());
        }
        return 1;
    }
    printf("%s\n", EscapeName(result.path).c_str());
    return 0;
}

bool ParseDays(const char* text, long long& days) {
    char* end = nullptr;
    errno = 0;
    days = strtoll(text, &end, 10);
    // A day count past a few million years would overflow the cutoff; nothing is that old.
    return end != text && *end == '\0' && errno == 0 && days >= 0 && days <= 100000000;
}

int Purge(const Quarantine& quarantine, int argc, char** argv) {
    if (argc == 0) return Usage("quarantine purge: missing ID, --older-than DAYS or --all");
    std::vector<std::string> purged;
    if (strcmp(argv[0], "--all") == 0 || strcmp(argv[0], "--older-than") == 0) {
        long long days = 0;
        const bool all = strcmp(argv[0], "--all") == 0;
        if (all ? argc != 1 : (argc != 2 || !ParseDays(argv[1], days))) {
            return Usage(
                "quarantine purge: --older-than takes one whole number of days; --all "
                "takes nothing");
        }
        purged = all ? quarantine.PurgeAll()
                     : quarantine.PurgeOlderThan(quarantine.Now() - days * 86400);
        for (const std::string& id : purged) printf("%s\n", id.c_str());
        return 0;
    }
    int missing = 0;
    for (int i = 0; i < argc; ++i) {
        if (quarantine.Purge(argv[i])) {
            printf("%s\n", argv[i]);
        } else {
            fprintf(stderr, "ravlin-cli: quarantine: purge: %s: no such item in the quarantine\n",
                    EscapeName(argv[i]).c_str());
            ++missing;
        }
    }
    return missing > 0 ? 1 : 0;
}

}  // namespace

// quarantine list | restore ID [--to PATH] | purge ID... | purge --older-than DAYS | purge --all:
// the items in the quarantine beside ./Ravlin.db. Exit 0 done, 1 an item refused or unknown,
// 2 a usage error or an unreadable quarantine.
int RunQuarantine(int argc, char** argv) {
    if (argc < 1) return Usage("quarantine: missing list, restore or purge");
    Quarantine quarantine;
    if (strcmp(argv[0], "list") == 0) {
        if (argc != 1) return Usage("quarantine list: takes nothing");
        return List(quarantine);
    }
    if (strcmp(argv[0], "restore") == 0) return Restore(quarantine, argc - 1, argv + 1);
    if (strcmp(argv[0], "purge") == 0) return Purge(quarantine, argc - 1, argv + 1);
    char problem[256];
    snprintf(problem, sizeof problem, "quarantine: unknown action '%.200s'", argv[0]);
    return Usage(problem);
}

}  // namespace tovarek::cli
