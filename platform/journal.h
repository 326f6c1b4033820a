// What Tovarek saw, also sent to the systemd journal, so that an administrator of many machines
// collects it with the log shipping the fleet already runs (journal upload, rsyslog, Fluent Bit).
// Fields: TOVAREK_EVENT, TOVAREK_PATH (the path's bytes), TOVAREK_MD5, TOVAREK_PID where there is
// one, PRIORITY and MESSAGE. Where no journal runs the record is dropped and nothing else
// changes. Thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace tovarek {

enum class JournalEvent { kIntercepted, kFound, kDeleted, kListUpdated, kListFailed };

struct JournalRecord {
    JournalEvent event = JournalEvent::kFound;
    std::string path;     // bytes as the file system holds them; empty: no TOVAREK_PATH
    std::string md5;      // 32 hex digits; empty: no TOVAREK_MD5
    uint32_t pid = 0;     // 0: no TOVAREK_PID
    std::string message;  // UTF-8, as the log line says it
};

// "intercepted", "found", "deleted", "list-updated", "list-failed".
const char* JournalEventName(JournalEvent event);

// The syslog priority: 4 (warning) for interceptions, findings and failed list updates,
// 5 (notice) for deletions, 6 (info) for a list taken.
int JournalPriority(JournalEvent event);

// Sends one record. False when it was switched off (TOVAREK_JOURNAL=0) or the journal refused it;
// where none runs, libsystemd drops it and reports success.
bool SendJournalRecord(const JournalRecord& record);

}  // namespace tovarek
