// One list update cycle and the taking of a signed list: fetch the list (conditionally) and its
// signature, check both, import, and remember the serial and the validators. Used by the download
// worker on its thread and by the command line; keeps no state between calls.
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "update/list_fetch.h"
#include "update/list_import.h"
#include "update/list_trust.h"

namespace tovarek {

class CoreState;

using ListImporter = int (*)(CoreState& app, int mode, std::u16string text, ImportOutcome* outcome,
                             const std::atomic<bool>* stop);

struct ListCycleReport {
    enum Kind {
        kImported,     // a signed list was handed to the import (also one it could not read)
        kNotModified,  // 304: the list taken last is still current; nothing imported
        kFetchFailed,  // nothing usable arrived
        kRefused,      // the list arrived but may not be taken (see refusal)
        kDbFailed,     // the database failed (reading the list state, or under the import)
        kStopped,      // the owner is ending
    };
    Kind kind = kFetchFailed;
    ListRefusal refusal = ListRefusal::kNone;
    ImportOutcome outcome;
    // One line for the user (standard error, the error log) when the cycle failed.
    std::string strProblem;
    bool Succeeded() const { return kind == kImported || kind == kNotModified; }
};

// Checks `body` with `signature` against the trusted keys, the stored serial and the clock;
// imports it when it passes and then records its serial (never lowering the stored one) and,
// when given, the validators of its download. A refused list imports nothing. `source` names the
// list in the problem line. The refusal also goes to the error log.
ListCycleReport TakeSignedList(CoreState& app, std::string body,
                               std::optional<std::string> signature, const std::string& source,
                               const ListTransfer* validators = nullptr,
                               ListImporter import = ImportList,
                               const std::atomic<bool>* stop = nullptr);

// One whole cycle against `url` (its signature at url + ".minisig") on `transfer`, whose handle
// and limits the caller sets.
ListCycleReport RunListCycle(CoreState& app, ListTransfer& transfer, const std::string& url,
                             ListImporter import = ImportList,
                             const std::atomic<bool>* stop = nullptr);

}  // namespace tovarek
