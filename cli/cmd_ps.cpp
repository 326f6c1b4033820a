#include <stdio.h>

#include <string>

#include "cli/commands.h"
#include "platform/code_page.h"
#include "scan/process_table.h"

namespace tovarek::cli {
namespace {

// One field per column: tabs, line breaks and backslashes are escaped so a file name can't
// break the table.
std::string Field(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else
            out.push_back(c);
    }
    return out;
}

}  // namespace

int RunPs(int argc, char** /*argv*/) {
    if (argc != 0) return Usage("ps: takes no arguments");
    ProcessTable table;
    uint32_t shellProcessId = 0;
    if (SnapshotProcesses(table, shellProcessId) != 0) return 2;
    printf("PID\tPPID\tNAME\tPATH\n");
    for (const auto& [pid, e] : table) {
        printf("%u\t%u\t%s\t%s\n", pid, e.parentProcessId, Field(Utf16ToAnsi(e.exeName)).c_str(),
               Field(e.exePathBytes).c_str());
    }
    printf("shell: %u\n", shellProcessId);
    return 0;
}

}  // namespace tovarek::cli
