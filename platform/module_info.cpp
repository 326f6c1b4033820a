#include "platform/module_info.h"

#include <limits.h>
#include <stdio.h>
#include <unistd.h>

#include <string_view>

#include "platform/env.h"

namespace tovarek {

std::string ModulePath() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof buf)) return {};
    std::string path(buf, static_cast<size_t>(n));
    // After an upgrade replaced the running file the kernel appends this; the path is the same.
    static constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.ends_with(kDeleted)) {
        path.resize(path.size() - kDeleted.size());
    }
    return path;
}

std::string ModuleDir() {
    return CurrentEnv().ModuleDir();
}

std::string Env::ModuleDir() const {
    std::string path = ModulePath();
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string VersionText() {
    char buf[64];
    snprintf(buf, sizeof buf, "%d.%d.%d.%d ", TOVAREK_VERSION_MAJOR, TOVAREK_VERSION_MINOR,
             TOVAREK_VERSION_PATCH, TOVAREK_VERSION_TWEAK);
    return buf;
}

}  // namespace tovarek
