#include "scan/fingerprint_cache.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "scan/md5.h"

namespace tovarek {
namespace {

// The file: a 40-byte header (magic, version, entry size, entry count, then the MD5 of the
// header's first 24 bytes and of every entry), then the entries, least recently used first.
// Every number is little-endian.
constexpr unsigned char kMagic[8] = {'R', 'a', 'v', 'l', 'n', 'F', 'p', 'c'};
constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderBytes = 40;
constexpr size_t kChecksummedHeaderBytes = 24;
constexpr size_t kEntryBytes = 56;

void Put64(unsigned char* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint64_t Get64(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
void Put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t Get32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Fingerprint text (32 lower-case hex digits) to its 16 bytes; false for anything else.
bool ParseDigest(const char text[33], unsigned char digest[16]) {
    for (int i = 0; i < 16; ++i) {
        int hi = HexValue(text[2 * i]), lo = HexValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        digest[i] = static_cast<unsigned char>(hi << 4 | lo);
    }
    return true;
}

void DigestText(const unsigned char digest[16], char text[33]) {
    static const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = kHex[digest[i] >> 4];
        text[2 * i + 1] = kHex[digest[i] & 15];
    }
    text[32] = '\0';
}

void Checksum(const unsigned char* header, const unsigned char* entries, size_t entryBytes,
              unsigned char out[16]) {
    Md5Context ctx;
    Md5Init(ctx);
    Md5Update(ctx, header, kChecksummedHeaderBytes);
    Md5Update(ctx, entries, entryBytes);
    Md5Final(ctx, out);
}

bool ReadWhole(const std::string& path, size_t maxBytes, std::vector<unsigned char>& bytes) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
              static_cast<uint64_t>(st.st_size) <= maxBytes;
    if (ok) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < bytes.size()) {
            ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        ok = got == bytes.size();
    }
    close(fd);
    return ok;
}

bool WriteAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

FileIdentity IdentityOfStat(const struct stat& st) {
    FileIdentity id;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.inode = static_cast<uint64_t>(st.st_ino);
    id.sizeBytes = st.st_size;
    id.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    id.ctimeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return id;
}

int64_t RealTimeNs() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

FingerprintCache::FingerprintCache(size_t maxEntries, int64_t settleNs)
    : m_nMaxEntries(maxEntries < 1 ? 1 : (maxEntries >= kNone ? kNone - 1 : maxEntries)),
      m_nSettleNs(settleNs) {}

size_t FingerprintCache::HomeOf(uint64_t device, uint64_t inode) const {
    // The finaliser of splitmix64: neighbouring inodes land far apart.
    uint64_t x = inode ^ (device << 32 | device >> 32);
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    x ^= x >> 31;
    return static_cast<size_t>(x) & (m_table.size() - 1);
}

uint32_t FingerprintCache::FindLocked(uint64_t device, uint64_t inode) const {
    if (m_table.empty()) return kNone;
    const size_t mask = m_table.size() - 1;
    for (size_t i = HomeOf(device, inode);; i = (i + 1) & mask) {
        const uint32_t t = m_table[i];
        if (t == kNone) return kNone;
        if (m_entries[t].id.device == device && m_entries[t].id.inode == inode) return t;
    }
}

void FingerprintCache::PlaceLocked(uint32_t index) {
    const size_t mask = m_table.size() - 1;
    size_t i = HomeOf(m_entries[index].id.device, m_entries[index].id.inode);
    while (m_table[i] != kNone) i = (i + 1) & mask;
    m_table[i] = index;
}

// Linear probing without tombstones: each later entry of the run moves back into the hole unless
// its home lies between the hole and where it stands.
void FingerprintCache::RemoveFromTableLocked(uint32_t index) {
    const size_t mask = m_table.size() - 1;
    size_t hole = HomeOf(m_entries[index].id.device, m_entries[index].id.inode);
    while (m_table[hole] != index) hole = (hole + 1) & mask;
    for (size_t j = (hole + 1) & mask; m_table[j] != kNone; j = (j + 1) & mask) {
        const uint32_t t = m_table[j];
        const size_t home = HomeOf(m_entries[t].id.device, m_entries[t].id.inode);
        const bool staysBehind = hole < j ? (home > hole && home <= j) : (home > hole || home <= j);
        if (!staysBehind) {
            m_table[hole] = t;
            hole = j;
        }
    }
    m_table[hole] = kNone;
}

void FingerprintCache::GrowTableLocked() {
    m_table.assign(m_table.empty() ? 16 : 2 * m_table.size(), kNone);
    for (uint32_t i = 0; i < m_entries.size(); ++i) PlaceLocked(i);
}

void FingerprintCache::UnlinkLocked(uint32_t index) {
    Entry& e = m_entries[index];
    if (e.newer != kNone) {
        m_entries[e.newer].older = e.older;
    } else {
        m_head = e.older;
    }
    if (e.older != kNone) {
        m_entries[e.older].newer = e.newer;
    } else {
        m_tail = e.newer;
    }
}

void FingerprintCache::LinkAtHeadLocked(uint32_t index) {
    Entry& e = m_entries[index];
    e.newer = kNone;
    e.older = m_head;
    if (m_head != kNone) m_entries[m_head].newer = index;
    m_head = index;
    if (m_tail == kNone) m_tail = index;
}

void FingerprintCache::InsertLocked(const FileIdentity& id, const unsigned char digest[16]) {
    uint32_t index = FindLocked(id.device, id.inode);
    const bool inTable = index != kNone;
    if (inTable) {
        UnlinkLocked(index);
    } else if (m_entries.size() < m_nMaxEntries) {
        // At most half the table in use keeps the probe runs short.
        if (2 * (m_entries.size() + 1) > m_table.size()) GrowTableLocked();
        index = static_cast<uint32_t>(m_entries.size());
        m_entries.emplace_back();
    } else {
        index = m_tail;
        RemoveFromTableLocked(index);
        UnlinkLocked(index);
    }
    Entry& e = m_entries[index];
    e.id = id;
    memcpy(e.digest, digest, 16);
    if (!inTable) PlaceLocked(index);
    LinkAtHeadLocked(index);
}

void FingerprintCache::ClearLocked() {
    m_entries.clear();
    m_table.clear();
    m_head = m_tail = kNone;
}

bool FingerprintCache::Lookup(const FileIdentity& id, char digestText[33]) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint32_t index = FindLocked(id.device, id.inode);
    if (index == kNone || !(m_entries[index].id == id)) return false;
    if (m_head != index) {
        UnlinkLocked(index);
        LinkAtHeadLocked(index);
    }
    DigestText(m_entries[index].digest, digestText);
    ++m_nHits;
    return true;
}

