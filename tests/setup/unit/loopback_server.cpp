#include "loopback_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace setup_test {
namespace {

// Waits up to 50 ms for fd to become readable; false on time-out.
bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 50) > 0;
}

void sendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

}  // namespace

LoopbackServer::LoopbackServer(std::function<CannedResponse(const std::string&)> handler)
    : handler_(std::move(handler)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listener_ < 0 ||
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen on the loopback interface");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

LoopbackServer::~LoopbackServer() {
    stop_ = true;
    thread_.join();
    close(listener_);
}

std::string LoopbackServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::serve() {
    while (!stop_) {
        if (!readable(listener_)) continue;
        int client = accept(listener_, nullptr, nullptr);
        if (client < 0) continue;
        answer(client);
        close(client);
    }
}

void LoopbackServer::answer(int client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && !stop_) {
        if (!readable(client)) continue;
        ssize_t n = recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        request.append(buffer, static_cast<size_t>(n));
    }
    if (stop_) return;
    ++requests_;
    CannedResponse response = handler_(request.substr(0, request.find("\r\n")));
    if (response.stall) {
        // Hold the connection open and silent until the client gives up.
        while (!stop_) {
            if (readable(client) && recv(client, buffer, sizeof buffer, 0) <= 0) return;
        }
        return;
    }
    sendAll(client, response.bytes);
}

std::string httpResponse(const std::string& status, const std::string& headers,
                         const std::string& body, bool headerOnly) {
    std::string out = "HTTP/1.1 " + status + "\r\n" + headers +
                      "Content-Length: " + std::to_string(body.size()) +
                      "\r\nConnection: close\r\n\r\n";
    if (!headerOnly) out += body;
    return out;
}

}  // namespace setup_test
