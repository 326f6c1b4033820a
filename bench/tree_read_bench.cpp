// tree-read-bench DIR [THREADS]: the floor of a scan of DIR, every regular file read whole
// through the page cache and nothing hashed, THREADS readers (default 2) taking files in turn,
// each through one page-aligned 64 KiB buffer as the scan's readers do. Prints the seconds the
// reads took (the listing before them not counted) and the bytes read.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr size_t kBufferBytes = 64 * 1024;

uint64_t ReadAll(const std::vector<std::string>& files, std::atomic<size_t>& next) {
    void* memory = std::aligned_alloc(4096, kBufferBytes);
    if (!memory) return 0;
    char* buffer = static_cast<char*>(memory);
    uint64_t bytes = 0;
    for (size_t i; (i = next.fetch_add(1)) < files.size();) {
        const int fd = open(files[i].c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        for (ssize_t n; (n = read(fd, buffer, kBufferBytes)) > 0;)
            bytes += static_cast<uint64_t>(n);
        close(fd);
    }
    std::free(memory);
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: tree-read-bench DIR [THREADS]\n");
        return 2;
    }
    const int threads = argc > 2 ? std::max(1, atoi(argv[2])) : 2;
    std::vector<std::string> files;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(argv[1], error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file(error) && !it->is_symlink(error)) files.push_back(it->path());
    }
    if (error) {
        fprintf(stderr, "tree-read-bench: %s: %s\n", argv[1], error.message().c_str());
        return 2;
    }
    std::atomic<size_t> next{0};
    std::vector<uint64_t> bytes(static_cast<size_t>(threads));
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> readers;
    for (int t = 0; t < threads; ++t) {
        readers.emplace_back([&, t] { bytes[static_cast<size_t>(t)] = ReadAll(files, next); });
    }
    for (std::thread& reader : readers) reader.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    uint64_t total = 0;
    for (uint64_t b : bytes) total += b;
    printf("%.4f s %llu bytes %zu files\n", seconds, static_cast<unsigned long long>(total),
           files.size());
    return 0;
}
