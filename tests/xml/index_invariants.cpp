#include "tests/xml/index_invariants.h"

#include <stdio.h>

#include <vector>

namespace tovarek::test {
namespace {

std::string Fail(const char* what, uint32_t i) {
    char buf[128];
    snprintf(buf, sizeof buf, "%s (record %u)", what, i);
    return buf;
}

}  // namespace

std::string CheckIndexInvariants(const XmlDoc& doc) {
    const ElementIndex& index = doc.m_index;
    uint32_t count = doc.m_nElemCount;
    if (count == 0 || count > index.Capacity()) return Fail("count outside capacity", count);
    const int64_t textLength = static_cast<int64_t>(doc.m_strText.size());
    const ElementPos& root = index[0];
    if (root.nStart != 0) return Fail("record 0 does not start at 0", 0);

    // Start tags come in text order and lie inside the text.
    for (uint32_t i = 1; i < count; ++i) {
        const ElementPos& r = index[i];
        if (r.nStart < 0 || r.nLength <= 0) return Fail("negative span", i);
        if (int64_t{r.nStart} + r.nLength > textLength) return Fail("span past the text", i);
        if (doc.m_strText[r.nStart] != u'<') return Fail("nStart is not at '<'", i);
        if (r.StartTagLength() == 0 || r.StartTagLength() > static_cast<uint32_t>(r.nLength))
            return Fail("start tag length outside the element", i);
        if (doc.m_strText[r.nStart + r.StartTagLength() - 1] != u'>')
            return Fail("start tag does not end in '>'", i);
        if (i > 1 && index[i - 1].nStart >= r.nStart) return Fail("records out of text order", i);
        bool unended = (r.nFlags & kPosUnended) != 0;
        if (unended && static_cast<uint32_t>(r.nLength) != r.StartTagLength())
            return Fail("unended element longer than its start tag", i);
        if (r.EndTagLength() && doc.m_strText[r.nStart + r.nLength - 1] != u'>')
            return Fail("end tag does not end in '>'", i);
    }

    // Depth-first walk by first child / next sibling, without recursion.
    std::vector<uint32_t> seen(count, 0);
    std::vector<uint32_t> pending;  // parents whose remaining siblings are still to visit
    uint32_t expected = 1;
    uint32_t cur = root.iFirstChild;
    uint32_t parent = 0;
    uint64_t steps = 0;
    while (cur != 0 || !pending.empty()) {
        if (cur == 0) {
            uint32_t up = pending.back();
            pending.pop_back();
            cur = index[up].iNext;
            parent = index[up].iParent;
            continue;
        }
        if (cur >= count) return Fail("link out of range", cur);
        if (++steps > count) return Fail("walk loops", cur);
        if (seen[cur]++) return Fail("record visited twice", cur);
        if (cur != expected) return Fail("walk is not in start-tag order", cur);
        ++expected;
        const ElementPos& r = index[cur];
        if (r.iParent != parent) return Fail("iParent disagrees with the walk", cur);
        const ElementPos& p = index[parent];
        bool isFirst = p.iFirstChild == cur;
        if (isFirst != ((r.nFlags & kPosFirstChild) != 0)) return Fail("first-child flag", cur);
        if (isFirst) {
            // iPrev names the last child: follow the siblings to check it.
            uint32_t last = cur;
            uint64_t guard = 0;
            while (index[last].iNext != 0 && index[last].iNext < count && ++guard <= count)
                last = index[last].iNext;
            if (r.iPrev != last) return Fail("first child's iPrev is not the last child", cur);
        } else if (r.iPrev == 0 || r.iPrev >= count || index[r.iPrev].iNext != cur) {
            return Fail("iPrev does not name the previous sibling", cur);
        }
        if (parent != 0) {
            const ElementPos& pr = index[parent];
            if (r.nStart < pr.nStart ||
                int64_t{r.nStart} + r.nLength > int64_t{pr.nStart} + pr.nLength)
                return Fail("child outside its parent", cur);
        }
        if (r.iFirstChild) {
            pending.push_back(cur);
            parent = cur;
            cur = r.iFirstChild;
        } else {
            cur = r.iNext;
        }
    }
    if (expected != count) return Fail("walk missed records", expected);
    return {};
}

}  // namespace tovarek::test
