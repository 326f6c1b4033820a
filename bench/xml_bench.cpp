// xml-bench FILE: loads a daily list the way the import does (LoadFile to UTF-16, ParseText) and
// reads every File's save, md5 and size with the navigation calls. Prints the record count and
// the characters read so the work can't be skipped and the peers can be compared.
#include <stdio.h>

#include <string>

#include "xml/xml_doc.h"
#include "xml/xml_file.h"
#include "xml/xml_navigate.h"

using namespace tovarek;

namespace {

size_t ReadField(XmlDoc& doc, const char16_t* name) {
    if (!FindChild(doc, name) || !EnterElement(doc)) return 0;
    size_t n = ElementText(doc, doc.m_iPos).size();
    LeaveElement(doc);
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: xml-bench FILE\n");
        return 2;
    }
    XmlDoc doc;
    uint32_t options = 0;
    if (!LoadFile(doc.m_strText, argv[1], doc.m_strReport, options)) {
        fprintf(stderr, "xml-bench: cannot read %s\n", argv[1]);
        return 1;
    }
    if (!ParseText(doc)) {
        fprintf(stderr, "xml-bench: not well-formed\n");
        return 1;
    }
    size_t records = 0;
    size_t chars = 0;
    while (FindChild(doc, u"File")) {
        EnterElement(doc);
        chars += ReadField(doc, u"save");
        chars += ReadField(doc, u"md5");
        chars += ReadField(doc, u"size");
        LeaveElement(doc);
        ++records;
    }
    printf("%zu records, %zu characters\n", records, chars);
    return 0;
}
