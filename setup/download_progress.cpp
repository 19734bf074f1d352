#include "download_progress.hpp"

#include <cinttypes>
#include <cstdio>
#include <unistd.h>

namespace setup {
namespace {

constexpr char kEraseLine[] = "\r\033[K";
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

std::size_t formatProgressLine(char* buffer, std::size_t capacity, std::int64_t received,
                               std::int64_t total) {
    int n = 0;
    if (total > 0) {
        std::int64_t percent = received >= total ? 100 : received * 100 / total;
        n = std::snprintf(buffer, capacity,
                          "Downloading the install agent: %3" PRId64 "%% (%" PRId64 " of %" PRId64
                          " bytes)",
                          percent, received, total);
    } else {
        n = std::snprintf(buffer, capacity, "Downloading the install agent: %" PRId64 " bytes",
                          received);
    }
    if (n < 0) return 0;
    return static_cast<std::size_t>(n) < capacity ? static_cast<std::size_t>(n) : capacity - 1;
}

DownloadProgress::DownloadProgress(int fd) : fd_(fd), enabled_(isatty(fd) == 1) {}

DownloadProgress::~DownloadProgress() { finish(); }

void DownloadProgress::update(std::int64_t received, std::int64_t total) {
    if (!enabled_ || received == lastReceived_) return;
    const auto now = std::chrono::steady_clock::now();
    const bool complete = total > 0 && received >= total;
    if (shown_ && !complete && now - lastDraw_ < kRedrawInterval) return;
    char line[160];
    line[0] = '\r';
    std::size_t length = 1 + formatProgressLine(line + 1, sizeof line - 1, received, total);
    writeAll(line, length);
    shown_ = true;
    lastReceived_ = received;
    lastDraw_ = now;
}

void DownloadProgress::finish() {
    if (!shown_) return;
    writeAll(kEraseLine, sizeof kEraseLine - 1);
    shown_ = false;
}

void DownloadProgress::writeAll(const char* text, std::size_t length) const {
    while (length > 0) {
        ssize_t n = write(fd_, text, length);
        if (n <= 0) return;  // progress is cosmetic: give up quietly
        text += n;
        length -= static_cast<std::size_t>(n);
    }
}

}  // namespace setup
