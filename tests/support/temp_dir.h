// A folder of the test's own under /tmp, removed with everything in it when the object dies.
// Optionally the current directory moves into it for the object's life (Ravlin.db is opened by
// its bare name).
#pragma once

#include <string>

namespace tovarek::test {

class TempDir {
public:
    explicit TempDir(bool enter = false);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_strPath; }
    // path() + "/" + name
    std::string File(const std::string& name) const;

private:
    std::string m_strPath;
    std::string m_strOldCwd;
};

// Whole-file helpers for tests.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// The kinds of file a database path may turn out to be that no reader can take as a database.
inline constexpr const char* kUnreadableDatabaseKinds[] = {"fifo", "folder", "damaged"};
// Replaces whatever is at `path` with one of them; false when it could not be made.
bool MakeUnreadableDatabase(const std::string& path, const std::string& kind);

}  // namespace tovarek::test
