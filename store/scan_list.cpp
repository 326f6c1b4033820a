#include "store/scan_list.h"

#include <algorithm>

#include "platform/lower_case.h"

namespace tovarek {
namespace {

// The value of 16 hex digits; false at any other unit (an upper-case digit included: a
// fingerprint is written in lower case, and the list never matched another spelling).
bool HexValue(std::u16string_view digits, uint64_t& value) {
    value = 0;
    for (char16_t c : digits) {
        uint64_t nibble;
        if (c >= u'0' && c <= u'9')
            nibble = static_cast<uint64_t>(c - u'0');
        else if (c >= u'a' && c <= u'f')
            nibble = static_cast<uint64_t>(c - u'a' + 10);
        else
            return false;
        value = value << 4 | nibble;
    }
    return true;
}

}  // namespace

void ScanList::Clear() {
    m_digests.clear();
    m_names.Clear();
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
        const std::u16string digest(text.begin(), text.end());
        Row row{{0, 0}, rows.size(), &entry.name};
        HexValue(std::u16string_view(digest).substr(0, 16), row.digest.high);
        HexValue(std::u16string_view(digest).substr(16), row.digest.low);
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
    m_names.Seal();
}

bool ScanList::ContainsFingerprint(std::u16string_view digest) const {
    Digest key;
    if (digest.size() != 32 || !HexValue(digest.substr(0, 16), key.high) ||
        !HexValue(digest.substr(16), key.low))
        return false;
    auto at = std::lower_bound(m_digests.begin(), m_digests.end(), key,
                               [](const Digest& a, const Digest& b) {
                                   return a.high != b.high ? a.high < b.high : a.low < b.low;
                               });
    return at != m_digests.end() && at->high == key.high && at->low == key.low;
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
