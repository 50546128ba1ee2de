#pragma once

#include <malloc.h>

#include <cstddef>

namespace vellork::bench {

// Bytes the program holds on its heap right now.
inline std::size_t heapInUse() {
    return mallinfo2().uordblks;
}

}  // namespace vellork::bench
