// The subcommands of ravlin-cli. Each takes the arguments after its own name and returns the
// process exit code: 0 success, 1 a negative finding (unreadable file, something found), 2 error.
#pragma once

namespace tovarek::cli {

constexpr int kExitUsage = 2;

int RunMd5(int argc, char** argv);
int RunPs(int argc, char** argv);
int RunWatch(int argc, char** argv);
int RunScan(int argc, char** argv);
int RunImport(int argc, char** argv);
int RunUpdate(int argc, char** argv);
int RunXmlCheck(int argc, char** argv);
int RunQuarantine(int argc, char** argv);

// Prints the usage text to stderr and returns kExitUsage.
int Usage(const char* problem);

}  // namespace tovarek::cli
