#include "xml/xml_doc.h"

#include <stdint.h>

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <vector>

#include "xml/name_match.h"
#include "xml/node_scanner.h"

namespace tovarek {
namespace {

constexpr size_t kReportCap = 1000;

// The open-element stack. Names live back to back in one buffer. Entries deeper than the few
// the linear search covers are also indexed under two keys: the hash of the whole name and the
// hash of its part before the first '=', '[' or ']'. An end tag without those characters can
// only match one of the two forms, so the lookup is exact; an end tag that holds one of them
// (it can match a longer prefix of a stored name) gets a bounded search among the open names
// that share its first part. Memory stays two keys per open element and each end tag costs time
// in proportion to its own length, however long or odd the open names are.
class OpenStack {
public:
    struct Entry {
        uint32_t iElement;
        uint32_t nNameOffset;
        uint32_t nNameLength;
    };
    // The keys of a hashed entry, kept apart so that a push stays small.
    struct HashKeys {
        uint64_t nWholeKey;
        uint64_t nFirstKey;
        // Chains of hashed entries with the same key, innermost first: depth + 1, 0 ends.
        uint32_t nBelowWhole;
        uint32_t nBelowFirst;
        bool bHasFirst;  // the name holds '=', '[' or ']', so its first part differs from it
    };

    explicit OpenStack(bool ignoreCase) : m_bIgnoreCase(ignoreCase) { m_entries.reserve(8); }

    size_t Depth() const { return m_entries.size(); }
    const Entry& At(size_t depth) const { return m_entries[depth]; }
    std::u16string_view Name(size_t depth) const {
        const Entry& e = m_entries[depth];
        return std::u16string_view(m_names).substr(e.nNameOffset, e.nNameLength);
    }

    void Push(uint32_t element, std::u16string_view name) {
        m_entries.push_back(
            {element, static_cast<uint32_t>(m_names.size()), static_cast<uint32_t>(name.size())});
        m_names.append(name);
    }

    void Pop() {
        size_t depth = m_entries.size() - 1;
        if (depth < m_nHashed) {
            // The innermost entry heads its chains.
            const HashKeys& e = m_keys[depth];
            Unlink(m_wholeTop, e.nWholeKey, e.nBelowWhole);
            if (e.bHasFirst) Unlink(m_firstTop, e.nFirstKey, e.nBelowFirst);
            m_nHashed = depth;
        }
        m_names.resize(m_entries.back().nNameOffset);
        m_entries.pop_back();
    }

    // Depth of the innermost open element an end tag named `name` closes, or -1.
    long long Match(std::u16string_view name) {
        constexpr size_t kLinear = 32;
        size_t depth = m_entries.size();
        if (depth - m_nHashed > kLinear) {
            for (size_t d = m_nHashed; d < depth; ++d) Link(d);
            m_nHashed = depth;
        }
        for (size_t d = depth; d > m_nHashed; --d) {
            if (Matches(Name(d - 1), name)) return static_cast<long long>(d - 1);
        }
        if (m_nHashed == 0) return -1;
        uint64_t whole = 0;
        uint64_t first = 0;
        bool odd = Keys(name, &whole, &first);
        long long best = Search(m_wholeTop, whole, name, &HashKeys::nBelowWhole);
        if (odd) {
            // Only a name that shares the end tag's first part can begin with the end tag.
            best = std::max(best, Search(m_firstTop, first, name, &HashKeys::nBelowFirst));
        } else {
            best = std::max(best, Search(m_firstTop, whole, name, &HashKeys::nBelowFirst));
        }
        return best;
    }

private:
    // Entries a chain walk looks at before it gives up: in a chain of an end tag without '=',
    // '[' or ']' every entry but a hash collision matches, so only odd end tags ever get near it.
    static constexpr int kChainSearch = 64;

    using TopMap = std::unordered_map<uint64_t, uint32_t>;

    // The stored name begins with the end tag's name and ends there or goes on with a blank,
    // '=', '/', '[' or ']'. Letter case is ignored under kXmlIgnoreCase until the first
    // character above 127, which the two names then share; after it the rest compares exactly.
    bool Matches(std::u16string_view stored, std::u16string_view name) const {
        return NameMatches(stored, name, m_bIgnoreCase);
    }

    // FNV-1a over the name as Matches compares it: *whole of the whole name, *first of its part
    // before the first character that can end a matched prefix. True when the two differ.
    bool Keys(std::u16string_view name, uint64_t* whole, uint64_t* first) const {
        uint64_t h = 1469598103934665603ull;
        bool exact = !m_bIgnoreCase;
        bool split = false;
        for (char16_t c : name) {
            if (!split && EndsPathName(c)) {
                *first = h;
                split = true;
            }
            if (c > 127) exact = true;
            h = (h ^ (exact ? c : FoldAscii(c))) * 1099511628211ull;
        }
        *whole = h;
        if (!split) *first = h;
        return split;
    }

