#include "tests/support/list_signing.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <vector>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace tovarek::test {
namespace {

// Runs minisign with `args`, its output discarded; true when it exits 0.
bool RunMinisign(std::vector<std::string> args) {
    args.insert(args.begin(), "minisign");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, "minisign", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

std::string BuildListSecretKey() {
    return TOVAREK_LIST_SECRET_KEY;
}

std::string BuildListPublicKey() {
    return TOVAREK_BUILD_LIST_KEY;
}

bool BuildKeyTrusted() {
    return TOVAREK_BUILD_KEY_TRUSTED != 0;
}

std::string ListComment(uint64_t serial, int64_t expiresIn) {
    time_t at = time(nullptr) + expiresIn;
    struct tm tm;
    gmtime_r(&at, &tm);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return "tovarek-list serial=" + std::to_string(serial) + " expires=" + stamp;
}

bool SignListFile(const std::string& path, const std::string& comment, const std::string& secretKey,
                  bool legacy) {
    std::vector<std::string> args{"-S", "-s",   secretKey, "-m", path, "-x", path + ".minisig",
                                  "-t", comment};
    if (legacy) args.push_back("-l");
    return RunMinisign(args);
}

std::string SignListBytes(const std::string& bytes, const std::string& comment,
                          const std::string& secretKey, bool legacy) {
    TempDir dir;
    const std::string path = dir.File("list");
    WriteFile(path, bytes);
    if (!SignListFile(path, comment, secretKey, legacy)) return {};
    return ReadFile(path + ".minisig");
}

bool MakeListKeyPair(const std::string& dir, std::string& secretKey, std::string& publicKey) {
    secretKey = dir + "/minisign.key";
    const std::string pub = dir + "/minisign.pub";
    if (!RunMinisign({"-G", "-f", "-W", "-p", pub, "-s", secretKey})) return false;
    std::string text = ReadFile(pub);
    size_t start = text.find('\n');
    if (start == std::string::npos) return false;
    size_t end = text.find('\n', start + 1);
    publicKey = text.substr(start + 1, end == std::string::npos ? end : end - start - 1);
    return true;
}

}  // namespace tovarek::test
