// Large blocks on Windows: the process heap's, which takes blocks this large from the system
// itself. Huge pages there need a privilege an ordinary user lacks.

#include <cstdlib>

#include "base/os/Memory.h"

namespace tarvolen::os {

// NOLINTBEGIN(cppcoreguidelines-no-malloc): raw blocks, resized by realloc

void* allocateLarge(size_t bytes) {
    return std::malloc(bytes);
}

void* resizeLarge(void* block, size_t /*oldBytes*/, size_t newBytes) {
    return std::realloc(block, newBytes);
}

void freeLarge(void* block, size_t /*bytes*/) {
    std::free(block);
}

// NOLINTEND(cppcoreguidelines-no-malloc)

void adviseHugePages(void* /*block*/, size_t /*bytes*/) {}

void discardLargeContents(void* /*block*/, size_t /*bytes*/) {
    // A heap block's pages stay; the heap gives them back when the block is freed.
}

}  // namespace tarvolen::os
