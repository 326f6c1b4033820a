// The quarantine: where a found file goes instead of being deleted, so that a wrong list entry
// or a forged list costs nothing that can't be undone. One folder (mode 0700, made on first use,
// used only when this user owns it) holds each item as two files named by its random id: "<id>"
// with the file's bytes (mode 0000) and "<id>.rec" with its record. The record is durable before
// the bytes arrive, and the original is unlinked only once both are durable, so a crash at any
// moment leaves the file in place or in quarantine with its record, never neither. An item is
// listed only when both files are there.
// A Quarantine holds only its folder name and hooks: any thread may use one, and several
// processes may share a folder (ids are random, files are created exclusively).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_id.h"
#include "scan/quarantine_record.h"
#include "scan/quarantine_result.h"

namespace tovarek {

// Where the program keeps its quarantine: "quarantine/" beside Ravlin.db.
std::string DefaultQuarantineDir();

enum class RestoreStatus {
    kRestored,
    kUnknownId,  // no complete item with this id
    kExists,     // something already has the target's name: nothing is written over
    kNoFolder,   // the target's folder does not exist
    kDamaged,    // the stored bytes do not match the record's SHA-256 (or the record is unreadable)
    kFailed,     // a system call refused; `error` tells why
};

struct RestoreResult {
    RestoreStatus status = RestoreStatus::kFailed;
    int error = 0;
    std::string path;  // where the file was (or would have been) put back
};

// For ravlin-cli: "a file already exists there".
std::string RestoreFailureText(const RestoreResult& result);

// The steps of moving a file in, for tests that fail or stop one of them.
enum class QuarantineStep {
    kStore,   // the bytes go into the folder (a link on the same file system, else a copy)
    kRecord,  // the record is written and made durable
    kUnlink,  // the original is removed
};

// Stops a move in as a crash at that point would: nothing is undone.
constexpr int kQuarantineHalt = -1;

struct QuarantineHooks {
    // Called before each step of MoveIn: 0 goes on; an errno makes the step fail with it (the
    // move is then undone and the file stays); kQuarantineHalt returns at once.
    std::function<int(QuarantineStep)> beforeStep;
    // Seconds since 1970 for records and for purging by age; none: the wall clock.
    std::function<int64_t()> clock;
};

class Quarantine {
public:
    explicit Quarantine(std::string folder = DefaultQuarantineDir(), QuarantineHooks hooks = {});

    const std::string& Folder() const { return m_strFolder; }
    // The folder's identity, unknown while it does not exist (a scan never walks into it).
    FileId FolderId() const;

    // Moves `name` in the folder `dirFd` (whose path is `pathBytes` minus the name) into the
    // quarantine, but only while that entry is the regular file `judged` (device and inode),
    // never what a link leads to. On the same file system the file is linked in and unlinked (no
    // copy, no space); across file systems it is copied, and the copy is durable before the
    // original goes. Whatever fails, the file stays where it is and the item is undone.
    QuarantineResult MoveIn(int dirFd, const std::string& name, const std::string& pathBytes,
                            const FileId& judged, const std::string& listedEntry,
                            QuarantineOrigin origin) const;
    // Same, opening the folder of `pathBytes` (links on the way to it followed).
    QuarantineResult MoveIn(const std::string& pathBytes, const FileId& judged,
                            const std::string& listedEntry, QuarantineOrigin origin) const;

    // The complete items, oldest first. 0, or an errno when the folder can't be read (a folder
    // not made yet holds no items: 0).
    int List(std::vector<QuarantineRecord>& items) const;

    // Puts item `id` back at its original path, or at `toPath` (into it, under the original name,
    // when it names a folder). Checks the SHA-256 first; never writes over anything and never
    // makes a folder; restores bytes, mode and times, and the owner when run by root. The item
    // is removed once the file is durable at its place.
    RestoreResult Restore(const std::string& id, const std::string& toPath = {}) const;

    // Removes item `id`; false when there was none.
    bool Purge(const std::string& id) const;
    // Removes the items moved in before `cutoff` (seconds since 1970), and the remains of moves
    // a crash cut short once they are an hour old. Returns the ids of the items removed.
    std::vector<std::string> PurgeOlderThan(int64_t cutoff) const;
    std::vector<std::string> PurgeAll() const;

    int64_t Now() const;

private:
    int OpenFolder(bool create, int& error) const;
    int Hook(QuarantineStep step) const;

    std::string m_strFolder;
    QuarantineHooks m_hooks;
};

}  // namespace tovarek
