// The running-process table: one snapshot of /proc, and the two ways of ending processes (a
// launch chain, or every process running a given file), offered through one seam (Processes)
// that the scan, the protection pass and the pages share and tests replace. Every call works on
// its own table and its own pidfds; nothing is shared between calls, so any thread may use these
// at any time.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_id.h"

namespace tovarek {

struct ProcessEntry {
    std::u16string exeName;    // file name of the executable, lower-cased
    std::u16string exePath;    // full path of the executable; empty when it can't be read
    std::u16string spareText;  // free for the caller (the process watch keeps its history line)
    uint32_t processId = 0;
    uint32_t parentProcessId = 0;  // as reported; that parent may be gone or its PID reused
    // Linux additions.
    uint32_t sessionId = 0;    // a process whose session ID is its own PID is a session leader
    uint64_t startTime = 0;    // proc(5) stat field 22; tells a reused PID from the snapshot's
    std::string exePathBytes;  // exePath as the kernel gave it (not necessarily valid UTF-8)
    bool hasExited = false;    // a zombie: already ended, only its parent's wait is pending
    FileId exeId;  // the file the process runs (/proc/<pid>/exe), whatever path names it
    // Set by the process watch: the list entry that matched (fingerprint, or the listed name).
    std::u16string listedEntry;
};

// Ascending process ID; PID 0 and kernel threads are never in it.
using ProcessTable = std::map<uint32_t, ProcessEntry>;

// Fills `table` (expected empty) from /proc and writes the lowest PID of a desktop shell to
// `shellProcessId` (0 when none runs). Returns 0, or -1 when /proc can't be listed: the table is
// then empty, `shellProcessId` is left as it was and a message goes to the standard output.
int SnapshotProcesses(ProcessTable& table, uint32_t& shellProcessId);

// The desktop shells whose lowest PID is the shell process ID (lower-case executable names).
bool IsDesktopShellName(std::u16string_view exeName);

// The desktop shells and the processes that launch programs for the user (panels, file managers,
// launchers, terminals' servers, session services): a launch chain's walk up stops below them.
bool IsDesktopLauncherName(std::u16string_view exeName);

// The protected processes, never matched and never ended wherever they stand in a chain: PID 1,
// this process and all its ancestors. Kernel threads are never in a table, so they need no entry
// here.
std::set<uint32_t> ProtectedProcessIds();

// The PIDs a chain would end, in order: ancestors nearest first, then the target, then its
// first-child descendants. The walk up stops below the shell, below the first ancestor that is
// a session leader, a desktop launcher (IsDesktopLauncherName) or in `protectedIds`, and at a
// parent missing from the table; the walk down stops above the first child in `protectedIds`;
// both stop at a PID already seen, so parent-link cycles end. A protected process cuts the chain
// rather than being passed through: what lies beyond it is not the target's launch chain (a
// protected ancestor's other first children would be ended one line per pass). A target of 0 or in
// `protectedIds` ends nothing. Pure: takes no snapshot and signals nothing.
std::vector<uint32_t> ChainProcessIds(const ProcessTable& table, uint32_t targetId,
                                      uint32_t shellProcessId,
                                      const std::set<uint32_t>& protectedIds);

// The entries of processes that run the file `path` named `name`, ascending. When both the
// process's running executable and `fileId` are known, only they decide: the same file matches
// whatever path or name runs it (a hard link, a directory link, merged /usr), another file never
// does. Otherwise the lower-cased name must equal exeName, and exePath must equal `path` exactly
// unless exePath is empty. Nothing matches when
// either text is empty, and an exited process (zombie) never matches: it runs nothing, and
// ending its chain would only reach the parent that has not reaped it. Pure.
std::vector<uint32_t> ProcessIdsOfFile(const ProcessTable& table, std::u16string_view path,
                                       std::u16string_view name, const FileId& fileId = {});

// Ends the PIDs of `processIds` with SIGKILL through pidfds: all are opened first (a PID whose
// start time no longer matches the table's entry, or that is not in the table, is skipped), then
// signalled in order, then closed. Failures are silent. Returns how many were signalled.
int EndProcesses(const ProcessTable& table, const std::vector<uint32_t>& processIds);

// How the program reaches the running processes: a snapshot, a launch chain ended, and every
// process running a file ended. The system's reads /proc and signals through pidfds; a test puts
// its own in place to see what would be ended without ending anything.
class Processes {
public:
    virtual ~Processes() = default;
    // SnapshotProcesses.
    virtual int Snapshot(ProcessTable& table, uint32_t& shellProcessId);
    // The free ProtectedProcessIds(); asked once per pass or deletion.
    virtual std::set<uint32_t> ProtectedProcessIds();
    // Ends `processId` with its chain (ChainProcessIds) as `table` shows them (EndProcesses).
    virtual void EndChain(const ProcessTable& table, uint32_t processId, uint32_t shellProcessId,
                          const std::set<uint32_t>& protectedIds);
    // Ends, each with its chain, every process on `table` running the file (ProcessIdsOfFile),
    // in ascending PID; protected processes are never targets.
    virtual void EndProcessesOfFile(const ProcessTable& table, uint32_t shellProcessId,
                                    std::u16string_view path, std::u16string_view name,
                                    const FileId& fileId);
};

// The running system's. Lives as long as the program.
Processes& SystemProcesses();

}  // namespace tovarek
