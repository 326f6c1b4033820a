#include "platform/program_folders.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/module_info.h"

namespace tovarek {
namespace {

constexpr const char* kInstalledDatabase = "../share/tovarek/Ravlin.db";
constexpr const char* kDatabaseName = "Ravlin.db";

std::string WithSlash(std::string path) {
    if (path.empty() || path.back() != '/') path.push_back('/');
    return path;
}

std::string HomeFolder() {
    const char* home = getenv("HOME");
    if (home && home[0] == '/') return home;
    // A session without HOME (a service, su without -l): the password database still knows.
    struct passwd pw;
    struct passwd* found = nullptr;
    char buf[4096];
    if (getpwuid_r(geteuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

bool CopyFile(const std::string& from, const std::string& to) {
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0) return false;
    struct stat st;
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(in);
        return false;
    }
    // Written under a name of its own and then linked in: two first starts at once never
    // leave a half-copied database under the real name, and an existing one is never replaced.
    unsigned long long tag = 0;
    if (getrandom(&tag, sizeof tag, 0) != static_cast<ssize_t>(sizeof tag)) tag = getpid();
    char suffix[32];
    snprintf(suffix, sizeof suffix, ".%016llx.tmp", tag);
    const std::string temp = to + suffix;
    int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (out < 0) {
        close(in);
        return false;
    }
    bool ok = true;
    char buf[65536];
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(out, buf + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    close(in);
    ok = close(out) == 0 && ok;
    // link() fails when the name exists: another copy won the race, and its file stands.
    ok = ok && (link(temp.c_str(), to.c_str()) == 0 || errno == EEXIST);
    unlink(temp.c_str());
    return ok;
}

}  // namespace

bool IsInstalledLayout(const std::string& moduleDir) {
    if (!moduleDir.ends_with("/bin/")) return false;
    struct stat st;
    return stat((moduleDir + kInstalledDatabase).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string XdgFolder(const char* variable, const char* underHome) {
    const char* value = getenv(variable);
    if (value && value[0] == '/') return WithSlash(value);
    std::string home = HomeFolder();
    if (home.empty()) return {};
    return WithSlash(home) + underHome;
}

std::string DataFolder() {
    if (!IsInstalledLayout(ModuleDir())) return {};
    std::string base = XdgFolder("XDG_DATA_HOME", ".local/share/");
    // Without any home the current directory is all that is left.
    return base.empty() ? std::string() : base + "tovarek/";
}

std::string DataFile(const char* name) {
    return DataFolder() + name;
}

std::string LogFolderOf(const std::string& moduleDir) {
    if (IsInstalledLayout(moduleDir)) {
        std::string base = XdgFolder("XDG_STATE_HOME", ".local/state/");
        if (!base.empty()) return base + "tovarek/log/";
    }
    return WithSlash(moduleDir) + "log/";
}

bool PrepareDataFolder() {
    const std::string folder = DataFolder();
    if (folder.empty()) return true;
    if (!MakeFolders(folder)) return false;
    const std::string db = folder + kDatabaseName;
    struct stat st;
    if (lstat(db.c_str(), &st) == 0) return true;
    return CopyFile(ModuleDir() + kInstalledDatabase, db);
}

bool MakeFolders(const std::string& path) {
    std::string whole = path;
    while (whole.size() > 1 && whole.back() == '/') whole.pop_back();
    for (size_t slash = whole.find('/', 1); slash != std::string::npos;
         slash = whole.find('/', slash + 1)) {
        mkdir(whole.substr(0, slash).c_str(), 0700);  // an existing one is fine
    }
    mkdir(whole.c_str(), 0700);
    struct stat st;
    return stat(whole.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace tovarek
