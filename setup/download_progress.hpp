// One progress line for the agent download, shown on a terminal only and
// rewritten in place; erased when the download ends.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace setup {

// Writes the progress text (no line control) into buffer; returns its length.
// total <= 0 means the size is unknown.
std::size_t formatProgressLine(char* buffer, std::size_t capacity, std::int64_t received,
                               std::int64_t total);

class DownloadProgress {
public:
    // Shows progress on fd only when fd is a terminal.
    explicit DownloadProgress(int fd);
    ~DownloadProgress();

    DownloadProgress(const DownloadProgress&) = delete;
    DownloadProgress& operator=(const DownloadProgress&) = delete;

    bool enabled() const { return enabled_; }

    // Redraws the line when its text changed, at most ten times a second
    // (the completed state is always drawn).
    void update(std::int64_t received, std::int64_t total);

    // Erases the line if one was drawn.
    void finish();

private:
    void writeAll(const char* text, std::size_t length) const;

    int fd_;
    bool enabled_;
    bool shown_ = false;
    std::int64_t lastReceived_ = -1;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace setup
