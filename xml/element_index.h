// The position index of a parsed document: one 32-byte ElementPos per element, in blocks of
// 65,536 records so that a record's number stays valid while the index grows. Owned by one
// XmlDoc; not safe for concurrent use.
#pragma once

#include <stdint.h>

namespace tovarek {

// nFlags bits. The low 16 bits hold the nesting level.
constexpr uint32_t kPosLevelMask = 0xFFFF;
constexpr uint32_t kPosFirstChild = 0x80000;
constexpr uint32_t kPosUnended = 0x100000;
constexpr uint32_t kPosDiagnostic = 0x200000;
constexpr uint32_t kPosDocDiagnostic = 0x800000;  // record 0 only

// nTagLengths: start tag in the low 22 bits, end tag in the high 10.
constexpr uint32_t kMaxStartTagLength = 0x3FFFFF;
constexpr uint32_t kMaxEndTagLength = 0x3FF;

struct ElementPos {
    int32_t nStart;   // offset of the start tag's '<'
    int32_t nLength;  // '<' of the start tag through '>' of the end tag
    uint32_t nTagLengths;
    uint32_t nFlags;
    uint32_t iParent;
    uint32_t iFirstChild;
    uint32_t iNext;
    uint32_t iPrev;  // for a first child: the last child of the same parent

    uint32_t StartTagLength() const { return nTagLengths & kMaxStartTagLength; }
    uint32_t EndTagLength() const { return nTagLengths >> 22; }
    void SetTagLengths(uint32_t startLength, uint32_t endLength) {
        nTagLengths = (startLength & kMaxStartTagLength) | (endLength << 22);
    }
    uint32_t Level() const { return nFlags & kPosLevelMask; }
};
static_assert(sizeof(ElementPos) == 32, "the index is laid out in 32-byte records");

class ElementIndex {
public:
    static constexpr uint32_t kBlockShift = 16;
    static constexpr uint32_t kBlockRecords = 1u << kBlockShift;

    ElementIndex() = default;
    ~ElementIndex();
    ElementIndex(const ElementIndex&) = delete;
    ElementIndex& operator=(const ElementIndex&) = delete;

    // Records 0 .. Capacity()-1 are addressable.
    uint32_t Capacity() const { return m_nCapacity; }

    // The caller keeps i below Capacity().
    ElementPos& operator[](uint32_t i) {
        return m_pBlocks[i >> kBlockShift][i & (kBlockRecords - 1)];
    }
    const ElementPos& operator[](uint32_t i) const {
        return m_pBlocks[i >> kBlockShift][i & (kBlockRecords - 1)];
    }

    // Grows to at least `records`, keeping every record where it is. Returns false, with the
    // index unchanged, when the memory can't be had. Never shrinks.
    bool Reserve(uint32_t records);

    // Frees every block; capacity becomes 0.
    void Release();

    // Tests: behave as if no memory were left beyond `records` (0 lifts the limit).
    void SetCapacityLimitForTest(uint32_t records) { m_nLimitForTest = records; }

private:
    ElementPos** m_pBlocks = nullptr;  // one address per block
    uint32_t m_nBlockSlots = 0;        // room in m_pBlocks
    uint32_t m_nCapacity = 0;
    uint32_t m_nLimitForTest = 0;
};

}  // namespace tovarek
