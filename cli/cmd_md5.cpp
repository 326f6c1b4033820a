#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "cli/commands.h"
#include "scan/file_fingerprint.h"

namespace tovarek::cli {
namespace {

// md5sum's output form: a name holding a backslash, a line feed or a carriage return is escaped
// and the line starts with a backslash.
void PrintLine(const char* digest, const char* path) {
    bool escape = strpbrk(path, "\\\n\r") != nullptr;
    std::string name;
    for (const char* p = path; *p; ++p) {
        if (*p == '\\')
            name += "\\\\";
        else if (*p == '\n')
            name += "\\n";
        else if (*p == '\r')
            name += "\\r";
        else
            name.push_back(*p);
    }
    printf("%s%s  %s\n", escape ? "\\" : "", digest, name.c_str());
}

}  // namespace

int RunMd5(int argc, char** argv) {
    if (argc < 1) return Usage("md5: missing FILE");
    int status = 0;
    for (int i = 0; i < argc; ++i) {
        char digest[33];
        if (ComputeFileMd5(argv[i], digest)) {
            PrintLine(digest, argv[i]);
        } else {
            fprintf(stderr, "ravlin-cli: %s: %s\n", argv[i], strerror(errno));
            status = 1;
        }
    }
    return status;
}

}  // namespace tovarek::cli
