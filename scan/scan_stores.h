// Records of the files a scan reached and of the dangerous ones it found, keyed by a sequence
// number that starts at 1. One thread inserts while another reads: every operation takes the
// store's own lock, so a reader always sees whole records.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "platform/file_id.h"
#include "scan/quarantine_result.h"

namespace tovarek {

struct ScanFileRecord {
    std::u16string fileName;  // name without directory
    std::u16string filePath;  // directory plus name
    // Of a finding: the file the scan judged, so that a later deletion can tell it from a file put
    // at the same path since. Unknown for the records of scanned files.
    FileId fileId;
    // Of a finding: an unmodified file of an installed package, left as it was.
    bool bSystemFile = false;
    // Of a finding: the list entry that matched (its fingerprint, or the listed name).
    std::u16string listedEntry;
    // Of a finding: what moving its file into quarantine did, when that was tried. A failure
    // means the file is still in place, and says why.
    QuarantineResult quarantine;
};

class ScanRecordStore {
public:
    // A store that keeps no records only numbers and counts them: the files a scan session
    // judged, whose count and order are all it shows, cost nothing per file.
    explicit ScanRecordStore(bool keepRecords = true) : m_bKeepRecords(keepRecords) {}
    bool KeepsRecords() const { return m_bKeepRecords; }
    ScanRecordStore(const ScanRecordStore&) = delete;
    ScanRecordStore& operator=(const ScanRecordStore&) = delete;

    // Stores the record under the next number (1 after Clear()) and returns that number. A number
    // is never given twice, whatever was erased meanwhile: findings may be deleted while a stopped
    // scan still stores its last one.
    int32_t Insert(ScanFileRecord record);
    // Copies the record of `sequence` into `out`; false when there is none.
    bool Find(int32_t sequence, ScanFileRecord& out) const;
    // Lets `change` alter the record of `sequence` under the lock; false when there is none.
    bool Update(int32_t sequence, const std::function<void(ScanFileRecord&)>& change);
    // Returns 1 when an entry was erased, else 0.
    size_t Erase(int32_t sequence);
    size_t Size() const;
    void Clear();
    // Calls `visit` for every entry numbered above `after`, in sequence order, under the lock:
    // `visit` must not call back into the store.
    void ForEach(const std::function<void(int32_t, const ScanFileRecord&)>& visit,
                 int32_t after = 0) const;

private:
    mutable std::mutex m_mutex;
    std::map<int32_t, ScanFileRecord> m_mapRecords;
    int32_t m_nLastSequence = 0;
    const bool m_bKeepRecords;
    size_t m_nCounted = 0;  // records numbered but not kept
};

}  // namespace tovarek
