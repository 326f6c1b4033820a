#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "cli/commands.h"
#include "platform/code_page.h"
#include "platform/path_text.h"
#include "store/core_state.h"
#include "update/list_cycle.h"
#include "update/list_import.h"

namespace tovarek::cli {
namespace {

enum class ReadResult { kRead, kMissing, kTooLarge, kFailed };

// The whole of a regular file, at most `maxBytes`; never blocks on a FIFO or a device.
ReadResult ReadWholeFile(const char* path, size_t maxBytes, std::string& out) {
    out.clear();
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EINVAL;
        return ReadResult::kFailed;
    }
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return ReadResult::kFailed;
        }
        if (n == 0) break;
        if (out.size() + static_cast<size_t>(n) > maxBytes) {
            close(fd);
            out.clear();
            return ReadResult::kTooLarge;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return ReadResult::kRead;
}

int PrintOutcome(const char* path, const ImportOutcome& outcome) {
    if (outcome.bDbFailed) {
        // The database's own message is in log/dberr.log beside the program.
        fprintf(stderr,
                "ravlin-cli: import: %s: ./Ravlin.db failed (cannot be opened, not a database, "
                "read-only or busy); stopped after %d rows added, see log/dberr.log\n",
                path, outcome.nRowsAdded);
        return 2;
    }
    if (!outcome.bParsedAndOpened) {
        fprintf(stderr,
                "ravlin-cli: import: %s: nothing imported (not a well-formed list document)\n",
                path);
        return 2;
    }
    printf("%d rows added (%d records, %d refused)\n", outcome.nRowsAdded, outcome.nRecords,
           outcome.nRecords - outcome.nRowsAdded);
    return 0;
}

// A list the user vouches for, as the program's file mode reads it.
int ImportUnsigned(const char* path) {
    fprintf(stderr,
            "ravlin-cli: import: warning: %s is imported without a signature check, on your "
            "word\n",
            path);
    CoreState app;
    ImportOutcome outcome;
    ImportList(app, kImportFile, PathToUtf16(path), &outcome);
    return PrintOutcome(path, outcome);
}

}  // namespace

// import [--unsigned] FILE: the list file into ./Ravlin.db (created when missing). The file must
// be signed (FILE.minisig) by a trusted key, with a serial not below the last one taken and not
// expired, exactly as a downloaded list; --unsigned takes it unchecked. Prints how many rows the
// table took.
int RunImport(int argc, char** argv) {
    bool unsignedOk = false;
    if (argc == 2 && strcmp(argv[0], "--unsigned") == 0) {
        unsignedOk = true;
        ++argv;
        --argc;
    }
    if (argc != 1) return Usage("import: expects [--unsigned] FILE");
    const char* path = argv[0];
    if (access(path, R_OK) != 0) {
        fprintf(stderr, "ravlin-cli: import: %s: %s\n", path, strerror(errno));
        return 2;
    }
    if (unsignedOk) return ImportUnsigned(path);

    std::string body;
    ReadResult read = ReadWholeFile(path, kMaxListBytes, body);
    if (read != ReadResult::kRead) {
        fprintf(stderr, "ravlin-cli: import: %s: %s\n", path,
                read == ReadResult::kTooLarge ? "larger than a list may be" : strerror(errno));
        return 2;
    }
    const std::string signaturePath = std::string(path) + ".minisig";
    std::string signatureText;
    std::optional<std::string> signature;
    read = ReadWholeFile(signaturePath.c_str(), kMaxSignatureBytes, signatureText);
    if (read == ReadResult::kRead) {
        signature = std::move(signatureText);
    } else if (read == ReadResult::kTooLarge) {
        signature = std::string(kMaxSignatureBytes + 1, ' ');  // refused by its size
    } else if (read == ReadResult::kFailed) {
        fprintf(stderr, "ravlin-cli: import: %s: %s\n", signaturePath.c_str(), strerror(errno));
        return 2;
    }
    CoreState app;
    // The bytes checked are the bytes imported: the file is not read a second time.
    ListCycleReport report = TakeSignedList(app, std::move(body), std::move(signature), path);
    if (report.kind == ListCycleReport::kRefused) {
        fprintf(stderr, "ravlin-cli: import: %s%s\n", report.strProblem.c_str(),
                report.refusal == ListRefusal::kSignatureMissing
                    ? " (import --unsigned FILE takes a list you vouch for)"
                    : "");
        return 2;
    }
    if (report.kind == ListCycleReport::kDbFailed && !report.outcome.bDbFailed) {
        fprintf(stderr, "ravlin-cli: import: %s\n", report.strProblem.c_str());
        return 2;
    }
    return PrintOutcome(path, report.outcome);
}

}  // namespace tovarek::cli
