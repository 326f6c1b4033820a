// XmlDoc: an XML document held as one UTF-16 string plus a position index (ElementIndex) with one
// record per element; text, attributes and comments are read back from the text on demand
// (xml/xml_navigate.h). The parser is tolerant: it goes on after errors and records each finding
// in the report. One document belongs to one thread at a time.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <string_view>

#include "xml/element_index.h"

namespace tovarek {

class XmlFile;
struct NodeScanner;
struct ScannedNode;

// Document options.
constexpr uint32_t kXmlIgnoreCase = 0x08;      // element names compare without ASCII case
constexpr uint32_t kXmlReadPiecewise = 0x10;   // parsed while its file is read piece by piece
constexpr uint32_t kXmlWritePiecewise = 0x20;  // written to its file piece by piece

// The one place where the scanner asks for more text: called when it reaches the end of the text
// it holds while reading a node. The hook appends the next piece to the window and points
// scanner.pText/nTextLength at it; false when nothing more is to be had. The parse records
// offsets into XmlDoc::m_strText, so under ParseText the hook must only append; a scanner used
// on its own may also drop a consumed front up to node.nStart and then ShiftScannedNode. An
// empty text is not scanned at all: load the first piece before ParseText.
using MoreTextFn = bool (*)(NodeScanner& scanner, ScannedNode& node);

class XmlDoc {
public:
    // Empty text and report, options 0, no file; the index holds record 0 with room for 8.
    XmlDoc();
    XmlDoc(const XmlDoc&) = delete;
    XmlDoc& operator=(const XmlDoc&) = delete;

    std::u16string m_strText;    // offsets everywhere count UTF-16 units from its start
    std::u16string m_strReport;  // empty XML elements; emptied by the caller, parses only append
    uint32_t m_iPosParent = 0;   // 0: the document itself
    uint32_t m_iPos = 0;         // current element, 0: none
    uint32_t m_iPosChild = 0;    // current child of the current element, 0: none
    uint32_t m_nElemCount = 0;   // records in use, record 0 included
    uint32_t m_nNodeType = 0;    // 1 when m_iPos is an element
    uint32_t m_nOptions = 0;
    XmlFile* m_pFile = nullptr;          // the open file of the piecewise modes, not owned
    MoreTextFn m_pfnMoreText = nullptr;  // set with m_pFile for piecewise reading
    ElementIndex m_index;
};

// Open elements a parse allows at once: far beyond any real document (a list is three deep), and
// it keeps hostile nesting from costing memory per level.
constexpr size_t kMaxOpenElements = 4096;
// Elements a parse indexes at most: ten times what a list under the download's body cap can hold
// (about two million), and it bounds the index (32 bytes an element) whatever the document.
constexpr uint32_t kMaxElements = 4u << 20;

// Parses m_strText: rebuilds the index, appends diagnostics to the report, resets the positions.
// Returns IsWellFormed. Never fails on content; when index memory runs out it stops, reports
// "out_of_memory" and returns false. A start tag that would open more than kMaxOpenElements
// stops it the same way, reported as "nesting_too_deep" with the tag's offset, and so does one
// element past kMaxElements ("too_many_elements"). A stopped parse leaves no elements.
bool ParseText(XmlDoc& doc);

// Replaces the text (or, with no text, empties it and frees the index), empties the report and
// parses. Refused (false, nothing changed) in the piecewise file modes.
bool SetDocumentText(XmlDoc& doc, std::u16string_view text);
bool SetDocumentText(XmlDoc& doc);

// Clean parse: no diagnostic and exactly one top-level element (relaxed in the piecewise modes).
bool IsWellFormed(const XmlDoc& doc);

// Report entry flags: which attribute carries `value` (default "tagname") ...
constexpr uint32_t kReportType = 0x02;
constexpr uint32_t kReportEncoding = 0x08;
constexpr uint32_t kReportMsg = 0x40;
// ... which carries `number` (default "offset", only when number is not -1) ...
constexpr uint32_t kReportN = 0x04;
constexpr uint32_t kReportCount = 0x01;
constexpr uint32_t kReportLength = 0x10;
// ... and: update the first existing entry of that name instead of appending one.
constexpr uint32_t kReportUpdate = 0x20;

// Appends (or with kReportUpdate updates) the entry `<name attr="..."/>`. Values are escaped as
// attribute text; a value longer than 1,000 characters is cut to its first 1,000. Does nothing
// once the report holds 1,000 characters. number2 >= 0 sets "offset2".
void AddReportEntry(std::u16string& report, std::u16string_view name,
                    std::optional<std::u16string_view> value, uint32_t flags, long long number = -1,
                    long long number2 = -1);

}  // namespace tovarek
