#include "update/list_cycle.h"

#include <algorithm>

#include "platform/local_time.h"
#include "store/core_state.h"
#include "store/database.h"
#include "store/db_log.h"
#include "store/list_state.h"

namespace tovarek {
namespace {

ListCycleReport Failure(ListCycleReport::Kind kind, std::string problem) {
    ListCycleReport report;
    report.kind = kind;
    report.strProblem = std::move(problem);
    return report;
}

bool LoadListState(ListState& state) {
    Database db;
    OpenDatabase(db);
    return db.IsOpen() && ReadListState(db, state) == 0;
}

void SetListDateNow(CoreState& app) {
    app.SetListDate(FormatLocalTime(u"%Y-%m-%d %H:%M:%S", NowSeconds()));
}

}  // namespace

ListCycleReport TakeSignedList(CoreState& app, std::string body,
                               std::optional<std::string> signature, const std::string& source,
                               const ListTransfer* validators, ListImporter import,
                               const std::atomic<bool>* stop) {
    ListState state;
    if (!LoadListState(state)) {
        // Without the last serial an older list could be taken again.
        return Failure(ListCycleReport::kDbFailed,
                       "Ravlin.db: the state of the last list could not be read");
    }
    ListCheck check;
    if (signature) check.signatureText = *signature;
    check.lastSerial = state.lastSerial;
    check.now = NowSeconds();
    ListTerms terms;
    const ListRefusal refusal = CheckList(body, check, terms);
    if (refusal != ListRefusal::kNone) {
        ListCycleReport report =
            Failure(ListCycleReport::kRefused,
                    "list refused (" + source + "): " + ListRefusalText(refusal));
        report.refusal = refusal;
        LogDbError(report.strProblem + "\n", true);
        return report;
    }
    signature.reset();
    // The text is code page 936 (as a download has always been handed on); it is decoded as
    // such, whatever the locale's code page. Each form is dropped as soon as the next exists.
    std::string gbk = ListBodyToGbk(std::move(body));
    std::u16string wide = GbkToWide(gbk);
    std::string().swap(gbk);
    ListCycleReport report;
    const int imported = import(app, kImportText, std::move(wide), &report.outcome, stop);
    if (imported == kImportDbFailed) {
        report.kind = ListCycleReport::kDbFailed;
        report.strProblem = "Ravlin.db failed under the import of " + source;
        return report;
    }
    if (imported == kImportStopped) {
        report.kind = ListCycleReport::kStopped;
        report.strProblem = "stopped";
        return report;
    }
    report.kind = ListCycleReport::kImported;
    if (report.outcome.bParsedAndOpened) {
        // Taken whole: from now on nothing older is, and the next download may be answered 304.
        // A list the import could not read leaves no trace, so the next cycle asks again.
        state.lastSerial = std::max(state.lastSerial.value_or(0), terms.serial);
        if (validators) {
            state.strEtag = validators->strEtag;
            state.strLastModified = validators->strLastModified;
        }
        Database db;
        OpenDatabase(db);
        WriteListState(db, state);
    }
    return report;
}

ListCycleReport RunListCycle(CoreState& app, ListTransfer& transfer, const std::string& url,
                             ListImporter import, const std::atomic<bool>* stop) {
    ListState state;
    if (!LoadListState(state)) {
        return Failure(ListCycleReport::kDbFailed,
                       "Ravlin.db: the state of the last list could not be read");
    }
    transfer.strIfNoneMatch = state.strEtag;
    transfer.strIfModifiedSince = state.strLastModified;
    std::string body;
    const FetchResult fetched = FetchListBody(transfer, url, body);
    if (stop && stop->load()) return Failure(ListCycleReport::kStopped, "stopped");
    if (fetched == FetchResult::kNotModified) {
        // Only an answer to the validators we sent means "unchanged".
        if (state.strEtag.empty() && state.strLastModified.empty()) {
            return Failure(ListCycleReport::kFetchFailed, "304 without a list taken from " + url);
        }
        // The list in the table is confirmed current, as an import of the same list would.
        SetListDateNow(app);
        ListCycleReport report;
        report.kind = ListCycleReport::kNotModified;
        return report;
    }
    if (fetched != FetchResult::kBody) {
        return Failure(ListCycleReport::kFetchFailed, "nothing usable from " + url);
    }

    ListTransfer signatureTransfer;
    signatureTransfer.pHandle = transfer.pHandle;
    signatureTransfer.limits = transfer.limits;
    signatureTransfer.pStop = transfer.pStop;
    signatureTransfer.nMaxBytes = kMaxSignatureBytes;
    std::string signatureText;
    const FetchResult signed_ = FetchListBody(signatureTransfer, url + ".minisig", signatureText);
    if (stop && stop->load()) return Failure(ListCycleReport::kStopped, "stopped");
    std::optional<std::string> signature;
    if (signed_ == FetchResult::kBody) {
        signature = std::move(signatureText);
    } else if (signed_ == FetchResult::kTooLarge) {
        // Passed on as it is: the check refuses it by its size.
        signature = std::string(kMaxSignatureBytes + 1, ' ');
    } else if (signatureTransfer.nResponseCode == 0) {
        return Failure(ListCycleReport::kFetchFailed,
                       "the signature could not be downloaded from " + url + ".minisig");
    }
    return TakeSignedList(app, std::move(body), std::move(signature), url, &transfer, import, stop);
}

}  // namespace tovarek
