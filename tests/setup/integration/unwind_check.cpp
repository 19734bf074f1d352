// Throws through several frames of a program linked like the installer stubs
// (static C++ runtime, the unwinder's frame lookup replaced): exit 0 only
// when every exception reaches its handler with its text.
#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

[[gnu::noinline]] int thrower(int depth) {
    if (depth == 0) {
        throw std::runtime_error("unwound");
    }
    return thrower(depth - 1) + 1;
}

}  // namespace

int main() {
    for (int depth = 0; depth < 4; ++depth) {
        try {
            thrower(depth);
            return 1;
        } catch (const std::exception& e) {
            if (std::string(e.what()) != "unwound") {
                return 1;
            }
        }
    }
    std::puts("exceptions unwind");
    return 0;
}
