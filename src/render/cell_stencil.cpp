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
#include <iterator>

inline void TerrainScanner::cornerNormal(int centre, int right, int up, int left, int down, C4Vector& normal) const {
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

// The heights of four stencil points.
template <int A, int B, int C, int D>
void TerrainScanner::liftPoints() {
    for (int k : {A, B, C, D})
        cellStencil[k].z = elevation->elevation(cellStencil[k].x, cellStencil[k].y);
}

// The normals of two corners, each from its stencil neighbours.
template <int First, int Second>
void TerrainScanner::cornerNormals2() {
    for (NormalAt const& n : {normalsAt[First], normalsAt[Second]})
        cornerNormal(n.centre, n.right, n.up, n.left, n.down, cornerNormals[n.normal]);
}

void TerrainScanner::AllesBerechnen() {
    double const x = cellX, y = cellY, cx = cellSizeX, cy = cellSizeY;
    double const xs[12] = {x, x + cx, x - cx, x, x + cx, x + 2 * cx, x - cx, x, x + cx, x + 2 * cx, x, x + cx};
    double const ys[12] = {y - cy, y - cy, y, y, y, y, y + cy, y + cy, y + cy, y + cy, y + 2 * cy, y + 2 * cy};
    for (int k = 0; k < 12; ++k) {
        cellStencil[k].x = xs[k];
        cellStencil[k].y = ys[k];
    }
    liftPoints<0, 1, 2, 3>();
    liftPoints<4, 5, 6, 7>();
    liftPoints<8, 9, 10, 11>();
    std::fill(std::begin(cornerProjection), std::end(cornerProjection), Projection::Unknown);
    NormalAt const& n = normalsAt[CornerP3];
    cornerNormal(n.centre, n.right, n.up, n.left, n.down, cornerNormals[n.normal]);
    AllesBerechnen1();  // the other three corner normals
}

void TerrainScanner::AllesBerechnen1() {
    for (int corner : {CornerP4, CornerP7, CornerP8}) {
        NormalAt const& n = normalsAt[corner];
        cornerNormal(n.centre, n.right, n.up, n.left, n.down, cornerNormals[n.normal]);
    }
    stencilStale = false;
}

// A step of one cell in +X: every point that stays moves one place towards
// the front of its row (the new points 1, 5, 9 and 11 are then computed),
// and so do the corners' projections.
void TerrainScanner::TeilPlusBerechnen() {
    C4Vector* const p = cellStencil;
    p[0] = p[1];
    p[2] = p[3];
    p[3] = p[4];
    p[4] = p[5];
    p[6] = p[7];
    p[7] = p[8];
    p[8] = p[9];
    p[10] = p[11];
    keepCornerProjection(CornerP4, CornerP3);
    keepCornerProjection(CornerP8, CornerP7);
    double const x = cellX, y = cellY, cx = cellSizeX, cy = cellSizeY;
    cellStencil[1].x = x + cx;
    cellStencil[1].y = y - cy;
    cellStencil[5].x = x + 2 * cx;
    cellStencil[5].y = y;
    cellStencil[9].x = x + 2 * cx;
    cellStencil[9].y = y + cy;
    cellStencil[11].x = x + cx;
    cellStencil[11].y = y + 2 * cy;
    liftPoints<1, 5, 9, 11>();
    cornerProjection[CornerP4] = Projection::Unknown;
    cornerProjection[CornerP8] = Projection::Unknown;
    cornerNormals[0] = cornerNormals[1];
    cornerNormals[2] = cornerNormals[3];
    cornerNormals2<CornerP4, CornerP8>();
}

// A step of one cell in -X: the points that stay move one place towards the
// back of their row (the new points are 0, 2, 6 and 10).
void TerrainScanner::TeilMinusBerechnen() {
    C4Vector* const p = cellStencil;
    p[1] = p[0];
    p[5] = p[4];
    p[4] = p[3];
    p[3] = p[2];
    p[9] = p[8];
    p[8] = p[7];
    p[7] = p[6];
    p[11] = p[10];
    keepCornerProjection(CornerP3, CornerP4);
    keepCornerProjection(CornerP7, CornerP8);
    double const x = cellX, y = cellY, cx = cellSizeX, cy = cellSizeY;
    cellStencil[0].x = x;
    cellStencil[0].y = y - cy;
    cellStencil[2].x = x - cx;
    cellStencil[2].y = y;
    cellStencil[6].x = x - cx;
    cellStencil[6].y = y + cy;
    cellStencil[10].x = x;
    cellStencil[10].y = y + 2 * cy;
    liftPoints<0, 2, 6, 10>();
    cornerProjection[CornerP3] = Projection::Unknown;
    cornerProjection[CornerP7] = Projection::Unknown;
    cornerNormals[1] = cornerNormals[0];
    cornerNormals[3] = cornerNormals[2];
    cornerNormals2<CornerP3, CornerP7>();
}
