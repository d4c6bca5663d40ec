// The back-to-front scan of one frame.
#include "terrain_scanner.h"

#include "safe_convert.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double e = 1e-5;  // world units

}  // namespace

TerrainScanner::TerrainScanner() = default;
TerrainScanner::~TerrainScanner() = default;

void TerrainScanner::setRowBand(int first, int last) {
    bandFirst_ = first;
    bandLast_ = last;
}

void TerrainScanner::clearFrame(bool useBackground, unsigned int background) {
    unsigned int colour = background;
    if (!useBackground) {
        double const level = 256 * std::fabs(lightDirection.z);
        unsigned int const byte = level > 255 ? 255u : static_cast<unsigned int>(truncateToInt(level)) & 0xFFu;
        colour = 0xFF000000u | byte * 0x010101u;
    }
    int const first = bandFirst_ < 0 ? 0 : bandFirst_;
    int const last = bandLast_ < 0 ? frameImage->height() - 1 : std::min(bandLast_, frameImage->height() - 1);
    for (int row = first; row <= last; ++row) {
        QRgb* const pixels = reinterpret_cast<QRgb*>(frameImage->scanLine(row));
        std::fill(pixels, pixels + frameImage->width(), colour);
    }
}

void TerrainScanner::Scan(TextureImage* texture, bool useBackground, unsigned int background, int exactMode) {
    clearFrame(useBackground, background);
    int const top = bandFirst_ < 0 ? 0 : bandFirst_;
    int const bottom = bandLast_ < 0 ? renderHeight - 1 : bandLast_;
    rasteriser = std::make_unique<ScreenTrigon>(frameImage, texture, 0, top, renderWidth, bottom + 1,
                                                lightDirection, camera, exactMode);
    cellsVisited = 0;
    cellsDrawn = 0;

    scanObserver = camera->Beobachter();
    scanObserver.x += 8e-5;
    scanObserver.y += 8e-5;

    ClipView();
    cellSizeX = terrainExtentX / gridResolutionX;
    cellSizeY = terrainExtentY / gridResolutionY;
    setQuadrantLimits();
    RoundTheLimits();

    // A grid whose cells have no positive finite size has nothing to draw,
    // and walking it would never end.
    bool const drawable =
        std::isfinite(cellSizeX) && std::isfinite(cellSizeY) && cellSizeX > 0 && cellSizeY > 0;
    if (drawable) {
        ScanQuadrant0();
        ScanQuadrant1();
        ScanQuadrant2();
        ScanQuadrant3();
        ScanBoundary01();
        ScanBoundary12();
        ScanBoundary23();
        ScanBoundary30();
    }
    pixelsDrawn = rasteriser->pixelsDrawn;
    rasteriser.reset();
}

// ---------------------------------------------------------------------------
// Visiting cells

// The projection of stencil point `point`, computed once per point.
bool TerrainScanner::project(int point, C4Vector& screen) {
    if (stencilProjection[point] == Projection::Unknown)
        stencilProjection[point] = camera->ProjectCorner(cellStencil[point], stencilScreen[point])
                                       ? Projection::OnScreen
                                       : Projection::Dropped;
    screen = stencilScreen[point];
    return stencilProjection[point] == Projection::OnScreen;
}

double TerrainScanner::CellFog::amount() {
    if (!known) {
        value = 1 - std::exp(-distance);
        known = true;
    }
    return value;
}

// Hands the triangle of stencil points a, b, c to the rasteriser when
// Transformation::ZeichneEinDreieck would draw it, with the corners'
// projections taken from the stencil. The checks come cheapest first; a
// triangle is drawn exactly when it passes all of them, whatever their order.
void TerrainScanner::drawTriangle(int a, int b, int c, CellFog& fog) {
    auto normalOf = [this](int point) -> C4Vector const& {
        switch (point) {
            case 3: return cornerNormals[0];
            case 4: return cornerNormals[1];
            case 7: return cornerNormals[2];
            default: return cornerNormals[3];
        }
    };
    int const points[3] = {a, b, c};
    C4Vector* const screen = camera->screenVertices;
    for (int k = 0; k < 3; ++k)
        if (!project(points[k], screen[k]))
            return;
    if (rasteriser->outsideClip(screen))
        return;
    for (int k = 0; k < 3; ++k) {
        triangleCorners[k] = cellStencil[points[k]];
        triangleNormals[k] = normalOf(points[k]);
    }
    if (!camera->FacesAwayFromEye(triangleCorners))
        return;
    rasteriser->RechnenInClip(screen, triangleCorners, triangleNormals, fog.amount());
}

void TerrainScanner::visitCell(Step step, Order order) {
    if (step == Step::Full || stencilStale)
        AllesBerechnen();
    else if (step == Step::Plus)
        TeilPlusBerechnen();
    else
        TeilMinusBerechnen();
    ++cellsVisited;
    if (visitLog)
        visitLog->push_back(C2Vector{cellX, cellY});

    double const d = length3(cellStencil[3] - scanObserver) / fogDistance;
    if (!(d >= 0 && d < 7))
        return;  // beyond the fog, or no usable fog distance
    ++cellsDrawn;
    // Triangle A is the upper-left half P3 P7 P8, triangle B the lower-right
    // half P3 P8 P4; both run clockwise seen from above. The fog amount
    // 1 - exp(-d) is worked out when the first triangle needs it.
    CellFog fog{d};
    bool const aFirst = order == Order::AThenB;
    for (int k = 0; k < 2; ++k) {
        if ((k == 0) == aFirst)
            drawTriangle(3, 7, 8, fog);
        else
            drawTriangle(3, 8, 4, fog);
    }
}

