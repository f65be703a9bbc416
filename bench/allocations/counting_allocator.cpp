#include "bench/allocations/counting_allocator.h"

#include <errno.h>
#include <stddef.h>

#include <atomic>

// glibc's own entry points, which the replacements below hand every request to, so that
// blocks from either side are freed by the same free().
extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* block, size_t size);
extern "C" void* __libc_memalign(size_t alignment, size_t size);

namespace {

std::atomic<bool> counting{false};
std::atomic<uint64_t> countedBlocks{0};
std::atomic<uint64_t> countedBytes{0};

void Count(size_t bytes) {
    if (!counting.load(std::memory_order_relaxed)) return;
    countedBlocks.fetch_add(1, std::memory_order_relaxed);
    countedBytes.fetch_add(bytes, std::memory_order_relaxed);
}

}  // namespace

extern "C" void* malloc(size_t size) {
    Count(size);
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size) {
    Count(count * size);
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, size_t size) {
    Count(size);
    return __libc_realloc(block, size);
}

extern "C" void* memalign(size_t alignment, size_t size) {
    Count(size);
    return __libc_memalign(alignment, size);
}

extern "C" void* aligned_alloc(size_t alignment, size_t size) {
    Count(size);
    return __libc_memalign(alignment, size);
}

extern "C" int posix_memalign(void** block, size_t alignment, size_t size) {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
    Count(size);
    void* made = __libc_memalign(alignment, size);
    if (!made) return ENOMEM;
    *block = made;
    return 0;
}

namespace quarrow2::bench {

void StartCountingAllocations() {
    countedBlocks = 0;
    countedBytes = 0;
    counting = true;
}

AllocationCount StopCountingAllocations() {
    counting = false;
    return AllocationCount{countedBlocks.load(), countedBytes.load()};
}

}  // namespace quarrow2::bench
