// Fuzzing of the installer's shell quoting: for any bytes without NUL, the
// quoted word must come back from the shell as exactly those bytes, and a
// joined argument list as exactly those arguments. The shell's reading is
// taken from an independent model here; the real /bin/sh is checked on
// batches of these inputs by shell_roundtrip_check.
#include "fuzz_check.hpp"
#include "sh_word_model.hpp"

#include "shell_utils.hpp"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

bool onlyPlainOrBlank(const std::string& s, bool& hasBlank) {
    const std::string plain = "-_./,:+@%=";
    hasBlank = false;
    for (unsigned char c : s) {
        if (std::isalnum(c) != 0 && c < 0x80) {
            continue;
        }
        if (c == ' ' || c == '\t') {
            hasBlank = true;
            continue;
        }
        if (plain.find(static_cast<char>(c)) == std::string::npos) {
            return false;
        }
    }
    return true;
}

std::string shown(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        char hex[8];
        std::snprintf(hex, sizeof hex, c >= 0x20 && c < 0x7f && c != '\\' ? "%c" : "\\x%02x", c);
        out += hex;
    }
    return out;
}

void checkWord(const std::string& s) {
    const std::string quoted = setup::quoteArgument(s);
    const auto fields = fuzz::shellFields(quoted);
    if (!fields) {
        fuzz::fail("quoteArgument(" + shown(s) + ") = " + shown(quoted) +
                   " is not a safe shell word");
    }
    // The empty string stays empty (no word at all), everything else is one word.
    const std::vector<std::string> expected =
        s.empty() ? std::vector<std::string>{} : std::vector<std::string>{s};
    if (*fields != expected) {
        fuzz::fail("quoteArgument(" + shown(s) + ") = " + shown(quoted) +
                   " does not read back as the same bytes");
    }

    const auto word = fuzz::shellFields(setup::shellWord(s));
    if (!word || *word != std::vector<std::string>{s}) {
        fuzz::fail("shellWord(" + shown(s) + ") does not read back as one word");
    }

    // The historic spellings stay: plain words as they are, words whose only
    // special characters are blanks or tabs in double quotes.
    bool hasBlank = false;
    if (onlyPlainOrBlank(s, hasBlank)) {
        const std::string spelled = hasBlank ? "\"" + s + "\"" : s;
        if (quoted != spelled) {
            fuzz::fail("quoteArgument(" + shown(s) + ") changed the spelling of a plain word to " +
                       shown(quoted));
        }
    }
}

void checkArguments(const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>("setup")};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const std::string joined = setup::joinArguments(static_cast<int>(args.size() + 1), argv.data());
    const auto fields = fuzz::shellFields(joined);
    if (!fields || *fields != args) {
        fuzz::fail("joinArguments of " + std::to_string(args.size()) + " arguments gives " +
                   shown(joined) + ", which does not read back as the same arguments");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // NUL cannot occur in a C string argument; it separates the arguments.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args;
    std::size_t start = 0;
    for (;;) {
        const std::size_t nul = bytes.find('\0', start);
        args.push_back(bytes.substr(start, nul == std::string::npos ? nul : nul - start));
        if (nul == std::string::npos) {
            break;
        }
        start = nul + 1;
    }
    for (const std::string& a : args) {
        checkWord(a);
    }
    checkArguments(args);
    return 0;
}
