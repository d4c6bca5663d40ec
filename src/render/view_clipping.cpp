// Bounding the work of a frame: the rectangle of the ground plan that the
// camera sees, split into four quadrants around the observer and rounded to
// whole grid cells.
#include "terrain_scanner.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double e = 1e-5;  // world units

double clampInto(double v, double low, double high) {
    if (v < low)
        v = low;
    if (v > high)
        v = high;
    return v;
}

}  // namespace

void TerrainScanner::Clip(C4Vector& point) {
    if (viewXMin > point.x)
        viewXMin = point.x;
    if (point.x > viewXMax)
        viewXMax = point.x;
    if (viewYMin > point.y)
        viewYMin = point.y;
    if (point.y > viewYMax)
        viewYMax = point.y;
}

// Grows the visible rectangle by the points where the rays through the four
// frame corners meet the plane in front of the observer; with
// `aboveGroundOnly`, only by points strictly above the ground.
void TerrainScanner::clipCornerRays(C4Vector* plane, bool aboveGroundOnly) {
    struct Corner {
        int column, row;
    };
    Corner const corners[4] = {{0, renderHeight}, {renderWidth, renderHeight}, {renderWidth, 0}, {0, 0}};
    C4Vector out(0.0, 0.0, 0.0, 1.0);  // reused from corner to corner
    for (Corner const& corner : corners) {
        double const t = camera->PunktImDreieck(corner.column, corner.row, plane, &out);
        if (t > 0 && (!aboveGroundOnly || out.z > 0))
            Clip(out);
    }
}

void TerrainScanner::ClipBottomView(C4Vector* plane) { clipCornerRays(plane, false); }

void TerrainScanner::ClipSideView(C4Vector* plane) { clipCornerRays(plane, true); }

void TerrainScanner::ClipView() {
    viewXMin = terrainExtentX;
    viewYMin = terrainExtentY;
    viewXMax = 0.0;
    viewYMax = 0.0;

    double const ex = terrainExtentX, ey = terrainExtentY;
    C4Vector ground[3] = {{0, 0, 0, 1}, {1, 0, 0, 1}, {0, 1, 0, 1}};
    ClipBottomView(ground);
    // Rays passing above the ground can still meet the terrain's box walls.
    C4Vector wallX0[3] = {{0, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}};
    C4Vector wallY0[3] = {{0, 0, 0, 1}, {1, 0, 0, 1}, {0, 0, 1, 1}};
    C4Vector wallX1[3] = {{ex, 0, 0, 1}, {ex, 1, 0, 1}, {ex, 0, 1, 1}};
    C4Vector wallY1[3] = {{0, ey, 0, 1}, {1, ey, 0, 1}, {0, ey, 1, 1}};
    ClipSideView(wallX0);
    ClipSideView(wallY0);
    ClipSideView(wallX1);
    ClipSideView(wallY1);

    viewXMin = std::min(viewXMin, scanObserver.x);
    viewYMin = std::min(viewYMin, scanObserver.y);
    viewXMax = std::max(viewXMax, scanObserver.x);
    viewYMax = std::max(viewYMax, scanObserver.y);

    if (viewXMin < 0)
        viewXMin = 0;
    if (viewYMin < 0)
        viewYMin = 0;
    if (viewXMax > terrainExtentX)
        viewXMax = terrainExtentX;
    if (viewYMax > terrainExtentY)
        viewYMax = terrainExtentY;
}

// Quadrants around the observer: 0 left and above, 1 right and above,
// 2 right and below, 3 left and below.
void TerrainScanner::setQuadrantLimits() {
    double const ox = scanObserver.x, oy = scanObserver.y;
    double const xLow[4] = {viewXMin, ox, ox, viewXMin};
    double const xHigh[4] = {ox, viewXMax, viewXMax, ox};
    double const yLow[4] = {oy, oy, viewYMin, viewYMin};
    double const yHigh[4] = {viewYMax, viewYMax, oy, oy};
    for (int q = 0; q < 4; ++q) {
        quadrantXLow[q] = clampInto(xLow[q], viewXMin, viewXMax);
        quadrantXHigh[q] = clampInto(xHigh[q], viewXMin, viewXMax);
        quadrantYLow[q] = clampInto(yLow[q], viewYMin, viewYMax);
        quadrantYHigh[q] = clampInto(yHigh[q], viewYMin, viewYMax);
    }
}

// Rounds the limits to cell corners. On the far sides the cell containing the
// edge is included; on the observer's sides each quadrant stops one whole
// cell short of the observer's cell, leaving the observer's row and column to
// the boundary walks.
//
// The near-side limits that step one cell down (quadrantXHigh of quadrants 0
// and 3, quadrantYHigh of quadrants 2 and 3) round down rather than toward
// zero. Both agree whenever the value is not negative; they differ only for
// an observer in the first grid column or row, where rounding toward zero
// would give 0, the observer's own column, and the cells there would be drawn
// twice and out of far-to-near order. Rounding down gives -cellSize, so the
// quadrant is empty and the boundary walk alone draws that column. Far-side
// limits keep rounding toward zero, so a limit at 0 stays 0.
void TerrainScanner::RoundTheLimits() {
    double const cx = cellSizeX, cy = cellSizeY;
    auto low = [](double v, double cell, double add) { return std::trunc((v - e) / cell + add) * cell; };
    auto high = [](double v, double cell) { return std::trunc((v + e) / cell) * cell; };
    auto highNear = [](double v, double cell) { return std::floor((v + e) / cell - 1) * cell; };

    for (int q = 0; q < 4; ++q) {
        // Quadrants 1 and 2 lie right of the observer, 0 and 1 above it;
        // the limit next to the observer's own column or row is the one
        // moved off it (low + 1 cell, or floor - 1 cell).
        bool const right = q == 1 || q == 2;
        bool const above = q == 0 || q == 1;
        quadrantXLow[q] = low(quadrantXLow[q], cx, right ? 1 : 0);
        quadrantXHigh[q] = right ? high(quadrantXHigh[q], cx) : highNear(quadrantXHigh[q], cx);
        quadrantYLow[q] = low(quadrantYLow[q], cy, above ? 1 : 0);
        quadrantYHigh[q] = above ? high(quadrantYHigh[q], cy) : highNear(quadrantYHigh[q], cy);
    }
}
