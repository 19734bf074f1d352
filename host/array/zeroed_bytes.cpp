// Zero-filled host storage from calloc.
#include "zeroed_bytes.hpp"

#include <algorithm>
#include <new>

namespace vornhost::detail {

ZeroedBytes::ZeroedBytes(std::size_t count)
    : bytes_(static_cast<std::byte*>(std::calloc(std::max<std::size_t>(count, sizeof(double)), 1))),
      size_(count) {
    if (!bytes_) throw std::bad_alloc();
}

}  // namespace vornhost::detail
