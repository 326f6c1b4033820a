#include "protect/large_exe_hasher.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "scan/md5.h"

namespace tovarek {
namespace {

// Enough files to cover every large program a desktop runs at once; more are asked again at a
// later pass. Results nobody took (the process ended) are dropped past the same number.
constexpr size_t kMaxQueued = 16;
constexpr size_t kMaxDone = 64;
constexpr size_t kChunkBytes = 1 << 20;

}  // namespace

LargeExeHasher::~LargeExeHasher() {
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    for (const Job& job : m_queue) close(job.fd);
}

uint64_t LargeExeHasher::filesRead() const {
    std::lock_guard lock(m_mutex);
    return m_nFilesRead;
}

bool LargeExeHasher::TakeOrQueue(const FileIdentity& id, int fd, int64_t takenNs,
                                 char digestText[33], int64_t* readNs) {
    const Key key{static_cast<dev_t>(id.device), static_cast<ino_t>(id.inode)};
    std::unique_lock lock(m_mutex);
    auto done = m_mapDone.find(key);
    if (done != m_mapDone.end() && done->second.id == id) {
        std::copy(done->second.digest, done->second.digest + 33, digestText);
        *readNs = done->second.takenNs;
        m_mapDone.erase(done);
        lock.unlock();
        close(fd);
        return true;
    }
    auto busy = m_mapBusy.find(key);
    // A file already on its way (in this form or an earlier one) is read again only once that
    // read has ended.
    if (busy != m_mapBusy.end() || m_queue.size() >= kMaxQueued || m_bStop) {
        lock.unlock();
        close(fd);
        return false;
    }
    m_mapBusy.emplace(key, id);
    m_queue.push_back({id, fd, takenNs});
    if (!m_thread.joinable()) m_thread = std::thread([this] { Run(); });
    lock.unlock();
    m_wake.notify_one();
    return false;
}

void LargeExeHasher::Run() {
    std::vector<unsigned char> buffer(kChunkBytes);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_bStop || !m_queue.empty(); });
        if (m_bStop) return;
        const Job job = m_queue.front();
        m_queue.pop_front();
        lock.unlock();
        Md5Context ctx;
        Md5Init(ctx);
        bool ok = true;
        for (;;) {
            // Read outside the lock; the end of the program stops the read between chunks.
            ssize_t n = read(job.fd, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = false;
            if (n <= 0) break;
            Md5Update(ctx, buffer.data(), static_cast<size_t>(n));
            std::lock_guard stop(m_mutex);
            if (m_bStop) {
                ok = false;
                break;
            }
        }
        close(job.fd);
        unsigned char digest[16];
        Md5Final(ctx, digest);
        lock.lock();
        const Key key{static_cast<dev_t>(job.id.device), static_cast<ino_t>(job.id.inode)};
        m_mapBusy.erase(key);
        if (!ok) continue;
        ++m_nFilesRead;
        if (m_mapDone.size() >= kMaxDone) m_mapDone.clear();
        Done& d = m_mapDone[key];
        d.id = job.id;
        d.takenNs = job.takenNs;
        static const char kHex[] = "0123456789abcdef";
        for (int i = 0; i < 16; ++i) {
            d.digest[2 * i] = kHex[digest[i] >> 4];
            d.digest[2 * i + 1] = kHex[digest[i] & 0xF];
        }
        d.digest[32] = 0;
    }
}

}  // namespace tovarek
