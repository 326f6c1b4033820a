#include "scan/scan_stores.h"

namespace tovarek {

int32_t ScanRecordStore::Insert(ScanFileRecord record) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const int32_t sequence = ++m_nLastSequence;
    if (!m_bKeepRecords) {
        ++m_nCounted;
        return sequence;
    }
    m_mapRecords.emplace_hint(m_mapRecords.end(), sequence, std::move(record));
    return sequence;
}

bool ScanRecordStore::Find(int32_t sequence, ScanFileRecord& out) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_mapRecords.find(sequence);
    if (it == m_mapRecords.end()) return false;
    out = it->second;
    return true;
}

bool ScanRecordStore::Update(int32_t sequence, const std::function<void(ScanFileRecord&)>& change) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_mapRecords.find(sequence);
    if (it == m_mapRecords.end()) return false;
    change(it->second);
    return true;
}

size_t ScanRecordStore::Erase(int32_t sequence) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mapRecords.erase(sequence);
}

size_t ScanRecordStore::Size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bKeepRecords ? m_mapRecords.size() : m_nCounted;
}

void ScanRecordStore::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mapRecords.clear();
    m_nLastSequence = 0;
    m_nCounted = 0;
}

void ScanRecordStore::ForEach(const std::function<void(int32_t, const ScanFileRecord&)>& visit,
                              int32_t after) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_mapRecords.upper_bound(after); it != m_mapRecords.end(); ++it) {
        visit(it->first, it->second);
    }
}

}  // namespace tovarek
