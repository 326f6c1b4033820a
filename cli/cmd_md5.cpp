#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "cli/commands.h"
#include "platform/name_escape.h"
#include "scan/file_fingerprint.h"

namespace tovarek::cli {
namespace {

void PrintLine(const char* digest, const char* path) {
    printf("%s%s  %s\n", EscapedLineMark(path), digest, EscapeName(path).c_str());
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
