// Runs a command line through the shell and captures its standard output and exit code.
#pragma once

#include <stdio.h>
#include <sys/wait.h>

#include <filesystem>
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

// Copies the program into `dir` and returns the copy's path. The program writes its logs in
// "log/" beside itself, so a test that runs the copy keeps them inside its own folder.
inline std::string CopyProgramInto(const std::string& program, const std::string& dir) {
    std::string copy = dir + "/" + std::filesystem::path(program).filename().string();
    std::filesystem::copy_file(program, copy, std::filesystem::copy_options::overwrite_existing);
    return copy;
}

}  // namespace tovarek::test