    void Link(size_t depth) {
        if (m_keys.size() <= depth) m_keys.resize(depth + 1);
        HashKeys& e = m_keys[depth];
        e.bHasFirst = Keys(Name(depth), &e.nWholeKey, &e.nFirstKey);
        e.nBelowWhole = Relink(m_wholeTop, e.nWholeKey, depth);
        e.nBelowFirst = e.bHasFirst ? Relink(m_firstTop, e.nFirstKey, depth) : 0;
    }
    static uint32_t Relink(TopMap& top, uint64_t key, size_t depth) {
        uint32_t& head = top[key];
        uint32_t below = head;
        head = static_cast<uint32_t>(depth + 1);
        return below;
    }
    static void Unlink(TopMap& top, uint64_t key, uint32_t below) {
        auto it = top.find(key);
        if (below == 0) {
            top.erase(it);
        } else {
            it->second = below;
        }
    }

    long long Search(const TopMap& top, uint64_t key, std::u16string_view name,
                     uint32_t HashKeys::*below) const {
        auto it = top.find(key);
        if (it == top.end()) return -1;
        int looked = 0;
        for (uint32_t link = it->second; link != 0 && looked < kChainSearch; ++looked) {
            size_t d = link - 1;
            if (Matches(Name(d), name)) return static_cast<long long>(d);
            link = m_keys[d].*below;
        }
        return -1;
    }

    bool m_bIgnoreCase;
    std::vector<Entry> m_entries;
    std::vector<HashKeys> m_keys;  // by depth, for the entries below m_nHashed
    std::u16string m_names;
    TopMap m_wholeTop;     // whole-name key -> innermost hashed entry (depth + 1)
    TopMap m_firstTop;     // first-part key -> innermost hashed entry with a distinct first part
    size_t m_nHashed = 0;  // entries below this depth are in the chains
};

class Parser {
public:
    explicit Parser(XmlDoc& doc)
        : m_doc(doc), m_index(doc.m_index), m_stack((doc.m_nOptions & kXmlIgnoreCase) != 0) {}

    // Runs the node loop; false when index memory ran out or the nesting went too deep.
    // *first: first element created.
    bool Run(uint32_t* first);
    // Why a cap stopped the parse ("nesting_too_deep", "too_many_elements"), or null, and the
    // offset of the start tag that would have gone past it.
    const char16_t* StopReason() const { return m_pStopReason; }
    long long StopAt() const { return m_nStopAt; }

private:
    void Diagnose() {
        m_index[0].nFlags |= kPosDocDiagnostic;
        m_index[m_iParent].nFlags |= kPosDiagnostic;
    }
    void Report(std::u16string_view name, std::optional<std::u16string_view> value,
                long long offset, long long offset2) {
        AddReportEntry(m_doc.m_strReport, name, value, 0, offset, offset2);
    }
    bool StartTag(const ScannedNode& node, uint32_t* first);
    void EndTag(const ScannedNode& node);
    void CloseUnended(size_t downToDepth, long long offset2);

