#include "tests/support/temp_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

namespace tovarek::test {
namespace {

// Removes everything below the open folder `dirFd`, relative to it, so trees deeper than
// PATH_MAX and folders without write or search permission go as well.
void RemoveContents(int dirFd) {
    fchmod(dirFd, 0700);
    int listFd = dup(dirFd);
    DIR* dir = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0) close(listFd);
        return;
    }
    while (struct dirent* e = readdir(dir)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        if (unlinkat(dirFd, e->d_name, 0) == 0) continue;
        int child = openat(dirFd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0) continue;
        RemoveContents(child);
        close(child);
        unlinkat(dirFd, e->d_name, AT_REMOVEDIR);
    }
    closedir(dir);
}

}  // namespace

TempDir::TempDir(bool enter) {
    char pattern[] = "/tmp/tovarek-test-XXXXXX";
    char* dir = mkdtemp(pattern);
    if (!dir) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    m_strPath = dir;
    if (enter) {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) m_strOldCwd = cwd;
        if (chdir(m_strPath.c_str()) != 0) ADD_FAILURE() << "chdir failed";
    }
}

TempDir::~TempDir() {
    if (!m_strOldCwd.empty() && chdir(m_strOldCwd.c_str()) != 0) {
        ADD_FAILURE() << "chdir back failed";
    }
    if (m_strPath.empty()) return;
    int fd = open(m_strPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        RemoveContents(fd);
        close(fd);
    }
    if (rmdir(m_strPath.c_str()) != 0) ADD_FAILURE() << "could not remove " << m_strPath;
}

std::string TempDir::File(const std::string& name) const {
    return m_strPath + "/" + name;
}

bool MakeUnreadableDatabase(const std::string& path, const std::string& kind) {
    unlink(path.c_str());
    rmdir(path.c_str());
    if (kind == "fifo") return mkfifo(path.c_str(), 0600) == 0;
    if (kind == "folder") return mkdir(path.c_str(), 0700) == 0;
    WriteFile(path, std::string(4096, 'x'));
    return FileExists(path);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool FileExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace tovarek::test