// The most cells a walk along one axis can meet; only a pathological cell
// size (too small to change the coordinate when added) would reach it.
long long TerrainScanner::walkLimit(double gridResolution) const {
    double const limit = gridResolution + 4;
    return limit < 9e18 ? static_cast<long long>(limit) : 9000000000000000000LL;
}

// Walks one row at cellY from `from` to `to` (inclusive, within e): the
// first cell in full, the following ones by the incremental update.
void TerrainScanner::walkRow(double from, double to, bool ascending, Step step, Order order) {
    cellX = from;
    stencilStale = true;
    long long remaining = walkLimit(gridResolutionX);
    while ((ascending ? cellX < to + e : cellX >= to - e) && remaining-- > 0) {
        visitCell(step, order);
        cellX = ascending ? cellX + cellSizeX : cellX - cellSizeX;
    }
}

bool TerrainScanner::quadrantEmpty(int quadrant) const {
    double const* XL = quadrantXLow;
    double const* XH = quadrantXHigh;
    double const* YL = quadrantYLow;
    double const* YH = quadrantYHigh;
    switch (quadrant) {
        case 0: return XL[0] == XL[1] || YH[0] == YH[3];
        case 1: return XH[0] == XH[1] || YH[1] == YH[2];
        case 2: return XH[3] == XH[2] || YL[2] == YL[1];
        default: return XL[3] == XL[2] || YL[3] == YL[0];
    }
}

// Rows from the far side (greatest Y) down towards the observer.
void TerrainScanner::ScanQuadrant0() {
    if (quadrantEmpty(0))
        return;
    long long remaining = walkLimit(gridResolutionY);
    for (cellY = quadrantYHigh[0]; cellY >= quadrantYLow[0] - e && remaining-- > 0; cellY -= cellSizeY)
        walkRow(quadrantXLow[0], quadrantXHigh[0], true, Step::Plus, Order::AThenB);
}

void TerrainScanner::ScanQuadrant1() {
    if (quadrantEmpty(1))
        return;
    long long remaining = walkLimit(gridResolutionY);
    for (cellY = quadrantYHigh[1]; cellY >= quadrantYLow[1] - e && remaining-- > 0; cellY -= cellSizeY)
        walkRow(quadrantXHigh[1], quadrantXLow[1], false, Step::Minus, Order::BThenA);
}

// Rows from the far side (least Y) up towards the observer.
void TerrainScanner::ScanQuadrant2() {
    if (quadrantEmpty(2))
        return;
    long long remaining = walkLimit(gridResolutionY);
    for (cellY = quadrantYLow[2]; cellY < quadrantYHigh[2] + e && remaining-- > 0; cellY += cellSizeY)
        walkRow(quadrantXHigh[2], quadrantXLow[2], false, Step::Minus, Order::BThenA);
}

void TerrainScanner::ScanQuadrant3() {
    if (quadrantEmpty(3))
        return;
    long long remaining = walkLimit(gridResolutionY);
    for (cellY = quadrantYLow[3]; cellY < quadrantYHigh[3] + e && remaining-- > 0; cellY += cellSizeY)
        walkRow(quadrantXLow[3], quadrantXHigh[3], true, Step::Plus, Order::AThenB);
}

// The observer's column above it, from the far end down; every cell in full
// because consecutive cells differ in Y.
void TerrainScanner::ScanBoundary01() {
    if (quadrantEmpty(0) || quadrantEmpty(1))
        return;
    cellX = quadrantXHigh[0] + cellSizeX;
    stencilStale = true;
    long long remaining = walkLimit(gridResolutionY);
    for (cellY = quadrantYHigh[0]; cellY >= quadrantYLow[0] - e && remaining-- > 0; cellY -= cellSizeY)
        visitCell(Step::Full, Order::AThenB);
}

// The observer's row right of it, from the far end leftwards.
void TerrainScanner::ScanBoundary12() {
    if (quadrantEmpty(1) || quadrantEmpty(2))
        return;
    cellY = quadrantYLow[1] - cellSizeY;
    walkRow(quadrantXHigh[1], quadrantXLow[1], false, Step::Minus, Order::BThenA);
}

// The observer's column below it, from the far end up.
void TerrainScanner::ScanBoundary23() {
    if (quadrantEmpty(2) || quadrantEmpty(3))
        return;
    cellX = quadrantXLow[2] - cellSizeX;
    stencilStale = true;
    long long remaining = walkLimit(gridResolutionY);
    for (cellY = quadrantYLow[2]; cellY < quadrantYHigh[2] + e && remaining-- > 0; cellY += cellSizeY)
        visitCell(Step::Full, Order::BThenA);
}

// The observer's row left of it, ending with the observer's own cell.
void TerrainScanner::ScanBoundary30() {
    if (quadrantEmpty(3) || quadrantEmpty(0))
        return;
    cellY = quadrantYHigh[3] + cellSizeY;
    walkRow(quadrantXLow[3], quadrantXHigh[3] + cellSizeX, true, Step::Plus, Order::AThenB);
}
