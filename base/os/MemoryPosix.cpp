// Large blocks on POSIX systems: anonymous mappings, in transparent huge pages where Linux has
// them for mappings that ask (the setting "madvise" or "always").

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "base/os/Memory.h"

namespace tarvolen::os {
namespace {

size_t pageRounded(size_t bytes) {
    static const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

void askForHugePages(void* block, size_t bytes) {
#ifdef MADV_HUGEPAGE
    // Only advice: where the system has none, the block simply stays in small pages.
    (void)::madvise(block, bytes, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

}  // namespace

void* allocateLarge(size_t bytes) {
    const size_t size = pageRounded(bytes);
    void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return nullptr;
    askForHugePages(block, size);
    return block;
}

void* resizeLarge(void* block, size_t oldBytes, size_t newBytes) {
    const size_t oldSize = pageRounded(oldBytes);
    const size_t newSize = pageRounded(newBytes);
    if (newSize == oldSize) return block;
#ifdef __linux__
    void* moved = ::mremap(block, oldSize, newSize, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) return nullptr;
    if (newSize > oldSize) askForHugePages(moved, newSize);
    return moved;
#else
    void* moved = allocateLarge(newSize);
    if (moved == nullptr) return nullptr;
    std::memcpy(moved, block, oldSize < newSize ? oldSize : newSize);
    freeLarge(block, oldSize);
    return moved;
#endif
}

void freeLarge(void* block, size_t bytes) {
    if (block == nullptr) return;
    const size_t size = pageRounded(bytes);
    ::munmap(block, size);
}

void adviseHugePages(void* block, size_t bytes) {
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t last = (begin + bytes) & ~(kHugePage - 1);
    if (first < last) askForHugePages(static_cast<char*>(block) + (first - begin), last - first);
}

void discardLargeContents(void* block, size_t bytes) {
#ifdef MADV_FREE
    (void)::madvise(block, pageRounded(bytes), MADV_FREE);
#else
    (void)block;
    (void)bytes;
#endif
}

}  // namespace tarvolen::os
