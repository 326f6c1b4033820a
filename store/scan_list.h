// The list index: is this fingerprint listed, is this name listed. One read-only copy serves
// the scans, the protection pass and the command-line tool, and it stays small because a list of
// a million records is held for the whole run: the fingerprints as 16-byte numbers in order
// (a table of where each run of leading bits starts narrows a lookup to a few of them), the
// lower-cased names back to back in one block with an open-addressing set over them: 29 to 37
// bytes per record beside the name's own units (about 60 in all for a name of 15 characters).
// Built once, then only read: any number of threads may ask it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "store/blacklist.h"
#include "store/text_set.h"

namespace tovarek {

class Database;

class ScanList {
public:
    ScanList() = default;
    // Large and shared: a copy would be an accident.
    ScanList(const ScanList&) = delete;
    ScanList& operator=(const ScanList&) = delete;

    // The entries of an index built by hand, by the rules of a load: a key that is not a digest
    // once trimmed and lower-cased is left out, names are lower-cased.
    void Assign(const BlacklistMap& index);

    // `digest`: 32 lower-case hex digits, as a fingerprint is written; anything else is not
    // listed.
    bool ContainsFingerprint(std::u16string_view digest) const;
    // `name`: lower-cased, as the list keeps its names.
    bool ContainsName(std::u16string_view name) const { return m_names.Contains(name); }

    size_t size() const { return m_digests.size(); }
    bool empty() const { return m_digests.empty(); }
    // The entries in fingerprint order, one per fingerprint.
    std::u16string Fingerprint(size_t index) const;
    std::u16string_view Name(size_t index) const { return m_names.At(index); }
    // Replaces `out` with the entries, for a user that must own its list.
    void CopyTo(BlacklistMap& out) const;
    size_t HeldBytes() const {
        return m_digests.capacity() * sizeof(Digest) + m_buckets.capacity() * sizeof(uint32_t) +
               m_names.HeldBytes();
    }

private:
    friend int ReadScanList(Database& db, ScanList& out, const std::function<bool()>& keepGoing);
    struct Digest {
        uint64_t high, low;
    };
    void Clear();
    // Makes the entries added so far searchable.
    void Seal();
    size_t BucketOf(uint64_t high) const {
        return m_nBucketBits == 0 ? 0 : static_cast<size_t>(high >> (64 - m_nBucketBits));
    }

    std::vector<Digest> m_digests;  // ascending, unique
    // Fingerprints are uniform, so their top m_nBucketBits bits split the sorted list into runs
    // of about four: run b starts at m_buckets[b] and ends where run b + 1 starts. A lookup is
    // then one table read and a few compares instead of 17 steps of binary search through a
    // list far larger than the cache (a list of forged, clustered digests only makes the runs
    // longer, and they are still searched in halves).
    std::vector<uint32_t> m_buckets;
    int m_nBucketBits = 0;
    TextSet m_names;  // entry i's name is text i
};

// Reads blackmap over an open connection into `out`: digest trimmed and lower-cased, a row whose
// digest is then not 32 hex digits left out, names trimmed and lower-cased, a later row replacing
// an earlier one with the same fingerprint. Returns 0, or the SQLite code of the failure (`out`
// is then empty). An empty table is success. `keepGoing` as QueryRows takes it: a read given up
// returns kDbGaveUp.
int ReadScanList(Database& db, ScanList& out, const std::function<bool()>& keepGoing = {});

// ReadScanList over the existing Ravlin.db opened read-only (kDbNotOpen when it can't be opened),
// for a one-shot user that must know whether it got a list (the command-line scan).
int LoadScanListReadOnly(ScanList& out);

}  // namespace tovarek
