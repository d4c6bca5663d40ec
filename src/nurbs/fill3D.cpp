// Net from consecutive (x, y, z) triples, every point with weight 1.
#include "nurbs.h"

#include <cassert>
#include <cstddef>

void NURBS::fill3D(int n, int m, double const* p) {
    std::size_t const count = (n > 0 && m > 0) ? static_cast<std::size_t>(n) * static_cast<std::size_t>(m) : 0;
    net_.assign(count * 4, 0.0);
    assert(count == 0 || p != nullptr);
    for (std::size_t k = 0; k < count; ++k) {
        net_[k * 4 + 0] = p[k * 3 + 0];
        net_[k * 4 + 1] = p[k * 3 + 1];
        net_[k * 4 + 2] = p[k * 3 + 2];
        net_[k * 4 + 3] = 1.0;
    }
}
