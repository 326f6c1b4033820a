// What became of a file the program was asked to put in quarantine, and the words for it: short
// English for ravlin-cli, the program's own Chinese for the scan log. Plain values; any thread.
#pragma once

#include <string>

namespace tovarek {

enum class QuarantineStatus {
    kMoved,        // in quarantine with its record; the path names nothing any more
    kNotJudged,    // the path no longer names the judged regular file (gone, replaced, a link)
    kUnreadable,   // the file could not be read whole
    kNoSpace,      // the quarantine ran out of space or quota
    kCannotStore,  // the quarantine folder could not be made, opened or written
    kChanged,      // the file changed while it was read
    kNotRemoved,   // the original could not be removed (its folder is read-only, ...)
};

// The default value stands for "nothing was tried".
struct QuarantineResult {
    QuarantineStatus status = QuarantineStatus::kNotJudged;
    int error = 0;   // errno of the step that failed; 0 when none applies
    std::string id;  // the new item's id when moved
    // The file is still where it was, and it is still the one that was judged.
    bool Failed() const {
        return status != QuarantineStatus::kMoved && status != QuarantineStatus::kNotJudged;
    }
};

// Why a file stayed, for ravlin-cli: "cannot read the file: Permission denied".
std::string QuarantineFailureText(const QuarantineResult& result);
// Why a file stayed, for the scan log after its line: "(未隔离：无法读取文件)".
std::u16string QuarantineFailureNote(QuarantineStatus status);

}  // namespace tovarek
