#include "geometry.h"

C4Vector operator*(C4Vector const& v, C4Matrix const& m) {
    double const x = v.x, y = v.y, z = v.z, w = v.w;
    auto column = [&](int c) { return x * m.m[c] + y * m.m[4 + c] + z * m.m[8 + c] + w * m.m[12 + c]; };
    return {column(0), column(1), column(2), column(3)};
}