    XmlDoc& m_doc;
    ElementIndex& m_index;
    NodeScanner m_scanner;
    OpenStack m_stack;
    uint32_t m_iParent = 0;
    const char16_t* m_pStopReason = nullptr;
    long long m_nStopAt = -1;
};

bool Parser::Run(uint32_t* first) {
    m_scanner.pText = m_doc.m_strText.data();
    m_scanner.nTextLength = static_cast<int32_t>(m_doc.m_strText.size());
    m_scanner.nOffset = 0;
    m_scanner.nOptions = m_doc.m_nOptions;
    m_scanner.pDoc = &m_doc;
    if ((m_doc.m_nOptions & kXmlReadPiecewise) && m_doc.m_pFile) {
        m_scanner.pfnMoreText = m_doc.m_pfnMoreText;
    }
    ScannedNode node;
    for (;;) {
        switch (ScanNode(m_scanner, node)) {
            case kNodeStartTag:
                if (!StartTag(node, first)) return false;
                break;
            case kNodeEndTag:
                EndTag(node);
                break;
            case kNodeError:
                Diagnose();
                if (m_doc.m_strReport.size() < kReportCap) m_doc.m_strReport += node.strDiagnostic;
                break;
            case kNodeEnd:
                CloseUnended(0, m_scanner.nOffset);
                return true;
            default:  // text, white space, CDATA, comment, ... stay out of the index
                break;
        }
    }
}

bool Parser::StartTag(const ScannedNode& node, uint32_t* first) {
    if (static_cast<uint32_t>(node.nLength) > kMaxStartTagLength) {
        // Its length would not fit the record; reported rather than indexed wrongly.
        Diagnose();
        Report(u"start_tag_too_long", std::nullopt, node.nStart, -1);
        return true;
    }
    if (!node.bEmptyElement && m_stack.Depth() >= kMaxOpenElements) {
        m_pStopReason = u"nesting_too_deep";
        m_nStopAt = node.nStart;
        return false;
    }
    uint32_t count = m_doc.m_nElemCount;  // record 0 is the document's own
    if (count > kMaxElements) {
        m_pStopReason = u"too_many_elements";
        m_nStopAt = node.nStart;
        return false;
    }
    if (count == m_index.Capacity()) {
        uint64_t grown = uint64_t{count} + count / 2;
        if (grown > kMaxElements + 1) grown = kMaxElements + 1;
        if (grown == count || !m_index.Reserve(static_cast<uint32_t>(grown))) return false;
    }
    uint32_t idx = count;
    m_doc.m_nElemCount = count + 1;
    if (*first == 0) *first = idx;

    size_t level = m_stack.Depth() + (m_index[0].nFlags & kPosLevelMask);
    ElementPos& r = m_index[idx];
    r.nStart = node.nStart;
    r.nLength = node.nLength;
    r.SetTagLengths(static_cast<uint32_t>(node.nLength), 0);
    r.nFlags = static_cast<uint32_t>(level < kPosLevelMask ? level : kPosLevelMask);
    r.iParent = m_iParent;
    r.iFirstChild = 0;
    r.iNext = 0;
    ElementPos& parent = m_index[m_iParent];
    if (parent.iFirstChild == 0) {
        parent.iFirstChild = idx;
        r.iPrev = idx;
        r.nFlags |= kPosFirstChild;
    } else {
        ElementPos& firstChild = m_index[parent.iFirstChild];
        m_index[firstChild.iPrev].iNext = idx;
        r.iPrev = firstChild.iPrev;
        firstChild.iPrev = idx;
    }
    if (!node.bEmptyElement) {
        m_stack.Push(idx, std::u16string_view(m_scanner.pText + node.nNameStart,
                                              static_cast<size_t>(node.nNameLength)));
        m_iParent = idx;
    }
    return true;
}

void Parser::EndTag(const ScannedNode& node) {
    std::u16string_view name(m_scanner.pText + node.nNameStart,
                             static_cast<size_t>(node.nNameLength));
    long long depth = m_stack.Depth() ? m_stack.Match(name) : -1;
    if (depth < 0) {
        Diagnose();
        Report(u"lone_end_tag", name, node.nStart, -1);
        return;
    }
    CloseUnended(static_cast<size_t>(depth) + 1, node.nStart + 1);
    uint32_t idx = m_stack.At(static_cast<size_t>(depth)).iElement;
    ElementPos& r = m_index[idx];
    r.nLength = node.nStart + node.nLength - r.nStart;
    // An end tag longer than the 10-bit field saturates it; text access then finds the end tag
    // by scanning instead of trusting the length.
    uint32_t endLength = static_cast<uint32_t>(node.nLength);
    r.SetTagLengths(r.StartTagLength(),
                    endLength < kMaxEndTagLength ? endLength : kMaxEndTagLength);
    m_stack.Pop();
    m_iParent = r.iParent;
}

// Closes the open elements above `downToDepth` as unended, innermost first. Each one's children
// become its following siblings. The splice is O(1) per element; the lifted elements' iParent is
// set once at the end, when their final parent is known, so even a million unclosed levels
// stay linear.
void Parser::CloseUnended(size_t downToDepth, long long offset2) {
    if (m_stack.Depth() <= downToDepth) return;
    uint32_t outermost = 0;
    while (m_stack.Depth() > downToDepth) {
        size_t depth = m_stack.Depth() - 1;
        uint32_t idx = m_stack.At(depth).iElement;
        uint32_t parentIdx = depth > 0 ? m_stack.At(depth - 1).iElement : 0;
        ElementPos& r = m_index[idx];
        ElementPos& parent = m_index[parentIdx];
        m_index[0].nFlags |= kPosDocDiagnostic;
        r.nFlags |= kPosUnended;
        r.nLength = static_cast<int32_t>(r.StartTagLength());
        r.SetTagLengths(r.StartTagLength(), 0);
        if (r.nFlags & kPosDiagnostic) {
            r.nFlags &= ~kPosDiagnostic;
            parent.nFlags |= kPosDiagnostic;
        }
        if (r.iFirstChild) {
            // r is its parent's last child, so its children go right behind it.
            ElementPos& firstChild = m_index[r.iFirstChild];
            uint32_t lastChild = firstChild.iPrev;
            r.iNext = r.iFirstChild;
            firstChild.iPrev = idx;
            firstChild.nFlags &= ~kPosFirstChild;
            m_index[parent.iFirstChild].iPrev = lastChild;
            r.iFirstChild = 0;
        }
        Report(u"unended_start_tag", m_stack.Name(depth), r.nStart, offset2);
        outermost = idx;
        m_stack.Pop();
    }
    m_iParent = downToDepth > 0 ? m_stack.At(downToDepth - 1).iElement : 0;
    for (uint32_t i = m_index[outermost].iNext; i != 0; i = m_index[i].iNext) {
        m_index[i].iParent = m_iParent;
    }
}

void ResetPositions(XmlDoc& doc) {
    doc.m_iPosParent = 0;
    doc.m_iPos = 0;
    doc.m_iPosChild = 0;
    doc.m_nNodeType = 0;
}

}  // namespace

XmlDoc::XmlDoc() {
    SetDocumentText(*this);
}

bool ParseText(XmlDoc& doc) {
    ResetPositions(doc);
    size_t n = doc.m_strText.size();
    doc.m_nElemCount = 1;
    // Offsets are 32-bit signed; a longer text can't be indexed.
    bool tooLong = n > static_cast<size_t>(std::numeric_limits<int32_t>::max());
    uint64_t want = tooLong ? 8 : n / 64 + 8;
    bool ok = !tooLong && doc.m_index.Reserve(static_cast<uint32_t>(want));
    if (doc.m_index.Capacity() == 0 && !doc.m_index.Reserve(1)) {
        AddReportEntry(doc.m_strReport, u"out_of_memory", std::nullopt, 0);
        return false;
    }
    doc.m_index[0] = ElementPos{};
    const char16_t* stopReason = nullptr;
    long long stopAt = -1;
    if (ok && n > 0) {
        uint32_t first = 0;
        Parser parser(doc);
        ok = parser.Run(&first);
        stopReason = parser.StopReason();
        stopAt = parser.StopAt();
        if (ok) {
            // Piecewise reading appends to the text during the parse.
            doc.m_index[0].nLength = static_cast<int32_t>(doc.m_strText.size());
            if (first == 0) {
                AddReportEntry(doc.m_strReport, u"no_root_element", std::nullopt, 0);
            } else {
                doc.m_index[0].iFirstChild = first;
                if (doc.m_index[first].iNext) {
                    AddReportEntry(doc.m_strReport, u"root_has_sibling", std::nullopt, 0);
                }
            }
        }
    }
    if (!ok) {
        // Leave a document with no elements rather than a half-linked index.
        doc.m_nElemCount = 1;
        doc.m_index[0] = ElementPos{};
        doc.m_index[0].nFlags = kPosDocDiagnostic;
        if (stopReason) {
            AddReportEntry(doc.m_strReport, stopReason, std::nullopt, 0, stopAt);
        } else {
            AddReportEntry(doc.m_strReport, tooLong ? u"text_too_long" : u"out_of_memory",
                           std::nullopt, 0);
        }
    }
    ResetPositions(doc);
    return IsWellFormed(doc);
}

bool SetDocumentText(XmlDoc& doc, std::u16string_view text) {
    if (doc.m_nOptions & (kXmlReadPiecewise | kXmlWritePiecewise)) return false;
    doc.m_strText.assign(text);
    doc.m_strReport.clear();
    return ParseText(doc);
}

bool SetDocumentText(XmlDoc& doc) {
    if (doc.m_nOptions & (kXmlReadPiecewise | kXmlWritePiecewise)) return false;
    doc.m_strText.clear();
    doc.m_strText.shrink_to_fit();
    doc.m_index.Release();
    doc.m_strReport.clear();
    return ParseText(doc);
}

bool IsWellFormed(const XmlDoc& doc) {
    if (doc.m_nOptions & kXmlWritePiecewise) return true;
    if (doc.m_index.Capacity() == 0) return (doc.m_nOptions & kXmlReadPiecewise) != 0;
    const ElementPos& root = doc.m_index[0];
    if (doc.m_nOptions & kXmlReadPiecewise) return (root.nFlags & kPosDocDiagnostic) == 0;
    if (root.nFlags & kPosDocDiagnostic) return false;
    if (root.iFirstChild == 0) return false;
    return doc.m_index[root.iFirstChild].iNext == 0;
}

}  // namespace tovarek
