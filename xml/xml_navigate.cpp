#include "xml/xml_navigate.h"

#include <string_view>

#include "xml/name_match.h"
#include "xml/node_scanner.h"
#include "xml/xml_text.h"

namespace tovarek {

bool NameMatches(std::u16string_view pathName, std::u16string_view name, bool ignoreCase) {
    if (pathName.size() < name.size()) return false;
    if (pathName.size() > name.size() && !EndsPathName(pathName[name.size()])) return false;
    bool exact = !ignoreCase;
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t a = pathName[i];
        char16_t b = name[i];
        if (a == b) {
            if (a > 127) exact = true;
            continue;
        }
        if (exact || FoldAscii(a) != FoldAscii(b)) return false;
    }
    return true;
}

namespace {

enum class PathKind { kAny, kRelative, kAbsolute, kAnywhere, kInvalid };

inline bool IsSpace(char16_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
inline bool EndsElementName(char16_t c) {
    switch (c) {
        case ' ':
        case '\t':
        case '\n':
        case '\r':
        case '<':
        case '>':
        case '=':
        case '\\':
        case '/':
        case '?':
        case '!':
        case '"':
        case '\'':
        case ';':
            return true;
        default:
            return false;
    }
}

struct Path {
    PathKind kind;
    std::u16string_view name;  // from the first step's name to the end of the path
};

// One step at path[i]: a name and at most one predicate. Moves i past it; false when malformed.
bool ParseStep(std::u16string_view path, size_t& i) {
    size_t start = i;
    while (i < path.size() && !EndsPathName(path[i])) ++i;
    if (i == start) return false;
    if (i < path.size() && path[i] == '[') {
        ++i;
        if (i < path.size() && path[i] == '0') return false;  // numbers start at 1
        if (i < path.size() && path[i] >= '1' && path[i] <= '9') {
            while (i < path.size() && path[i] >= '0' && path[i] <= '9') ++i;
        } else {
            bool attribute = i < path.size() && path[i] == '@';
            if (attribute) ++i;
            size_t nameStart = i;
            while (i < path.size() && !EndsPathName(path[i])) ++i;
            if (i == nameStart) return false;
            if (attribute && i < path.size() && path[i] == '=') {
                ++i;
                if (i < path.size() && (path[i] == '\'' || path[i] == '"')) {
                    char16_t quote = path[i++];
                    while (i < path.size() && path[i] != quote) ++i;
                    if (i >= path.size()) return false;
                    ++i;
                } else {
                    while (i < path.size() && path[i] != ']') ++i;
                }
            }
        }
        if (i >= path.size() || path[i] != ']') return false;
        ++i;
    }
    return i == path.size() || path[i] == '/';
}

Path ClassifyPath(const char16_t* name) {
    if (!name || !*name) return {PathKind::kAny, {}};
    std::u16string_view path(name);
    PathKind kind = PathKind::kRelative;
    size_t i = 0;
    if (path.substr(0, 2) == u"//") {
        kind = PathKind::kAnywhere;
        i = 2;
    } else if (path[0] == '/') {
        kind = PathKind::kAbsolute;
        i = 1;
    }
    size_t first = i;
    int steps = 0;
    for (;;) {
        if (i < path.size() && path[i] == '@' && steps > 0) {
            // A final attribute step: "/@name".
            size_t nameStart = ++i;
            while (i < path.size() && !EndsPathName(path[i])) ++i;
            if (i == nameStart || i != path.size()) return {PathKind::kInvalid, {}};
            break;
        }
        if (!ParseStep(path, i)) return {PathKind::kInvalid, {}};
        ++steps;
        if (i == path.size()) break;
        ++i;                                                    // the '/'
        if (i == path.size()) return {PathKind::kInvalid, {}};  // trailing slash
    }
    if (kind == PathKind::kAnywhere && steps > 1) return {PathKind::kInvalid, {}};
    return {kind, path.substr(first)};
}

// The element name as written after '<' (leading white space skipped), at least one unit.
std::u16string_view ElementName(const XmlDoc& doc, uint32_t pos) {
    const ElementPos& r = doc.m_index[pos];
    std::u16string_view tag(doc.m_strText.data() + r.nStart + 1,
                            r.StartTagLength() > 0 ? r.StartTagLength() - 1 : 0);
    size_t i = 0;
    while (i < tag.size() && IsSpace(tag[i])) ++i;
    size_t start = i;
    if (i < tag.size()) ++i;
    while (i < tag.size() && !EndsElementName(tag[i])) ++i;
    return tag.substr(start, i - start);
}

bool ElementMatches(const XmlDoc& doc, uint32_t pos, const Path& path) {
    if (path.kind == PathKind::kAny) return true;
    if (path.kind != PathKind::kRelative) return false;
    return NameMatches(path.name, ElementName(doc, pos), (doc.m_nOptions & kXmlIgnoreCase) != 0);
}

bool ValidPosition(const XmlDoc& doc, uint32_t pos) {
    return pos < doc.m_nElemCount && pos < doc.m_index.Capacity();
}

// First match among `candidate` and its following siblings, 0 when none.
uint32_t FindSibling(const XmlDoc& doc, uint32_t candidate, const char16_t* name) {
    Path path = ClassifyPath(name);
    if (path.kind == PathKind::kInvalid || path.kind == PathKind::kAbsolute ||
        path.kind == PathKind::kAnywhere) {
        return 0;
    }
    for (; candidate != 0 && ValidPosition(doc, candidate);
         candidate = doc.m_index[candidate].iNext) {
        if (ElementMatches(doc, candidate, path)) return candidate;
    }
    return 0;
}

}  // namespace

bool FindElement(XmlDoc& doc, const char16_t* name) {
    if ((doc.m_nOptions & kXmlWritePiecewise) || doc.m_index.Capacity() == 0) return false;
    if (!ValidPosition(doc, doc.m_iPosParent) || !ValidPosition(doc, doc.m_iPos)) return false;
    uint32_t start =
        doc.m_iPos ? doc.m_index[doc.m_iPos].iNext : doc.m_index[doc.m_iPosParent].iFirstChild;
    uint32_t found = FindSibling(doc, start, name);
    if (!found) return false;
    doc.m_iPos = found;
    doc.m_iPosParent = doc.m_index[found].iParent;
    doc.m_iPosChild = 0;
    doc.m_nNodeType = 1;
    return true;
}

bool FindChild(XmlDoc& doc, const char16_t* name) {
    if (doc.m_nOptions & (kXmlReadPiecewise | kXmlWritePiecewise)) return false;
    if (doc.m_iPos == 0 && !FindElement(doc, nullptr)) return false;
    if (!ValidPosition(doc, doc.m_iPos) || !ValidPosition(doc, doc.m_iPosChild)) return false;
    uint32_t start =
        doc.m_iPosChild ? doc.m_index[doc.m_iPosChild].iNext : doc.m_index[doc.m_iPos].iFirstChild;
    uint32_t found = FindSibling(doc, start, name);
    if (!found) return false;
    doc.m_iPosChild = found;
    doc.m_iPosParent = doc.m_index[doc.m_iPos].iParent;
    doc.m_nNodeType = 1;
    return true;
}

bool EnterElement(XmlDoc& doc) {
    if (doc.m_iPos == 0 || doc.m_nNodeType != 1) return false;
    doc.m_iPosParent = doc.m_iPos;
    doc.m_iPos = doc.m_iPosChild;
    doc.m_iPosChild = 0;
    doc.m_nNodeType = doc.m_iPos ? 1 : 0;
    return true;
}

bool LeaveElement(XmlDoc& doc) {
    if (doc.m_iPosParent == 0 || !ValidPosition(doc, doc.m_iPosParent)) return false;
    doc.m_iPosChild = doc.m_iPos;
    doc.m_iPos = doc.m_iPosParent;
    doc.m_iPosParent = doc.m_index[doc.m_iPos].iParent;
    doc.m_nNodeType = 1;
    return true;
}

std::u16string ElementText(const XmlDoc& doc, uint32_t pos) {
    if (pos == 0 || !ValidPosition(doc, pos)) return {};
    const ElementPos& r = doc.m_index[pos];
    uint32_t startLength = r.StartTagLength();
    if (static_cast<uint32_t>(r.nLength) == startLength || r.iFirstChild != 0) return {};
    const char16_t* text = doc.m_strText.data();
    int32_t contentStart = r.nStart + static_cast<int32_t>(startLength);
    int32_t elementEnd = r.nStart + r.nLength;
    NodeScanner scanner;
    scanner.pText = text;
    scanner.nTextLength = elementEnd;
    scanner.nOffset = contentStart;
    scanner.nOptions = doc.m_nOptions;
    ScannedNode node;

    int32_t contentEnd = elementEnd - static_cast<int32_t>(r.EndTagLength());
    if (r.EndTagLength() >= kMaxEndTagLength) {
        // The stored length saturated: the end tag is the last node the parse read here.
        contentEnd = contentStart;
        while (ScanNode(scanner, node) != kNodeEnd) contentEnd = node.nStart;
        scanner.nOffset = contentStart;
    }
    if (contentEnd <= contentStart) return {};
    std::u16string_view content(text + contentStart,
                                static_cast<size_t>(contentEnd - contentStart));
    // One pass tells the common cases apart: plain text is copied as it stands, text with
    // references only is decoded, and markup inside is read node by node.
    bool markup = false;
    bool reference = false;
    for (char16_t c : content) {
        if (c == '<') {
            markup = true;
            break;
        }
        reference |= c == '&';
    }
    if (!markup) return reference ? DecodeEntities(content) : std::u16string(content);

    std::u16string out;
    scanner.nTextLength = contentEnd;
    for (;;) {
        int kind = ScanNode(scanner, node);
        if (kind == kNodeEnd) break;
        if (kind == kNodeText) {
            out += DecodeEntities(text + node.nStart, node.nLength);
        } else if (kind == kNodeCdata) {
            // "<![CDATA[" ... "]]>"; the scanner requires only "<![C", so clip to the span.
            int32_t innerStart = node.nStart + 9;
            int32_t innerEnd = node.nStart + node.nLength - 3;
            if (innerEnd > innerStart) out.append(text + innerStart, innerEnd - innerStart);
        }
    }
    return out;
}

std::u16string AttributeValue(const XmlDoc& doc, uint32_t pos, const char16_t* name) {
    if (pos == 0 || doc.m_nNodeType != 1 || !ValidPosition(doc, pos)) return {};
    const ElementPos& r = doc.m_index[pos];
    std::u16string_view tag(doc.m_strText.data() + r.nStart, r.StartTagLength());
    std::u16string_view wanted = name ? std::u16string_view(name) : std::u16string_view();
    bool ignoreCase = (doc.m_nOptions & kXmlIgnoreCase) != 0;

    // Tokens: quoted strings, '=', and words; the first word is the tag name.
    enum class Tok { kWord, kQuoted, kEquals, kEnd };
    size_t i = 1;
    bool afterEquals = false;
    auto next = [&](std::u16string_view& value) -> Tok {
        while (i < tag.size() && IsSpace(tag[i])) ++i;
        if (i >= tag.size()) return Tok::kEnd;
        char16_t c = tag[i];
        if (c == '"' || c == '\'') {
            size_t start = ++i;
            while (i < tag.size() && tag[i] != c) ++i;
            value = tag.substr(start, i - start);
            if (i < tag.size()) ++i;
            afterEquals = false;
            return Tok::kQuoted;
        }
        if (c == '=') {
            ++i;
            afterEquals = true;
            return Tok::kEquals;
        }
        if (c == '>' || (!afterEquals && (c == '/' || c == '?'))) return Tok::kEnd;
        size_t start = i;
        while (i < tag.size()) {
            char16_t d = tag[i];
            if (IsSpace(d) || d == '>') break;
            if (!afterEquals && (d == '=' || d == '/' || d == '?')) break;
            ++i;
        }
        afterEquals = false;
        value = tag.substr(start, i - start);
        return Tok::kWord;
    };

    std::u16string_view token;
    if (next(token) != Tok::kWord) return {};  // the tag name
    Tok t = next(token);
    while (t != Tok::kEnd) {
        if (t == Tok::kEquals) {  // a stray '=' and what follows it
            t = next(token);
            if (t != Tok::kEnd) t = next(token);
            continue;
        }
        std::u16string_view attr = token;
        std::u16string_view value = attr;  // a bare attribute reads as its own name
        t = next(token);
        if (t == Tok::kEquals) {
            t = next(token);
            if (t == Tok::kWord || t == Tok::kQuoted) {
                value = token;
                t = next(token);
            } else {
                value = {};
            }
        }
        if (NameMatches(wanted, attr, ignoreCase)) return DecodeEntities(value);
    }
    return {};
}

}  // namespace tovarek
