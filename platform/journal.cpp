#include "platform/journal.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/uio.h>
#include <systemd/sd-journal.h>

#include <string_view>
#include <vector>

namespace tovarek {

const char* JournalEventName(JournalEvent event) {
    switch (event) {
        case JournalEvent::kIntercepted:
            return "intercepted";
        case JournalEvent::kFound:
            return "found";
        case JournalEvent::kDeleted:
            return "deleted";
        case JournalEvent::kListUpdated:
            return "list-updated";
        case JournalEvent::kListFailed:
            return "list-failed";
    }
    return "found";
}

int JournalPriority(JournalEvent event) {
    switch (event) {
        case JournalEvent::kDeleted:
            return 5;
        case JournalEvent::kListUpdated:
            return 6;
        default:
            return 4;
    }
}

bool SendJournalRecord(const JournalRecord& record) {
    // Off on request: the test suites run their programs with it, so that a developer's own
    // journal never holds their findings.
    const char* wanted = getenv("TOVAREK_JOURNAL");
    if (wanted && wanted[0] == '0' && wanted[1] == 0) return false;
    // Each field as "NAME=value" in one buffer of its own; sd_journal_sendv sends values that
    // hold a line break (a path may) in the protocol's binary form, so they arrive intact.
    std::vector<std::string> fields;
    fields.reserve(8);
    fields.push_back(std::string("TOVAREK_EVENT=") + JournalEventName(record.event));
    if (!record.path.empty()) fields.push_back("TOVAREK_PATH=" + record.path);
    if (!record.md5.empty()) fields.push_back("TOVAREK_MD5=" + record.md5);
    if (record.pid) fields.push_back("TOVAREK_PID=" + std::to_string(record.pid));
    fields.push_back("PRIORITY=" + std::to_string(JournalPriority(record.event)));
    fields.push_back("SYSLOG_IDENTIFIER=" + std::string(program_invocation_short_name));
    fields.push_back("MESSAGE=" + record.message);
    std::vector<struct iovec> iov(fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
        iov[i].iov_base = fields[i].data();
        iov[i].iov_len = fields[i].size();
    }
    return sd_journal_sendv(iov.data(), static_cast<int>(iov.size())) == 0;
}

}  // namespace tovarek
