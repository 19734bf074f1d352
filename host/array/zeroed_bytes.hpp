// An owned, zero-filled byte buffer for host array storage, whose large
// pages are left for the threads that first write them to zero.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace vornhost::detail {

struct FreeDeleter {
    void operator()(std::byte* p) const { std::free(p); }
};

// `count` zero bytes from calloc. glibc serves large requests with fresh
// anonymous pages that the kernel zeroes on first touch, so a result the
// module fills in parallel is never zero-filled up front by one thread;
// small requests are zeroed by calloc itself. The data pointer is never
// null, also for zero bytes, since a module may be handed it.
class ZeroedBytes {
public:
    ZeroedBytes() = default;
    explicit ZeroedBytes(std::size_t count);

    std::byte* data() { return bytes_.get(); }
    const std::byte* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }
    std::byte& operator[](std::size_t i) { return bytes_[i]; }
    const std::byte& operator[](std::size_t i) const { return bytes_[i]; }

private:
    std::unique_ptr<std::byte[], FreeDeleter> bytes_;
    std::size_t size_ = 0;
};

}  // namespace vornhost::detail
