// Net from consecutive (a, b) pairs, stored in the x-z plane as (a, 0, b, 1).
#include "nurbs.h"

#include <cassert>
#include <cstddef>

void NURBS::fill2D(int n, double const* p) {
    std::size_t const count = n > 0 ? static_cast<std::size_t>(n) : 0;
    net_.assign(count * 4, 0.0);
    assert(count == 0 || p != nullptr);
    for (std::size_t k = 0; k < count; ++k) {
        net_[k * 4 + 0] = p[k * 2 + 0];
        net_[k * 4 + 1] = 0.0;
        net_[k * 4 + 2] = p[k * 2 + 1];
        net_[k * 4 + 3] = 1.0;
    }
}
