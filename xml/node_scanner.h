// The node scanner: reads one node (tag, text, comment, ...) of an XML text at a time. Used by
// the parse, by element text access and by the file layer's encoding detection. Stateless apart
// from the NodeScanner it is handed.
#pragma once

#include <stdint.h>

#include <string>

namespace tovarek {

class XmlDoc;
struct ScannedNode;

// Node kinds.
constexpr int kNodeEndTag = 0;
constexpr int kNodeStartTag = 1;  // also an empty-element tag
constexpr int kNodeText = 2;
constexpr int kNodeWhiteSpace = 4;
constexpr int kNodeCdata = 8;
constexpr int kNodeProcessingInstruction = 16;
constexpr int kNodeComment = 32;
constexpr int kNodeDocType = 64;
constexpr int kNodeError = -1;  // skipped up to its '>'; node.strDiagnostic says why
constexpr int kNodeEnd = -2;    // nothing left

struct NodeScanner {
    const char16_t* pText = nullptr;
    int32_t nTextLength = 0;
    int32_t nOffset = 0;  // where the next node starts
    uint32_t nOptions = 0;
    XmlDoc* pDoc = nullptr;  // for the piecewise hook; may be null
    // Asked for more text at the end of pText (see MoreTextFn in xml/xml_doc.h); null: none.
    bool (*pfnMoreText)(NodeScanner& scanner, ScannedNode& node) = nullptr;
};

struct ScannedNode {
    int nKind = kNodeEnd;
    int32_t nStart = 0;
    int32_t nLength = 0;
    bool bEmptyElement = false;
    int32_t nNameStart = 0;  // tag name span (start, end and processing-instruction tags)
    int32_t nNameLength = 0;
    std::u16string strDiagnostic;  // report entries of a kNodeError node
};

// Reads the node at scanner.nOffset into `node` and moves nOffset past it. Returns node.nKind.
int ScanNode(NodeScanner& scanner, ScannedNode& node);

// For a MoreTextFn that dropped `units` from the front of the window.
void ShiftScannedNode(NodeScanner& scanner, ScannedNode& node, int32_t units);

}  // namespace tovarek
