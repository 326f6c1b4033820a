// Moving over a parsed XmlDoc and reading its text: the usual walk is FindChild (the next child
// of the current element), EnterElement (it becomes current), read, LeaveElement. Navigation
// changes only the document's positions; reading never changes anything.
#pragma once

#include <stdint.h>

#include <string>

#include "xml/xml_doc.h"

namespace tovarek {

// Name arguments are short paths ("File", "a/b", "a[2]", "/a", "//a", "a/@x"); null or empty
// matches any element. Only a relative path's first step name is matched; absolute, anywhere
// and malformed paths never match.

// Next element named `name` among the children of the parent position, behind the current one.
bool FindElement(XmlDoc& doc, const char16_t* name = nullptr);
// Next child named `name` of the current element, behind the child position. With no current
// element it first moves to the first element of the level (that move stays if the search fails).
bool FindChild(XmlDoc& doc, const char16_t* name = nullptr);
// The child position becomes the current element.
bool EnterElement(XmlDoc& doc);
// The parent becomes the current element again, the element left its child position.
bool LeaveElement(XmlDoc& doc);

// Text content of an element: references decoded, CDATA inner text kept, comments dropped.
// Empty for position 0, an empty-element or unended element, or one with child elements.
std::u16string ElementText(const XmlDoc& doc, uint32_t pos);
// Value of attribute `name` of the element at `pos` (decoded), empty when absent. A bare
// attribute without '=' reads as its own name. Needs the document's node type to be 1.
std::u16string AttributeValue(const XmlDoc& doc, uint32_t pos, const char16_t* name);

}  // namespace tovarek
