// A set of texts kept back to back in one block, filled once and then only read, as the list's
// names are: one allocation for the texts, one for their ends and one open-addressing table of
// 4-byte text numbers, so a million names cost about 10 bytes each beside their own units
// instead of a node, a string and a hash entry apiece. Any number of threads may read it once
// sealed; filling is for one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tovarek {

class TextSet {
public:
    void Reserve(size_t count, size_t units);
    // Appends a text, numbered from 0 in the order added; a text given twice is found once.
    void Add(std::u16string_view text);
    // Makes the texts added so far searchable; Contains sees nothing added after it.
    void Seal();
    void Clear();

    bool Contains(std::u16string_view text) const;
    std::u16string_view At(size_t index) const {
        const size_t start = index == 0 ? 0 : m_ends[index - 1];
        return std::u16string_view(m_block).substr(start, m_ends[index] - start);
    }
    size_t size() const { return m_ends.size(); }
    // Bytes held, for the memory figures of a large list.
    size_t HeldBytes() const {
        return m_block.capacity() * sizeof(char16_t) + m_ends.capacity() * sizeof(uint32_t) +
               m_slots.capacity() * sizeof(uint32_t);
    }

private:
    std::u16string m_block;
    std::vector<uint32_t> m_ends;  // where each text ends in m_block
    std::vector<uint32_t>
        m_slots;  // text number + 1, 0 for empty; a power of two, at most half full
};

}  // namespace tovarek
