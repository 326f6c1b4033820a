// xml-pugi-bench FILE: the benchmark peer. pugixml loads the same list and reads the same
// values; the count printed is of UTF-8 bytes, so only the record count compares directly.
#include <stdio.h>
#include <string.h>

#include <pugixml.hpp>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: xml-pugi-bench FILE\n");
        return 2;
    }
    pugi::xml_document doc;
    if (!doc.load_file(argv[1])) {
        fprintf(stderr, "xml-pugi-bench: cannot load %s\n", argv[1]);
        return 1;
    }
    size_t records = 0;
    size_t bytes = 0;
    for (pugi::xml_node file : doc.document_element().children("File")) {
        bytes += strlen(file.child("save").child_value());
        bytes += strlen(file.child("md5").child_value());
        bytes += strlen(file.child("size").child_value());
        ++records;
    }
    printf("%zu records, %zu bytes\n", records, bytes);
    return 0;
}
