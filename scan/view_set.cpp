#include "scan/view_set.h"

#include <functional>

namespace tovarek {

void ViewSet::Build(const std::vector<std::u16string_view>& views) {
    size_t capacity = 16;
    while (capacity < 2 * views.size()) capacity *= 2;
    m_slots.assign(capacity, Slot());
    m_nCount = 0;
    const size_t mask = capacity - 1;
    for (std::u16string_view view : views) {
        const size_t hash = std::hash<std::u16string_view>()(view);
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = m_slots[i];
            if (slot.data == nullptr) {
                // An empty text still needs a non-null pointer to mark its slot as taken.
                slot = {view.empty() ? u"" : view.data(), view.size(), hash};
                ++m_nCount;
                break;
            }
            if (slot.hash == hash && std::u16string_view(slot.data, slot.length) == view) break;
        }
    }
}

bool ViewSet::Contains(std::u16string_view text) const {
    if (m_slots.empty()) return false;
    const size_t hash = std::hash<std::u16string_view>()(text);
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = m_slots[i];
        if (slot.data == nullptr) return false;
        if (slot.hash == hash && std::u16string_view(slot.data, slot.length) == text) return true;
    }
}

}  // namespace tovarek
