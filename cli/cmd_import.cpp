#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "cli/commands.h"
#include "platform/code_page.h"
#include "platform/path_text.h"
#include "store/core_state.h"
#include "update/list_import.h"

namespace tovarek::cli {

// import FILE: the list file into ./Ravlin.db (created when missing), as the program's file mode
// does it; prints how many rows the table took.
int RunImport(int argc, char** argv) {
    if (argc != 1) return Usage("import: expects exactly one FILE");
    const char* path = argv[0];
    if (access(path, R_OK) != 0) {
        fprintf(stderr, "ravlin-cli: import: %s: %s\n", path, strerror(errno));
        return 2;
    }
    CoreState app;
    ImportOutcome outcome;
    ImportList(app, kImportFile, PathToUtf16(path), &outcome);
    if (outcome.bDbFailed) {
        // The database's own message is in log/dberr.log beside the program.
        fprintf(stderr,
                "ravlin-cli: import: %s: ./Ravlin.db failed (cannot be opened, not a database, "
                "read-only or busy); stopped after %d rows added, see log/dberr.log\n",
                path, outcome.nRowsAdded);
        return 2;
    }
    if (!outcome.bParsed) {
        fprintf(stderr,
                "ravlin-cli: import: %s: nothing imported (not a well-formed list document)\n",
                path);
        return 2;
    }
    printf("%d rows added (%d records, %d refused)\n", outcome.nRowsAdded, outcome.nRecords,
           outcome.nRecords - outcome.nRowsAdded);
    return 0;
}

}  // namespace tovarek::cli
