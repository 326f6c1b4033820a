#include "tests/support/temp_dir.h"

#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

namespace tovarek::test {
namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    // Make read-only folders removable again before walking out of them.
    chmod(path, 0700);
    return remove(path);
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
    // Grant write on every folder first so nftw's depth-first removal can unlink inside them.
    nftw(
        m_strPath.c_str(),
        [](const char* p, const struct stat* st, int type, struct FTW*) {
            if (type == FTW_D || type == FTW_DNR) chmod(p, 0700);
            (void)st;
            return 0;
        },
        16, FTW_PHYS);
    nftw(m_strPath.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::File(const std::string& name) const {
    return m_strPath + "/" + name;
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
