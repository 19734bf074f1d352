#include "scripted_server.hpp"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace setup_test {
namespace {

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string ruleJson(const Rule& rule) {
    std::ostringstream out;
    out << "{\"path\": " << jsonString(rule.path) << ", \"method\": " << jsonString(rule.method)
        << ", \"status\": " << rule.status << ", \"headers\": [";
    for (size_t i = 0; i < rule.headers.size(); ++i) {
        out << (i ? ", " : "") << "[" << jsonString(rule.headers[i].first) << ", "
            << jsonString(rule.headers[i].second) << "]";
    }
    out << "], \"body\": " << jsonString(rule.body);
    if (rule.bodyBytes >= 0) {
        out << ", \"body_bytes\": " << rule.bodyBytes
            << ", \"body_byte\": " << jsonString(std::string(1, rule.bodyByte));
    }
    if (rule.cutAt >= 0) out << ", \"cut_at\": " << rule.cutAt;
    if (rule.endless) out << ", \"endless\": true";
    if (!rule.stall.empty()) out << ", \"stall\": " << jsonString(rule.stall);
    if (rule.times >= 0) out << ", \"times\": " << rule.times;
    out << "}";
    return out.str();
}

}  // namespace

ScriptedServer::ScriptedServer(const std::vector<Rule>& rules) {
    std::string script = "{\"rules\": [";
    for (size_t i = 0; i < rules.size(); ++i) script += (i ? ", " : "") + ruleJson(rules[i]);
    writeFile(dir_ / "rules.json", script + "]}");
    const std::string rulesPath = dir_ / "rules.json";
    const std::string portPath = dir_ / "port";
    const std::string logPath = dir_ / "log";
    writeFile(logPath, "");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("cannot start the download server");
    if (pid_ == 0) {
        execl("/usr/bin/python3", "python3", AGENT_SERVER_PATH, "--script", rulesPath.c_str(),
              "--port-file", portPath.c_str(), "--log", logPath.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string port = readFile(portPath);
        if (!port.empty()) {
            port_ = std::stoi(port);
            return;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    throw std::runtime_error("the download server did not start");
}

ScriptedServer::~ScriptedServer() {
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
}

std::string ScriptedServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> ScriptedServer::requests() const {
    std::vector<std::string> lines;
    std::istringstream log(readFile(dir_ / "log"));
    std::string line;
    while (std::getline(log, line)) {
        // "METHOD PATH STATUS": drop the status.
        lines.push_back(line.substr(0, line.rfind(' ')));
    }
    return lines;
}

}  // namespace setup_test
