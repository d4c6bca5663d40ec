// What the machine running the program offers, for limits that must scale
// with it.
#pragma once

#include <unistd.h>

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
