// The list as a scan asks it: is this fingerprint listed, is this name listed. It holds the
// fingerprints and lower-cased names of the index's entries back to back in one block of text,
// so a scan that reads 100,000 rows pays one allocation instead of three for every row, and
// starts without waiting for the full index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/blacklist.h"

namespace tovarek {

class ScanList {
public:
    ScanList() = default;
    // Views point into the block, so a copy would view the original's.
    ScanList(const ScanList&) = delete;
    ScanList& operator=(const ScanList&) = delete;

    // The fingerprints and names of an index the caller holds.
    void Assign(const BlacklistMap& index);

    // One view per entry, in fingerprint order; names as the index keeps them (lower-cased by
    // the list reader; an index built by hand may hold other letter cases).
    const std::vector<std::u16string_view>& Fingerprints() const { return m_fingerprints; }
    const std::vector<std::u16string_view>& Names() const { return m_names; }
    size_t size() const { return m_fingerprints.size(); }
    bool empty() const { return m_fingerprints.empty(); }

private:
    friend int LoadScanListReadOnly(ScanList& out);
    struct Span {
        uint32_t offset;
        uint32_t length;
    };
    // Makes the views once the block holds every text.
    void Seal(const std::vector<Span>& fingerprints, const std::vector<Span>& names);

    std::u16string m_text;
    std::vector<std::u16string_view> m_fingerprints;
    std::vector<std::u16string_view> m_names;
};

// Reads blackmap of an existing Ravlin.db, opened read-only, into `out` by the index's rules
// (digest trimmed and lower-cased, a row whose digest is then not 32 hex digits left out, names
// trimmed and lower-cased, a later row replacing an earlier one with the same fingerprint), so a
// scan judges exactly as it would with the index. Returns 0, or the SQLite code of the failure
// (kDbNotOpen when the file can't be opened); `out` is then empty. An empty table is success.
int LoadScanListReadOnly(ScanList& out);

}  // namespace tovarek
