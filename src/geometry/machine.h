// What the machine running the program offers, for limits that must scale
// with it.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

// Half of the machine's physical memory in bytes, or `fallback` where the
// system does not say: the most that one image or raster may take, so that
// an input too large fails with a message instead of exhausting the machine.
inline std::int64_t halfOfPhysicalMemory(std::int64_t fallback) {
    long const pages = sysconf(_SC_PHYS_PAGES);
    long const pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return fallback;
    return static_cast<std::int64_t>(pages) * pageSize / 2;
}

// Asks the system to back the whole 2 MiB pages inside [data, data + bytes)
// with huge pages when they are first written. A first write to an ordinary
// page costs a fault of several microseconds; frame buffers and decoded
// images take thousands of them per run, which on a short render is several
// per cent of its time. Only advice: where the system has no such pages, or
// declines, nothing changes. Call it before the memory is first written.
inline void preferHugePages(void const* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t hugePage = std::uintptr_t{1} << 21;
    std::uintptr_t const start = reinterpret_cast<std::uintptr_t>(data);
    std::uintptr_t const begin = (start + hugePage - 1) & ~(hugePage - 1);
    std::uintptr_t const end = (start + bytes) & ~(hugePage - 1);
    if (data != nullptr && end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

constexpr std::size_t hugePageBytes = std::size_t{1} << 21;

// Memory for a buffer that is written whole right after it is made (decoded
// images, frame buffers, coverage bytes). From 2 MiB up it starts on a huge
// page and spans whole ones, advised as above: a buffer placed anywhere by
// malloc leaves up to 2 MiB at each end to ordinary pages, a fault every
// 4 KiB. Smaller buffers come from malloc. Null when the memory cannot be
// had; give it back with std::free.
inline void* allocateForHugePages(std::size_t bytes) {
    if (bytes < hugePageBytes)
        return std::malloc(bytes == 0 ? 1 : bytes);
    if (bytes > SIZE_MAX - hugePageBytes)
        return nullptr;
    std::size_t const rounded = (bytes + hugePageBytes - 1) / hugePageBytes * hugePageBytes;
    void* memory = nullptr;
    if (posix_memalign(&memory, hugePageBytes, rounded) != 0)
        return nullptr;
    preferHugePages(memory, rounded);
    return memory;
}

// A standard allocator over allocateForHugePages.
template <class T>
struct HugePageAllocator {
    using value_type = T;

    HugePageAllocator() = default;
    template <class U>
    HugePageAllocator(HugePageAllocator<U> const&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > SIZE_MAX / sizeof(T))
            throw std::bad_array_new_length();
        void* const memory = allocateForHugePages(count * sizeof(T));
        if (memory == nullptr)
            throw std::bad_alloc();
        return static_cast<T*>(memory);
    }
    void deallocate(T* memory, std::size_t) noexcept { std::free(memory); }

    template <class U>
    bool operator==(HugePageAllocator<U> const&) const noexcept {
        return true;
    }
};
