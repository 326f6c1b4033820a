#include "xml/node_scanner.h"

#include <array>
#include <bit>
#include <optional>

#include "xml/xml_doc.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tovarek {
namespace {

// Character classes of the ASCII range, one table look-up per character in the hot loops.
enum : uint8_t {
    kClassSpace = 1,     // blank, tab, line feed, carriage return
    kClassNameEnd = 2,   // ends a tag name: white space, '/', '>'
    kClassTextStop = 4,  // ends a text node: '<', '>'
};
constexpr auto kClasses = [] {
    std::array<uint8_t, 128> t{};
    for (char c : {' ', '\t', '\n', '\r'}) t[static_cast<size_t>(c)] = kClassSpace | kClassNameEnd;
    t['/'] |= kClassNameEnd;
    t['>'] |= kClassNameEnd | kClassTextStop;
    t['<'] |= kClassTextStop;
    return t;
}();
inline bool HasClass(char16_t c, uint8_t classes) {
    return c < 128 && (kClasses[c] & classes) != 0;
}
inline bool IsSpace(char16_t c) {
    return HasClass(c, kClassSpace);
}

// The first '<' or '>' at or after t[i], or n. Text runs (names, fingerprints) are most of a
// list, so eight units are compared at a time where the machine allows.
inline int32_t FindTextStop(const char16_t* t, int32_t i, int32_t n) {
#ifdef __SSE2__
    const __m128i lt = _mm_set1_epi16('<');
    const __m128i gt = _mm_set1_epi16('>');
    while (i + 8 <= n) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
        int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, lt), _mm_cmpeq_epi16(v, gt)));
        if (mask != 0) return i + std::countr_zero(static_cast<unsigned>(mask)) / 2;
        i += 8;
    }
