// A tiny HTTP/1.1 server on an ephemeral loopback port for download tests:
// one thread, one connection at a time, canned responses per request.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace setup_test {

struct CannedResponse {
    std::string bytes;   // the full response (status line, headers, body)
    bool stall = false;  // accept the request but never answer
};

class LoopbackServer {
public:
    // handler gets the request line (e.g. "HEAD /agent HTTP/1.1").
    explicit LoopbackServer(std::function<CannedResponse(const std::string&)> handler);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::string url(const std::string& path) const;
    int requestCount() const { return requests_.load(); }

private:
    void serve();
    void answer(int client);

    std::function<CannedResponse(const std::string&)> handler_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

// "HTTP/1.1 <status>" response with the extra header lines and body; the
// body length is announced even for HEAD (headerOnly leaves the body out).
std::string httpResponse(const std::string& status, const std::string& headers,
                         const std::string& body, bool headerOnly);

}  // namespace setup_test
