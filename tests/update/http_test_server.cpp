#include "tests/update/http_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tovarek::test {
namespace {

const char* ReasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 206:
            return "Partial Content";
        case 302:
            return "Found";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

bool SendAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

HttpTestServer::HttpTestServer() = default;

HttpTestServer::~HttpTestServer() {
    m_bStop.store(true);
    if (m_thread.joinable()) m_thread.join();
    for (int fd : m_silentFds) close(fd);
    if (m_nListenFd >= 0) close(m_nListenFd);
}

void HttpTestServer::Add(const std::string& path, const CannedResponse& response) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path].push_back(response);
}

bool HttpTestServer::Start() {
    // libcurl honours proxy variables; requests to this server must never leave the machine.
    setenv("no_proxy", "*", 1);
    setenv("NO_PROXY", "*", 1);
    m_nListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_nListenFd < 0) {
        m_strError = std::string("socket: ") + strerror(errno);
        return false;
    }
    sockaddr_in addr = Loopback(0);
    if (bind(m_nListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(m_nListenFd, 16) != 0) {
        m_strError = std::string("bind/listen on 127.0.0.1: ") + strerror(errno);
        return false;
    }
    socklen_t len = sizeof addr;
    getsockname(m_nListenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_nPort = ntohs(addr.sin_port);
    m_thread = std::thread([this] { Serve(); });
    return true;
}

std::string HttpTestServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_nPort) + path;
}

int HttpTestServer::Hits(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hits[path];
}

std::string HttpTestServer::LastRequestHead(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastHeads[path];
}

CannedResponse HttpTestServer::Next(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_hits[path];
    auto it = m_routes.find(path);
    if (it == m_routes.end() || it->second.empty()) {
        return CannedResponse{404, "text/html", "<html><body>no such list</body></html>", false};
    }
    CannedResponse r = it->second.front();
    if (it->second.size() > 1) it->second.pop_front();
    return r;
}

void HttpTestServer::Serve() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kLifetimeSeconds);
    while (!m_bStop.load() && std::chrono::steady_clock::now() < deadline) {
        pollfd p{m_nListenFd, POLLIN, 0};
        int ready = poll(&p, 1, 50);
        if (ready <= 0) continue;
        int fd = accept4(m_nListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) Handle(fd);
    }
}

void HttpTestServer::Handle(int fd) {
    // Read the request head, bounded in size and time.
    std::string head;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || m_bStop.load()) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buf[4096];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
    }
    std::string path;
    if (head.compare(0, 4, "GET ") == 0) {
        size_t end = head.find(' ', 4);
        if (end != std::string::npos) path = head.substr(4, end - 4);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lastHeads[path] = head;
    }
    CannedResponse r = Next(path);
    if (r.neverAnswer) {
        m_silentFds.push_back(fd);
        return;
    }
    std::string length;
    if (r.declaredLength >= 0 || !(r.endless || r.dripMs > 0)) {
        length = "Content-Length: " +
                 std::to_string(
                     r.declaredLength >= 0
                         ? r.declaredLength
                         : static_cast<long long>(r.body.size() + r.blankPadding + r.tail.size())) +
                 "\r\n";
    }
    std::string answer = "HTTP/1.0 " + std::to_string(r.status) + " " + ReasonPhrase(r.status) +
                         "\r\nContent-Type: " + r.contentType + "\r\n" + length + r.extraHeaders +
                         "Connection: close\r\n\r\n" + r.body;
    bool open = SendAll(fd, answer);
    if (r.blankPadding > 0 || !r.tail.empty()) {
        const std::string blanks(1 << 16, ' ');
        for (size_t left = r.blankPadding; open && left > 0 && !m_bStop.load();) {
            size_t n = left < blanks.size() ? left : blanks.size();
            open = SendAll(fd, n == blanks.size() ? blanks : blanks.substr(0, n));
            left -= n;
        }
        if (open) open = SendAll(fd, r.tail);
    }
    if (r.endless) {
        const std::string chunk(1 << 16, 'x');
        while (open && !m_bStop.load()) open = SendAll(fd, chunk);
    } else if (r.dripMs > 0) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (open && !m_bStop.load() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(r.dripMs));
            open = SendAll(fd, "x");
        }
    }
    close(fd);
}

int UnusedLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in addr = Loopback(0);
    int port = 0;
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    close(fd);
    return port;
}

}  // namespace tovarek::test
