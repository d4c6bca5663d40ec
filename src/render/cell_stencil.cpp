// The 12-point stencil around the current cell and the corner normals.
//
// Layout, rows of increasing Y, each by increasing X:
//          P10 P11
//      P6  P7  P8  P9
//      P2  P3  P4  P5
//          P0  P1
// P3, P4, P7, P8 are the cell's corners; each corner normal is computed from
// the corner's four axis neighbours. Within a stencil row the points are
// consecutive in X, so a step of one cell in X is a shift of the array.
#include "terrain_scanner.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <utility>

namespace {

// Moves every element one place towards the front (Towards = -1: a[k] =
// a[k + 1]) or the back (+1: a[k] = a[k - 1]), the vacated end keeping its
// value. Written as separate assignments, so that the compiler copies the
// few bytes in place rather than calling memmove for each step.
template <int Towards, typename T, std::size_t N, std::size_t... I>
void shiftBy(T (&a)[N], std::index_sequence<I...>) {
    if constexpr (Towards < 0)
        ((a[I] = a[I + 1]), ...);
    else
        ((a[N - 1 - I] = a[N - 2 - I]), ...);
}

template <int Towards, typename T, std::size_t N>
void shift(T (&a)[N]) {
    shiftBy<Towards>(a, std::make_index_sequence<N - 1>());
}

}  // namespace

void TerrainScanner::cornerNormal(int centre, int right, int up, int left, int down, C4Vector& normal) const {
    C4Vector const& c = cellStencil[centre];
    C4Vector const r = cellStencil[right] - c;
    C4Vector const u = cellStencil[up] - c;
    C4Vector const l = cellStencil[left] - c;
    C4Vector const d = cellStencil[down] - c;
    C4Vector const ru = cross3(r, u, 0.0), ul = cross3(u, l, 0.0), ld = cross3(l, d, 0.0), dr = cross3(d, r, 0.0);
    normal = C4Vector((((ru.x + ul.x) + ld.x) + dr.x) * 0.25, (((ru.y + ul.y) + ld.y) + dr.y) * 0.25,
                      (((ru.z + ul.z) + ld.z) + dr.z) * 0.25, 1.0);
    normalise3(normal);
}

void TerrainScanner::AllesBerechnen() {
    double const x = cellX, y = cellY, cx = cellSizeX, cy = cellSizeY;
    double const xs[12] = {x, x + cx, x - cx, x, x + cx, x + 2 * cx, x - cx, x, x + cx, x + 2 * cx, x, x + cx};
    double const ys[12] = {y - cy, y - cy, y, y, y, y, y + cy, y + cy, y + cy, y + cy, y + 2 * cy, y + 2 * cy};
    for (int k = 0; k < 12; ++k) {
        cellStencil[k].x = xs[k];
        cellStencil[k].y = ys[k];
    }
    for (C4Vector& point : cellStencil)
        elevation->Z(point);
    std::fill(std::begin(stencilProjection), std::end(stencilProjection), Projection::Unknown);
    cornerNormal(3, 4, 7, 2, 0, cornerNormals[0]);
    AllesBerechnen1();
}

void TerrainScanner::AllesBerechnen1() {
    cornerNormal(4, 5, 8, 3, 1, cornerNormals[1]);
    cornerNormal(7, 8, 10, 6, 3, cornerNormals[2]);
    cornerNormal(8, 9, 11, 7, 4, cornerNormals[3]);
    stencilStale = false;
}

void TerrainScanner::TeilPlusBerechnen() {
    shift<-1>(cellStencil);
    shift<-1>(stencilScreen);
    shift<-1>(stencilProjection);
    double const x = cellX, y = cellY, cx = cellSizeX, cy = cellSizeY;
    cellStencil[1].x = x + cx;
    cellStencil[1].y = y - cy;
    cellStencil[5].x = x + 2 * cx;
    cellStencil[5].y = y;
    cellStencil[9].x = x + 2 * cx;
    cellStencil[9].y = y + cy;
    cellStencil[11].x = x + cx;
    cellStencil[11].y = y + 2 * cy;
    for (int k : {1, 5, 9, 11}) {
        elevation->Z(cellStencil[k]);
        stencilProjection[k] = Projection::Unknown;
    }
    cornerNormals[0] = cornerNormals[1];
    cornerNormals[2] = cornerNormals[3];
    cornerNormal(4, 5, 8, 3, 1, cornerNormals[1]);
    cornerNormal(8, 9, 11, 7, 4, cornerNormals[3]);
}

void TerrainScanner::TeilMinusBerechnen() {
    shift<1>(cellStencil);
    shift<1>(stencilScreen);
    shift<1>(stencilProjection);
    double const x = cellX, y = cellY, cx = cellSizeX, cy = cellSizeY;
    cellStencil[0].x = x;
    cellStencil[0].y = y - cy;
    cellStencil[2].x = x - cx;
    cellStencil[2].y = y;
    cellStencil[6].x = x - cx;
    cellStencil[6].y = y + cy;
    cellStencil[10].x = x;
    cellStencil[10].y = y + 2 * cy;
    for (int k : {0, 2, 6, 10}) {
        elevation->Z(cellStencil[k]);
        stencilProjection[k] = Projection::Unknown;
    }
    cornerNormals[1] = cornerNormals[0];
    cornerNormals[3] = cornerNormals[2];
    cornerNormal(3, 4, 7, 2, 0, cornerNormals[0]);
    cornerNormal(7, 8, 10, 6, 3, cornerNormals[2]);
}
