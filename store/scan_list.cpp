#include "store/scan_list.h"

#include <algorithm>

#include "platform/lower_case.h"
#include "platform/lower_hex.h"

namespace tovarek {
namespace {

// A run per four entries or so: a table of about one byte per entry.
int BucketBits(size_t entries) {
    int bits = 0;
    while (bits < 24 && (size_t{4} << (bits + 1)) <= entries) ++bits;
    return bits;
}

}  // namespace

void ScanList::Clear() {
    m_digests.clear();
    m_buckets.clear();
    m_nBucketBits = 0;
    m_names.Clear();
}

void ScanList::Seal() {
    m_names.Seal();
    m_nBucketBits = BucketBits(m_digests.size());
    const size_t buckets = size_t{1} << m_nBucketBits;
    m_buckets.assign(buckets + 1, 0);
    size_t at = 0;
    for (size_t b = 0; b < buckets; ++b) {
        m_buckets[b] = static_cast<uint32_t>(at);
        while (at < m_digests.size() && BucketOf(m_digests[at].high) == b) ++at;
    }
    m_buckets[buckets] = static_cast<uint32_t>(m_digests.size());
}

void ScanList::Assign(const BlacklistMap& index) {
    struct Row {
        Digest digest;
        size_t order;
        const std::u16string* name;
    };
    std::vector<Row> rows;
    rows.reserve(index.size());
    for (const auto& [md5, entry] : index) {
        if (!std::all_of(md5.begin(), md5.end(), [](char16_t c) { return c < 0x80; })) continue;
        std::string text(md5.begin(), md5.end());
        if (!NormalizeListDigest(text)) continue;
        Row row{{0, 0}, rows.size(), &entry.name};
        LowerHex64(text.data(), row.digest.high);
        LowerHex64(text.data() + 16, row.digest.low);
        rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        if (a.digest.high != b.digest.high) return a.digest.high < b.digest.high;
        if (a.digest.low != b.digest.low) return a.digest.low < b.digest.low;
        return a.order < b.order;
    });
    Clear();
    m_digests.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const Digest& d = rows[i].digest;
        const bool replaced = i + 1 < rows.size() && rows[i + 1].digest.high == d.high &&
                              rows[i + 1].digest.low == d.low;
        if (replaced) continue;
        m_digests.push_back(d);
        m_names.Add(LowerCase(*rows[i].name));
    }
    Seal();
}

bool ScanList::ContainsFingerprint(std::u16string_view digest) const {
    Digest key;
    if (digest.size() != 32 || !LowerHex64(digest.data(), key.high) ||
        !LowerHex64(digest.data() + 16, key.low) || m_digests.empty())
        return false;
    const size_t bucket = BucketOf(key.high);
    const auto end = m_digests.begin() + m_buckets[bucket + 1];
    auto at = std::lower_bound(m_digests.begin() + m_buckets[bucket], end, key,
                               [](const Digest& a, const Digest& b) {
                                   return a.high != b.high ? a.high < b.high : a.low < b.low;
                               });
    return at != end && at->high == key.high && at->low == key.low;
}

std::u16string ScanList::Fingerprint(size_t index) const {
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::u16string text(32, u'0');
    const Digest& d = m_digests[index];
    for (int i = 0; i < 16; ++i) {
        text[static_cast<size_t>(15 - i)] = kDigits[(d.high >> (4 * i)) & 15];
        text[static_cast<size_t>(31 - i)] = kDigits[(d.low >> (4 * i)) & 15];
    }
    return text;
}

void ScanList::CopyTo(BlacklistMap& out) const {
    out.clear();
    for (size_t i = 0; i < size(); ++i) out[Fingerprint(i)].name = Name(i);
}

}  // namespace tovarek
