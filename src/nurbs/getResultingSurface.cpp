// Flat access to the evaluated points; 0.0 until a result exists.
#include "nurbs.h"

#include <cassert>
#include <cstddef>

double NURBS::getResultingSurface(int i, int j) const {
    if (result_.empty())
        return 0.0;
    assert(i + j >= 0 && static_cast<std::size_t>(i + j) < result_.size());
    return result_[static_cast<std::size_t>(i + j)];
}
