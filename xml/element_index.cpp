#include "xml/element_index.h"

#include <stdlib.h>
#include <string.h>

#include <new>

namespace tovarek {

ElementIndex::~ElementIndex() {
    Release();
}

void ElementIndex::Release() {
    uint32_t blocks = (m_nCapacity + kBlockRecords - 1) >> kBlockShift;
    for (uint32_t b = 0; b < blocks; ++b) delete[] m_pBlocks[b];
    free(m_pBlocks);
    m_pBlocks = nullptr;
    m_nBlockSlots = 0;
    m_nCapacity = 0;
}

bool ElementIndex::Reserve(uint32_t records) {
    if (records <= m_nCapacity) return true;
    if (m_nLimitForTest != 0 && records > m_nLimitForTest) return false;
    // Counted in 64 bits: up to 65,536 blocks of 65,536 records.
    uint64_t blocksNeeded = (uint64_t{records} + kBlockRecords - 1) >> kBlockShift;
    if (blocksNeeded > m_nBlockSlots) {
        uint64_t slots = m_nBlockSlots ? m_nBlockSlots : 4;
        while (slots < blocksNeeded) slots *= 2;
        void* grown = realloc(m_pBlocks, slots * sizeof(ElementPos*));
        if (!grown) return false;
        m_pBlocks = static_cast<ElementPos**>(grown);
        m_nBlockSlots = static_cast<uint32_t>(slots);
    }
    uint32_t oldBlocks = (m_nCapacity + kBlockRecords - 1) >> kBlockShift;
    uint32_t partial = m_nCapacity & (kBlockRecords - 1);
    uint32_t newBlocks = static_cast<uint32_t>(blocksNeeded);
    auto sizeOfBlock = [&](uint32_t b) {
        uint64_t left = uint64_t{records} - (uint64_t{b} << kBlockShift);
        return static_cast<uint32_t>(left < kBlockRecords ? left : kBlockRecords);
    };

    // Allocate everything first so a failure leaves the index as it was.
    ElementPos* resized = nullptr;
    if (partial != 0) {
        resized = new (std::nothrow) ElementPos[sizeOfBlock(oldBlocks - 1)];
        if (!resized) return false;
    }
    uint32_t made = oldBlocks;
    for (; made < newBlocks; ++made) {
        m_pBlocks[made] = new (std::nothrow) ElementPos[sizeOfBlock(made)];
        if (!m_pBlocks[made]) break;
    }
    if (made < newBlocks) {
        for (uint32_t b = oldBlocks; b < made; ++b) delete[] m_pBlocks[b];
        delete[] resized;
        return false;
    }
    if (resized) {
        memcpy(resized, m_pBlocks[oldBlocks - 1], partial * sizeof(ElementPos));
        delete[] m_pBlocks[oldBlocks - 1];
        m_pBlocks[oldBlocks - 1] = resized;
    }
    m_nCapacity = records;
    return true;
}

}  // namespace tovarek
