#include "store/scan_list.h"

namespace tovarek {

void ScanList::Assign(const BlacklistMap& index) {
    std::vector<Span> fingerprints, names;
    fingerprints.reserve(index.size());
    names.reserve(index.size());
    m_text.clear();
    for (const auto& [md5, entry] : index) {
        fingerprints.push_back(
            {static_cast<uint32_t>(m_text.size()), static_cast<uint32_t>(md5.size())});
        m_text += md5;
        names.push_back(
            {static_cast<uint32_t>(m_text.size()), static_cast<uint32_t>(entry.name.size())});
        m_text += entry.name;
    }
    Seal(fingerprints, names);
}

void ScanList::Seal(const std::vector<Span>& fingerprints, const std::vector<Span>& names) {
    m_fingerprints.clear();
    m_names.clear();
    m_fingerprints.reserve(fingerprints.size());
    m_names.reserve(names.size());
    const std::u16string_view text = m_text;
    for (const Span& s : fingerprints) m_fingerprints.push_back(text.substr(s.offset, s.length));
    for (const Span& s : names) m_names.push_back(text.substr(s.offset, s.length));
}

}  // namespace tovarek
