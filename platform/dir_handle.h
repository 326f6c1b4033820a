// A directory as a tree walk holds it: by its own descriptor, or, deep in a tree, by the way down
// from the nearest ancestor that keeps one, so a deep tree can't use up the process's descriptors
// and every path handed to the kernel stays short. Names below it are reached relative to it, so
// a directory renamed or swapped for a link after it was entered never leads the walk elsewhere.
// Made and changed by the walking thread; other threads may look names up through a handle the
// walk keeps alive.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace tovarek {

class DirHandle {
public:
    DirHandle() = default;
    ~DirHandle();
    DirHandle(const DirHandle&) = delete;
    DirHandle& operator=(const DirHandle&) = delete;

    // Opens `path` (ending in '/') as the top of a walk. False when it can't be opened as a
    // directory or looked at.
    bool OpenRoot(std::string path);
    // Opens the directory `name` listed in `parent` (a link to one is followed) and takes
    // `path` as its own (ending in '/'). False when it can't be opened or looked at.
    bool OpenIn(const DirHandle& parent, const std::string& name, std::string path);
    // Records the way back down from `parent`, where this directory is listed as `name`, so it
    // can still be reached once it gives up its descriptor.
    void LinkBelow(const std::shared_ptr<DirHandle>& parent, const std::string& name);
    // Whether it can be reached without its own descriptor through a path below its anchor
    // shorter than `maxRelativeBytes`.
    bool MayGiveUpDescriptor(size_t maxRelativeBytes) const {
        return m_anchor && m_relative.size() < maxRelativeBytes;
    }
    // Closes its descriptor: it is reached through its anchor from now on.
    void GiveUpDescriptor();
    // Keeps its descriptor for good and forgets the way down.
    void KeepDescriptor();

    int fd() const { return m_fd; }  // -1 once given up
    dev_t dev() const { return m_dev; }
    ino_t ino() const { return m_ino; }
    const std::string& path() const { return m_path; }

    // The descriptor (or AT_FDCWD) and the name relative to it through which `name` in this
    // directory is reached.
    int Locate(const std::string& name, std::string& located) const {
        if (m_fd >= 0) {
            located = name;
            return m_fd;
        }
        if (m_anchor) {
            located = m_relative + name;
            return m_anchor->m_fd;
        }
        located = m_path + name;
        return AT_FDCWD;
    }
    // stat(2) of `name` in it, links followed.
    bool StatIn(const std::string& name, struct stat& st) const;

    // A descriptor of this very directory (by device and inode), or -1 when its name no longer
    // leads there: one given up is opened again level by level from its anchor, each level
    // checked against the directory that was entered, so a level swapped for a link meanwhile
    // leads nowhere. `owned`: the caller closes the result (CloseDescriptor).
    int OpenAgain(bool& owned) const;

private:
    int m_fd = -1;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    std::string m_path;
    // The nearest ancestor that holds its descriptor, and this directory's path below it
    // (ending in '/').
    std::shared_ptr<DirHandle> m_anchor;
    std::string m_relative;
    // The directory it was listed in and its name there, so the way down from the anchor can be
    // checked level by level.
    std::shared_ptr<DirHandle> m_parent;
    std::string m_name;
};

// One entry of a directory listing.
struct DirEntry {
    enum Type : unsigned char { kOther, kDirectory, kRegular, kLink, kUnknown };
    std::string name;
    Type type;
};

// Lists directories through one buffer of its own; one per walking thread.
class DirLister {
public:
    DirLister();
    // Every entry of `dir` but "." and "..", in the order the file system gives them. False
    // when nothing could be read.
    bool List(const DirHandle& dir, std::vector<DirEntry>& entries);

private:
    std::vector<char> m_buffer;
};

// stat(2) of `name` relative to `at` (a descriptor or AT_FDCWD, as Locate gives), links followed.
bool StatAt(int at, const std::string& name, struct stat& st);
// fstat(2).
bool StatDescriptor(int fd, struct stat& st);
// The f_type of statfs(2) of the file system `fd` lies on; false when it can't be asked.
bool FileSystemMagicOf(int fd, long& fsMagic);
void CloseDescriptor(int fd);

}  // namespace tovarek
