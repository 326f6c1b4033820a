// Parses arbitrary input and checks the index after every parse, then walks it with the
// navigation and text calls. A broken invariant aborts, which libFuzzer reports as a crash.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "tests/xml/index_invariants.h"
#include "xml/xml_doc.h"
#include "xml/xml_navigate.h"
#include "xml/xml_text.h"

namespace {

using namespace tovarek;

// Bytes below 0xF0 are one unit each (so markup stays dense); 0xFn with the next byte gives a
// unit anywhere in the 16-bit range, surrogates included.
std::u16string Units(const uint8_t* data, size_t size) {
    std::u16string text;
    text.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] >= 0xF0 && i + 1 < size) {
            text += static_cast<char16_t>(((data[i] & 0x0F) << 12) | (data[i + 1] << 4) | 0x5);
            ++i;
        } else {
            text += static_cast<char16_t>(data[i]);
        }
    }
    return text;
}

void Check(const XmlDoc& doc) {
    std::string problem = test::CheckIndexInvariants(doc);
    if (!problem.empty()) {
        fprintf(stderr, "index invariant broken: %s\n", problem.c_str());
        abort();
    }
}

// Walks the first top-level element's subtree with FindChild/EnterElement/LeaveElement,
// reading text and attributes on the way.
void Walk(XmlDoc& doc) {
    uint64_t guard = 0;
    int depth = 0;
    for (;;) {
        if (++guard > 4ull * doc.m_nElemCount + 16) abort();  // navigation must not loop
        if (FindChild(doc)) {
            uint32_t child = doc.m_iPosChild;
            ElementText(doc, child);
            AttributeValue(doc, child, u"a");
            if (!EnterElement(doc) || doc.m_iPos != child) abort();
            ++depth;
            continue;
        }
        if (depth == 0) break;
        if (!LeaveElement(doc)) abort();
        --depth;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    XmlDoc doc;
    doc.m_nOptions = (data[0] & 1) ? kXmlIgnoreCase : 0;
    std::u16string text = Units(data + 1, size - 1);
    SetDocumentText(doc, text);
    Check(doc);
    // Capped: the last entry starts below 1,000 (values are escaped, so '<' starts entries only).
    size_t lastEntry = doc.m_strReport.rfind(u'<');
    if (lastEntry != std::u16string::npos && lastEntry >= 1000) abort();
    Walk(doc);
    while (FindElement(doc)) ElementText(doc, doc.m_iPos);

    // Escaping and CDATA round trips over the same text.
    if (DecodeEntities(EscapeText(text, kEscapeAttribute)) != text) abort();
    XmlDoc cdata;
    if (!SetDocumentText(cdata, u"<e>" + MakeCdata(text) + u"</e>")) abort();
    if (ElementText(cdata, 1) != text) abort();
    return 0;
}
