#include <stdio.h>

#include <string>

#include "cli/commands.h"
#include "platform/name_escape.h"
#include "platform/path_text.h"
#include "scan/process_table.h"

namespace tovarek::cli {

int RunPs(int argc, char** /*argv*/) {
    if (argc != 0) return Usage("ps: takes no arguments");
    ProcessTable table;
    uint32_t shellProcessId = 0;
    if (SnapshotProcesses(table, shellProcessId) != 0) return 2;
    // One field per column; a name can't break the table.
    printf("PID\tPPID\tNAME\tPATH\n");
    for (const auto& [pid, e] : table) {
        printf("%u\t%u\t%s\t%s\n", pid, e.parentProcessId,
               EscapeName(Utf16ToAnsiPath(e.exeName)).c_str(), EscapeName(e.exePathBytes).c_str());
    }
    printf("shell: %u\n", shellProcessId);
    return 0;
}

}  // namespace tovarek::cli
