// What the machine running the program offers, for limits that must scale
// with it.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

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