#endif
    while (i < n && !HasClass(t[i], kClassTextStop)) ++i;
    return i;
}
inline bool EndsTagName(char16_t c) {
    return HasClass(c, kClassNameEnd);
}
inline bool StartsTagName(char16_t c) {
    return (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c > 0x60;
}

// Walks one node. `i` is the read position; every held offset lives in `node` or in `i` so that
// the piecewise hook can move the window underneath.
class Walker {
public:
    Walker(NodeScanner& s, ScannedNode& node) : m_s(s), m_node(node), m_i(s.nOffset) {}

    int Run();

private:
    // True when t[m_i] can be read, asking the hook for more text at the end of the window.
    bool Avail() {
        if (m_i < m_s.nTextLength) return true;
        if (!m_s.pfnMoreText) return false;
        int32_t oldStart = m_node.nStart;
        m_s.nOffset = m_i;
        if (!m_s.pfnMoreText(m_s, m_node)) return false;
        m_i -= oldStart - m_node.nStart;
        return m_i < m_s.nTextLength;
    }
    char16_t At(int32_t i) const { return m_s.pText[i]; }

    int Finish(int kind) {
        m_node.nKind = kind;
        m_node.nLength = m_i - m_node.nStart;
        m_s.nOffset = m_i;
        return kind;
    }
    // A syntax error at the character m_i: skip to the next '>' (taking it) or stop before '<'.
    int Error(const char16_t* entry) {
        AddReportEntry(m_node.strDiagnostic, entry, std::nullopt, 0, m_node.nStart);
        while (Avail()) {
            char16_t c = At(m_i);
            if (c == '<') break;
            ++m_i;
            if (c == '>') break;
        }
        return Finish(kNodeError);
    }
    int Unterminated(const char16_t* type) {
        AddReportEntry(m_node.strDiagnostic, u"unterminated_tag_syntax", type, kReportType,
                       m_node.nStart);
        return Finish(kNodeError);
    }
    // Runs to a '>' whose preceding characters are `close` (1 or 2 of them), none of which may
    // lie before `minClose` (the opener's own characters don't count). m_i is past the '>' then.
    bool SkipTo(const char16_t* close, int closeLength, int32_t minCloseOffsetFromStart) {
        while (Avail()) {
            if (At(m_i) == '>') {
                int32_t first = m_i - closeLength;
                bool ok = first >= m_node.nStart + minCloseOffsetFromStart;
                for (int k = 0; ok && k < closeLength; ++k) ok = At(first + k) == close[k];
                ++m_i;
                if (ok) return true;
            } else {
                ++m_i;
            }
        }
        return false;
    }

    int Text(bool whiteSoFar);
    int StartTag();
    int EndTag();
    int ProcessingInstruction();
    int Exclamation();
    int Section(char16_t second, const char16_t* close, int node, const char16_t* syntaxError,
                const char16_t* unterminated);
    int DocType();

    NodeScanner& m_s;
    ScannedNode& m_node;
    int32_t m_i;
};

int Walker::Run() {
    if (!Avail()) return Finish(kNodeEnd);
    char16_t c = At(m_i);
    if (c != '<') return Text(IsSpace(c));
    ++m_i;
    if (!Avail()) return Unterminated(u"tag");
    c = At(m_i);
    if (c == '/') return EndTag();
    if (c == '?') return ProcessingInstruction();
    if (c == '!') return Exclamation();
    if (StartsTagName(c)) return StartTag();
    return Error(u"first_tag_syntax");
}

int Walker::Text(bool whiteSoFar) {
    bool white = whiteSoFar;
    do {
        // Tight loops over the text in hand; the hook is asked only at its end.
        const char16_t* t = m_s.pText;
        const int32_t n = m_s.nTextLength;
        int32_t i = m_i;
        if (white) {
            while (i < n && IsSpace(t[i])) ++i;
            if (i < n && t[i] != '<') white = false;
        }
        if (!white) {
            i = FindTextStop(t, i, n);
        }
        if (i < n) {
            // A '<' ends the node before it; a '>' in text ends it just after.
            if (t[i] == '<') {
                m_i = i;
                return Finish(white ? kNodeWhiteSpace : kNodeText);
            }
            m_i = i + 1;
            return Finish(kNodeText);
        }
        m_i = i;
    } while (Avail());
    return Finish(white ? kNodeWhiteSpace : kNodeText);
}

int Walker::EndTag() {
    ++m_i;  // the '/'
    m_node.nNameStart = m_i;
    bool inName = true;
    do {
        const char16_t* t = m_s.pText;
        const int32_t n = m_s.nTextLength;
        int32_t i = m_i;
        if (inName) {
            while (i < n && !EndsTagName(t[i])) ++i;
            if (i < n) {
                m_node.nNameLength = i - m_node.nNameStart;
                inName = false;
            }
        }
        while (i < n && t[i] != '>') ++i;
        if (i < n) {
            m_i = i + 1;
            return Finish(kNodeEndTag);
        }
        m_i = i;
    } while (Avail());
    return Unterminated(u"end_tag");
}

int Walker::ProcessingInstruction() {
    ++m_i;  // the '?'
    m_node.nNameStart = m_i;
    while (Avail()) {
        char16_t c = At(m_i);
        if (EndsTagName(c) || c == '?') break;
        ++m_i;
    }
    m_node.nNameLength = m_i - m_node.nNameStart;
    if (SkipTo(u"?", 1, 2)) return Finish(kNodeProcessingInstruction);
    return Unterminated(u"processing_instruction");
}

int Walker::Exclamation() {
    ++m_i;  // the '!'
    if (!Avail()) return Unterminated(u"tag");
    char16_t c = At(m_i);
    if (c == '-') return Section('-', u"--", kNodeComment, u"comment_tag_syntax", u"comment");
    if (c == '[') {
        return Section('C', u"]]", kNodeCdata, u"cdata_section_syntax", u"cdata_section");
    }
    if (c == 'D') {
        ++m_i;
        return DocType();
    }
    return Error(u"exclamation_tag_syntax");
}

// "<!-" and "<![" : the opener's next character must be `second`; the node then runs to
// `close` followed by '>'.
int Walker::Section(char16_t second, const char16_t* close, int node, const char16_t* syntaxError,
                    const char16_t* unterminated) {
    ++m_i;
    if (!Avail()) return Unterminated(u"tag");
    if (At(m_i) != second) return Error(syntaxError);
    ++m_i;
    if (SkipTo(close, 2, 4)) return Finish(node);
    return Unterminated(unterminated);
}

// The body is skipped without regard to quotes; items nested in it (declarations, comments,
// processing instructions) end at their own terminators, quotes paired inside declarations.
int Walker::DocType() {
    while (Avail()) {
        char16_t c = At(m_i);
        if (c == '>') {
            ++m_i;
            return Finish(kNodeDocType);
        }
        ++m_i;
        if (c != '<') continue;
        int32_t itemStart = m_i - 1 - m_node.nStart;  // relative: the window may move
        if (!Avail()) break;
        c = At(m_i);
        if (c == '?') {
            ++m_i;
            // "?>" after the opener's "<?"
            bool closed = false;
            while (Avail()) {
                char16_t d = At(m_i);
                ++m_i;
                if (d == '>' && m_i - 2 >= m_node.nStart + itemStart + 2 && At(m_i - 2) == '?') {
                    closed = true;
                    break;
                }
            }
            if (!closed) break;
            continue;
        }
        if (c != '!') return Error(u"doctype_tag_syntax");
        ++m_i;
        if (!Avail()) break;
        c = At(m_i);
        if (c == '-') {
            ++m_i;
            if (!Avail()) break;
            if (At(m_i) != '-') return Error(u"doctype_tag_syntax");
            ++m_i;
            bool closed = false;
            while (Avail()) {
                char16_t d = At(m_i);
                ++m_i;
                if (d == '>' && m_i - 3 >= m_node.nStart + itemStart + 4 && At(m_i - 2) == '-' &&
                    At(m_i - 3) == '-') {
                    closed = true;
                    break;
                }
            }
            if (!closed) break;
            continue;
        }
        if (c != 'E' && c != 'A' && c != 'N') return Error(u"doctype_tag_syntax");
        char16_t quote = 0;
        bool closed = false;
        while (Avail()) {
            char16_t d = At(m_i);
            ++m_i;
            if (quote) {
                if (d == quote) quote = 0;
            } else if (d == '"' || d == '\'') {
                quote = d;
            } else if (d == '>') {
                closed = true;
                break;
            }
        }
        if (!closed) break;
    }
    return Unterminated(u"document_type");
}

int Walker::StartTag() {
    enum { kName, kInTag, kValueExpected, kQuoted, kUnquoted } state = kName;
    m_node.nNameStart = m_i;
    char16_t quote = 0;
    do {
        const char16_t* t = m_s.pText;
        const int32_t n = m_s.nTextLength;
        int32_t i = m_i;
        if (state == kName) {
            while (i < n && !EndsTagName(t[i])) ++i;
            if (i == n) {
                m_i = i;
                continue;
            }
            m_node.nNameLength = i - m_node.nNameStart;
            state = kInTag;
        }
        for (; i < n; ++i) {
            char16_t c = t[i];
            switch (state) {
                case kName:
                case kInTag:
                    if (c == '=') state = kValueExpected;
                    break;
                case kValueExpected:
                    if (c == '"' || c == '\'') {
                        quote = c;
                        state = kQuoted;
                    } else if (!IsSpace(c) && c != '>') {
                        state = kUnquoted;
                    }
                    break;
                case kQuoted:
                    if (c == quote) state = kInTag;
                    continue;  // a '>' inside quotes does not end the tag
                case kUnquoted:
                    if (IsSpace(c)) state = kInTag;
                    break;
            }
            if (c == '>') {
                // Empty only when the '/' follows the name, white space or a quote: in
                // <a x=y/> the slash belongs to the unquoted value.
                int32_t slash = i - 1;
                if (t[slash] == '/') {
                    char16_t before = t[slash - 1];
                    m_node.bEmptyElement = slash == m_node.nNameStart + m_node.nNameLength ||
                                           IsSpace(before) || before == '"' || before == '\'';
                }
                m_i = i + 1;
                return Finish(kNodeStartTag);
            }
        }
        m_i = i;
    } while (Avail());
    if (state == kName) m_node.nNameLength = m_i - m_node.nNameStart;
    return Unterminated(u"start_tag");
}

}  // namespace

int ScanNode(NodeScanner& scanner, ScannedNode& node) {
    node.nKind = kNodeEnd;
    node.nStart = scanner.nOffset;
    node.nLength = 0;
    node.bEmptyElement = false;
    node.nNameStart = scanner.nOffset;
    node.nNameLength = 0;
    node.strDiagnostic.clear();
    return Walker(scanner, node).Run();
}

void ShiftScannedNode(NodeScanner& scanner, ScannedNode& node, int32_t units) {
    scanner.nOffset -= units;
    node.nStart -= units;
    node.nNameStart -= units;
}

}  // namespace tovarek