void FingerprintCache::Insert(const FileIdentity& id, const char digestText[33], int64_t takenNs) {
    if (id.ctimeNs > takenNs - m_nSettleNs) return;
    unsigned char digest[16];
    if (!ParseDigest(digestText, digest)) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    InsertLocked(id, digest);
    ++m_nInserts;
    m_bChanged = true;
}

size_t FingerprintCache::Size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

uint64_t FingerprintCache::Hits() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nHits;
}

uint64_t FingerprintCache::Inserts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nInserts;
}

bool FingerprintCache::Load(const std::string& path) {
    std::vector<unsigned char> bytes;
    const bool read = ReadWhole(path, kHeaderBytes + m_nMaxEntries * kEntryBytes, bytes);
    bool good = read && bytes.size() >= kHeaderBytes && memcmp(bytes.data(), kMagic, 8) == 0 &&
                Get32(bytes.data() + 8) == kVersion && Get32(bytes.data() + 12) == kEntryBytes;
    uint64_t count = good ? Get64(bytes.data() + 16) : 0;
    good = good && count <= m_nMaxEntries && bytes.size() == kHeaderBytes + count * kEntryBytes;
    if (good) {
        unsigned char sum[16];
        Checksum(bytes.data(), bytes.data() + kHeaderBytes, count * kEntryBytes, sum);
        good = memcmp(sum, bytes.data() + kChecksummedHeaderBytes, 16) == 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    ClearLocked();
    // A damaged file is replaced at the next save even when nothing new was recorded.
    m_bChanged = read && !good;
    if (!good) return false;
    // Sized once: growing copied the entries and rehashed the table again and again.
    m_entries.reserve(count);
    size_t tableSize = 16;
    while (tableSize < 2 * count) tableSize *= 2;
    m_table.assign(tableSize, kNone);
    for (uint64_t i = 0; i < count; ++i) {
        const unsigned char* p = bytes.data() + kHeaderBytes + i * kEntryBytes;
        FileIdentity id;
        id.device = Get64(p);
        id.inode = Get64(p + 8);
        id.sizeBytes = static_cast<int64_t>(Get64(p + 16));
        id.mtimeNs = static_cast<int64_t>(Get64(p + 24));
        id.ctimeNs = static_cast<int64_t>(Get64(p + 32));
        InsertLocked(id, p + 40);
    }
    return true;
}

bool FingerprintCache::Save(const std::string& path) {
    std::vector<unsigned char> bytes;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bChanged) return true;
        bytes.resize(kHeaderBytes + m_entries.size() * kEntryBytes);
        unsigned char* p = bytes.data() + kHeaderBytes;
        for (uint32_t i = m_tail; i != kNone; i = m_entries[i].newer, p += kEntryBytes) {
            const Entry& e = m_entries[i];
            Put64(p, e.id.device);
            Put64(p + 8, e.id.inode);
            Put64(p + 16, static_cast<uint64_t>(e.id.sizeBytes));
            Put64(p + 24, static_cast<uint64_t>(e.id.mtimeNs));
            Put64(p + 32, static_cast<uint64_t>(e.id.ctimeNs));
            memcpy(p + 40, e.digest, 16);
        }
        m_bChanged = false;
    }
    const size_t count = (bytes.size() - kHeaderBytes) / kEntryBytes;
    memcpy(bytes.data(), kMagic, 8);
    Put32(bytes.data() + 8, kVersion);
    Put32(bytes.data() + 12, kEntryBytes);
    Put64(bytes.data() + 16, count);
    Checksum(bytes.data(), bytes.data() + kHeaderBytes, count * kEntryBytes,
             bytes.data() + kChecksummedHeaderBytes);

    std::string temp = path + ".XXXXXX";
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    bool ok = fd >= 0;
    if (ok) {
        ok = WriteAll(fd, bytes.data(), bytes.size());
        ok = close(fd) == 0 && ok;
        ok = ok && rename(temp.c_str(), path.c_str()) == 0;
        if (!ok) unlink(temp.c_str());
    }
    if (!ok) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bChanged = true;
    }
    return ok;
}

}  // namespace tovarek
