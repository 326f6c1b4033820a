// A small HTTP/1.0 server for the update tests: it listens on 127.0.0.1 on a port the kernel picks,
// answers GET requests from a table of canned responses, and stops when the object dies (or, at
// the latest, after kLifetimeSeconds on its own). One thread serves every connection in turn.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tovarek::test {

struct CannedResponse {
    int status = 200;
    std::string contentType = "text/xml";
    std::string body;
    bool neverAnswer = false;       // accept, read the request, then send nothing
    long long declaredLength = -1;  // Content-Length to claim; -1: the body's own
    std::string extraHeaders = "";  // more header lines, each ending in "\r\n"
    // Blanks sent after `body`, then `tail`, all counted in the Content-Length: a body near the
    // size cap without a string of that size in the test process.
    size_t blankPadding = 0;
    std::string tail = "";
    // Hostile bodies, sent after the head and `body` until the client gives up (or the server
    // stops): `endless` as fast as the socket takes it, else one byte every `dripMs` when set.
    bool endless = false;
    int dripMs = 0;
};

class HttpTestServer {
public:
    static constexpr int kLifetimeSeconds = 120;

    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    // Every GET of `path` gets `response`. Several calls for one path queue responses that are
    // served one per request in order; the last one then stays. Unknown paths get a 404.
    void Add(const std::string& path, const CannedResponse& response);

    // Binds and starts serving; false (with the reason in error()) when that is refused.
    bool Start();
    int port() const { return m_nPort; }
    std::string Url(const std::string& path) const;
    const std::string& error() const { return m_strError; }
    // Requests received so far for `path`.
    int Hits(const std::string& path);
    // The head (request line and header lines) of the last request for `path`.
    std::string LastRequestHead(const std::string& path);

private:
    void Serve();
    void Handle(int fd);
    CannedResponse Next(const std::string& path);

    int m_nListenFd = -1;
    int m_nPort = 0;
    std::string m_strError;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::map<std::string, std::deque<CannedResponse>> m_routes;
    std::map<std::string, int> m_hits;
    std::map<std::string, std::string> m_lastHeads;
    std::vector<int> m_silentFds;  // connections that are never answered, closed at the end
};

// A loopback port on which nothing listens (bound, then released).
int UnusedLoopbackPort();

}  // namespace tovarek::test
