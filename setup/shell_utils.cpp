#include "shell_utils.hpp"

#include <cstdlib>

#include "interruption.hpp"

namespace setup {
namespace {

// Characters that no POSIX shell gives any meaning to in an argument word.
bool isPlainChar(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    switch (c) {
        case '-':
        case '_':
        case '.':
        case '/':
        case ',':
        case ':':
        case '+':
        case '@':
        case '%':
        case '=':
            return true;
        default:
            return false;
    }
}

bool isBlank(unsigned char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string singleQuoted(const std::string& s) {
    std::string out;
    out.reserve(s.size() + 2);
    out += '\'';
    for (char c : s) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    out += '\'';
    return out;
}

std::string quoteArgument(const std::string& s) {
    bool hasBlank = false;
    for (unsigned char c : s) {
        if (isPlainChar(c)) continue;
        if (!isBlank(c)) return singleQuoted(s);
        hasBlank = true;
    }
    if (!hasBlank) return s;
    return "\"" + s + "\"";
}

std::string shellWord(const std::string& s) {
    if (s.empty()) return "''";
    return quoteArgument(s);
}

std::string joinArguments(int argc, char** argv) {
    std::string out;
    for (int i = 1; i < argc; ++i) {
        out += shellWord(argv[i]);
        out += ' ';
    }
    return out;
}

int runShellCommand(const std::string& command, ShellChild child) {
    stopIfInterrupted();
    const int status = std::system(command.c_str());
    if (child == ShellChild::tool) noteInterruptedCommand(status);
    stopIfInterrupted();
    return status;
}

}  // namespace setup
