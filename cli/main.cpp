// ravlin-cli: the headless companion of Tovarek over the same core.
#include <stdio.h>
#include <string.h>

#include "cli/commands.h"
#include "platform/program_folders.h"

namespace tovarek::cli {

namespace {

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {"md5", RunMd5},
    {"ps", RunPs},
    {"watch", RunWatch},
    {"scan", RunScan},
    {"import", RunImport},
    {"update", RunUpdate},
    {"xml-check", RunXmlCheck},
    {"quarantine", RunQuarantine},
};

const char kUsage[] =
    "usage: ravlin-cli COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  md5 FILE...              print the MD5 fingerprint of each file, as md5sum does\n"
    "  ps                       list the running processes (pid, parent, name, path) and the "
    "shell\n"
    "  watch --once             one protection pass; prints its history lines (exit 1 if any,\n"
    "                           2 if the list in ./Ravlin.db can't be read)\n"
    "  watch --passes N         N passes in one process, each timed on stderr\n"
    "  (scan and watch take --dpkg-root DIR first: dpkg's records under DIR, as dpkg --root)\n"
    "  scan [--delete] PATH...  scan directories with the list of ./Ravlin.db; one line per\n"
    "                           finding, then a summary (exit 1 if anything was found);\n"
    "                           unmodified files of installed packages are never touched;\n"
    "                           --delete moves found files into ./quarantine/\n"
    "  import [--unsigned] FILE import a daily list file into ./Ravlin.db; prints the rows added.\n"
    "                           FILE.minisig must sign it with a trusted key; --unsigned takes\n"
    "                           a list you vouch for, unchecked\n"
    "  update [URL]             one list download and import cycle into ./Ravlin.db; prints the\n"
    "                           outcome and the list date (exit 1 if nothing usable arrived)\n"
    "  xml-check FILE           parse an XML file; prints the report and \"well-formed\" or\n"
    "                           \"not well-formed\" (exit 1)\n"
    "  quarantine list          the files in ./quarantine/: id, time, size, matched entry, path\n"
    "  quarantine restore ID [--to PATH]\n"
    "                           put a file back (at PATH, or into PATH if it is a folder) with\n"
    "                           its mode and times; never over an existing file (exit 1)\n"
    "  quarantine purge ID...   delete files from the quarantine for good; also\n"
    "                           purge --older-than DAYS, purge --all\n"
    "\n"
    "./Ravlin.db and ./quarantine/ are those of a build run from its folder; the installed\n"
    "program keeps them in $XDG_DATA_HOME/tovarek/ (see ravlin-cli(1)).\n";

}  // namespace

int Usage(const char* problem) {
    if (problem) fprintf(stderr, "ravlin-cli: %s\n\n", problem);
    fputs(kUsage, stderr);
    return kExitUsage;
}

}  // namespace tovarek::cli

int main(int argc, char** argv) {
    using namespace tovarek::cli;
    if (argc < 2) return Usage(nullptr);
    if (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0) {
        fputs(kUsage, stdout);
        return 0;
    }
    for (const Command& c : kCommands) {
        if (strcmp(argv[1], c.name) != 0) continue;
        // The installed program's database lives in the user's data folder, copied there from
        // the installed one on first use.
        if (!tovarek::PrepareDataFolder()) {
            fprintf(stderr, "ravlin-cli: cannot prepare the data folder %s\n",
                    tovarek::DataFolder().c_str());
        }
        return c.run(argc - 2, argv + 2);
    }
    char problem[256];
    snprintf(problem, sizeof problem, "unknown command '%.200s'", argv[1]);
    return Usage(problem);
}
