#include <stdio.h>

#include <string>

#include "cli/commands.h"
#include "platform/code_page.h"
#include "xml/xml_doc.h"
#include "xml/xml_file.h"

namespace tovarek::cli {

// Loads FILE in its own encoding, parses it and prints the report (file steps and diagnostics)
// and the verdict; a file that cannot be read is not well-formed.
int RunXmlCheck(int argc, char** argv) {
    if (argc != 1) return Usage("xml-check: expected one FILE");
    XmlDoc doc;
    uint32_t options = 0;
    bool loaded = LoadFile(doc.m_strText, argv[0], doc.m_strReport, options);
    bool wellFormed = false;
    if (loaded) {
        doc.m_nOptions = options & ~kFileModeMask;
        wellFormed = ParseText(doc);
    }
    if (!doc.m_strReport.empty()) printf("%s\n", Utf16ToUtf8(doc.m_strReport).c_str());
    if (!loaded) fprintf(stderr, "ravlin-cli: %s: cannot be read\n", argv[0]);
    puts(wellFormed ? "well-formed" : "not well-formed");
    return wellFormed ? 0 : 1;
}

}  // namespace tovarek::cli
