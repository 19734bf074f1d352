#include "report.hpp"

#include <cstdio>

namespace setup {

void reportMessage(const std::string& text, bool toError) {
    std::FILE* stream = toError ? stderr : stdout;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace setup
