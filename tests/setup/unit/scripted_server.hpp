// The project's loopback download server (scripts/agent-server) run for a
// unit test: JSON rules say what each request gets; the log says what came.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "test_support.hpp"

namespace setup_test {

// One rule of the server's script; see rules_responder in agent_server.py.
// Fields left empty are not sent.
struct Rule {
    std::string path = "*";
    std::string method = "*";
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    long bodyBytes = -1;  // >= 0: this many copies of bodyByte instead of body
    char bodyByte = 'x';
    long cutAt = -1;  // >= 0: close after this many body bytes (full length announced)
    bool endless = false;
    std::string stall;  // "before-headers" or "after-headers"
    int times = -1;     // uses before the rule stops matching; -1: unlimited
};

// Owns the server process on an ephemeral 127.0.0.1 port; stopped when
// destroyed.
class ScriptedServer {
public:
    explicit ScriptedServer(const std::vector<Rule>& rules);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::string url(const std::string& path) const;
    // "METHOD PATH" of every request answered so far, in order.
    std::vector<std::string> requests() const;
    int requestCount() const { return static_cast<int>(requests().size()); }

private:
    TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace setup_test
