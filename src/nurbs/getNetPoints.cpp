// Flat access to the net array; the caller keeps within it.
#include "nurbs.h"

#include <cassert>
#include <cstddef>

double NURBS::getNetPoints(int i, int j) const {
    assert(i + j >= 0 && static_cast<std::size_t>(i + j) < net_.size());
    return net_[static_cast<std::size_t>(i + j)];
}
