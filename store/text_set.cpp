#include "store/text_set.h"

#include <functional>

namespace tovarek {

void TextSet::Reserve(size_t count, size_t units) {
    m_block.reserve(units);
    m_ends.reserve(count);
}

void TextSet::Add(std::u16string_view text) {
    m_block.append(text);
    m_ends.push_back(static_cast<uint32_t>(m_block.size()));
}

void TextSet::Clear() {
    m_block.clear();
    m_ends.clear();
    m_slots.clear();
}

void TextSet::Seal() {
    size_t capacity = 16;
    while (capacity < 2 * m_ends.size()) capacity *= 2;
    m_slots.assign(capacity, 0);
    const size_t mask = capacity - 1;
    const std::hash<std::u16string_view> hasher;
    for (size_t n = 0; n < m_ends.size(); ++n) {
        const std::u16string_view text = At(n);
        for (size_t i = hasher(text) & mask;; i = (i + 1) & mask) {
            if (m_slots[i] == 0) {
                m_slots[i] = static_cast<uint32_t>(n + 1);
                break;
            }
            if (At(m_slots[i] - 1) == text) break;
        }
    }
}

bool TextSet::Contains(std::u16string_view text) const {
    if (m_slots.empty()) return false;
    const size_t mask = m_slots.size() - 1;
    for (size_t i = std::hash<std::u16string_view>()(text) & mask;; i = (i + 1) & mask) {
        if (m_slots[i] == 0) return false;
        if (At(m_slots[i] - 1) == text) return true;
    }
}

}  // namespace tovarek
