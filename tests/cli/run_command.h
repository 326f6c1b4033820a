// Runs a command line through the shell and captures its standard output and exit code.
#pragma once

#include <stdio.h>
#include <sys/wait.h>

#include <string>

namespace tovarek::test {

struct CommandResult {
    std::string out;
    int exitCode = -1;
};

inline CommandResult RunCommand(const std::string& command) {
    CommandResult r;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace tovarek::test
