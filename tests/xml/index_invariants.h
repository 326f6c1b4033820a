// Structural checks of a parsed document's index, shared by the parser tests and the fuzzer.
#pragma once

#include <string>

#include "xml/xml_doc.h"

namespace tovarek::test {

// Empty when the index is sound; otherwise what is wrong. Checks: one record per start tag in
// text order, the first-child/next walk from record 0 visits every record once in that order,
// spans inside the text, parent and sibling links (iPrev of a first child names the last child)
// consistent, the first-child flag on exactly the first children.
std::string CheckIndexInvariants(const XmlDoc& doc);

}  // namespace tovarek::test
