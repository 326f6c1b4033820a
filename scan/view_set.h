// A set of text views built once and then only read, as the scan's list indexes are: one array
// with open addressing, so 100,000 listed fingerprints cost one allocation instead of a node
// each (which, with its first touch of fresh memory, was most of the time a scan took to start).
// The texts viewed must outlive the set; any number of threads may read it once built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tovarek {

class ViewSet {
public:
    // Replaces the set's contents with `views`; a view given twice is kept once.
    void Build(const std::vector<std::u16string_view>& views);
    bool Contains(std::u16string_view text) const;
    size_t size() const { return m_nCount; }
    bool empty() const { return m_nCount == 0; }

private:
    struct Slot {
        const char16_t* data = nullptr;  // null: empty slot
        size_t length = 0;
        size_t hash = 0;
    };
    std::vector<Slot> m_slots;  // a power of two, at most half full
    size_t m_nCount = 0;
};

}  // namespace tovarek
