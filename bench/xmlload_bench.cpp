// Loads one XML file with LoadFile (the whole-file path: open, encoding, read, conversion to
// UTF-16) and prints the UTF-16 units it produced. With --out FILE it also writes those units as
// UTF-16LE, so a benchmark can check the result against another converter outside the timing.
#include <stdio.h>
#include <string.h>

#include <string>

#include "xml/xml_file.h"

int main(int argc, char** argv) {
    if (argc != 2 && !(argc == 4 && strcmp(argv[2], "--out") == 0)) {
        fprintf(stderr, "usage: xmlload-bench FILE [--out UTF16LE-FILE]\n");
        return 2;
    }
    std::u16string text, report;
    uint32_t options = 0;
    if (!tovarek::LoadFile(text, argv[1], report, options)) {
        fprintf(stderr, "xmlload-bench: LoadFile failed\n");
        return 1;
    }
    printf("%zu\n", text.size());
    if (argc == 4) {
        FILE* out = fopen(argv[3], "wb");
        if (!out || fwrite(text.data(), 2, text.size(), out) != text.size() || fclose(out) != 0) {
            fprintf(stderr, "xmlload-bench: cannot write %s\n", argv[3]);
            return 1;
        }
    }
    return 0;
}
