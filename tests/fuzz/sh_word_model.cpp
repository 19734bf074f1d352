// The model follows the token recognition and quote removal rules of the
// POSIX shell command language, refusing every construct that would expand.
#include "sh_word_model.hpp"

#include <cstddef>

namespace fuzz {
namespace {

bool isOperatorOrExpansion(char c) {
    switch (c) {
        case '|':
        case '&':
        case ';':
        case '<':
        case '>':
        case '(':
        case ')':
        case '$':
        case '`':
        case '*':
        case '?':
        case '[':
            return true;
        default:
            return false;
    }
}

struct Scan {
    const std::string& text;
    std::size_t at = 0;
    std::vector<std::string> fields;
    std::string word;
    bool inWord = false;  // a word is open (even an empty quoted one)
};

void endWord(Scan& s) {
    if (s.inWord) {
        s.fields.push_back(s.word);
    }
    s.word.clear();
    s.inWord = false;
}

// After an opening single quote: everything up to the next one is literal.
bool singleQuoted(Scan& s) {
    const std::size_t close = s.text.find('\'', s.at);
    if (close == std::string::npos) {
        return false;
    }
    s.word.append(s.text, s.at, close - s.at);
    s.at = close + 1;
    return true;
}

// After an opening double quote: backslash escapes only $ ` " \ and newline
// (which then disappears); an unescaped $ or ` would expand.
bool doubleQuoted(Scan& s) {
    while (s.at < s.text.size()) {
        const char c = s.text[s.at++];
        if (c == '"') {
            return true;
        }
        if (c == '$' || c == '`') {
            return false;
        }
        if (c != '\\' || s.at == s.text.size()) {
            s.word.push_back(c);
            continue;
        }
        const char next = s.text[s.at];
        if (next == '\n') {
            ++s.at;
        } else if (next == '$' || next == '`' || next == '"' || next == '\\') {
            s.word.push_back(next);
            ++s.at;
        } else {
            s.word.push_back(c);
        }
    }
    return false;
}

bool unquotedChar(Scan& s, char c) {
    if (c == ' ' || c == '\t') {
        endWord(s);
        return true;
    }
    if (c == '\n' || isOperatorOrExpansion(c)) {
        return false;
    }
    // A word starting with # is a comment, one starting with ~ expands.
    if (!s.inWord && (c == '#' || c == '~')) {
        return false;
    }
    if (c == '\\') {
        if (s.at == s.text.size()) {
            return false;
        }
        const char next = s.text[s.at++];
        // A line continuation joins the lines and adds nothing, not even a word.
        if (next != '\n') {
            s.inWord = true;
            s.word.push_back(next);
        }
        return true;
    }
    s.inWord = true;
    if (c == '\'') {
        return singleQuoted(s);
    }
    if (c == '"') {
        return doubleQuoted(s);
    }
    s.word.push_back(c);
    return true;
}

}  // namespace

std::optional<std::vector<std::string>> shellFields(const std::string& text) {
    Scan s{text, 0, {}, {}, false};
    while (s.at < text.size()) {
        const char c = text[s.at++];
        if (c == '\0' || !unquotedChar(s, c)) {
            return std::nullopt;
        }
    }
    endWord(s);
    return s.fields;
}

}  // namespace fuzz
