// The back-to-front scan of one frame.
#include "terrain_scanner.h"

#include "pixel_colour.h"
#include "simd.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

constexpr double e = 1e-5;  // world units

}  // namespace

TerrainScanner::TerrainScanner(ScanSetup const& setup) : ScanSetup(setup) {}
TerrainScanner::~TerrainScanner() = default;

void TerrainScanner::setRowBand(int first, int last) {
    bandFirst_ = first;
    bandLast_ = last;
}

void TerrainScanner::clearFrame(unsigned int colour) {
    int const first = bandFirst_ < 0 ? 0 : bandFirst_;
    int const last = bandLast_ < 0 ? frameImage->height() - 1 : std::min(bandLast_, frameImage->height() - 1);
    for (int row = first; row <= last; ++row) {
        QRgb* const pixels = reinterpret_cast<QRgb*>(frameImage->scanLine(row));
        std::fill(pixels, pixels + frameImage->width(), colour);
    }
}

void TerrainScanner::Scan(TextureImage* texture, bool useBackground, unsigned int background, int exactMode) {
    unsigned int const clearColour = useBackground ? background : pixelcolour::levelGroundGrey(lightDirection.z);
    int const top = bandFirst_ < 0 ? 0 : bandFirst_;
    int const bottom = bandLast_ < 0 ? renderHeight - 1 : bandLast_;
    rasteriser = std::make_unique<ScreenTrigon>(frameImage, texture, 0, top, renderWidth, bottom + 1, lightDirection,
                                                camera, exactMode);
    // Front to back needs a coverage byte per pixel; a frame too large for
    // one more allocation is drawn in painter's order, with the same pixels.
    frontToBack_ = drawingOrder == DrawingOrder::FrontToBack;
    if (frontToBack_) {
        try {
            rasteriser->useCoverage(coverage_);
        } catch (std::bad_alloc const&) {
            frontToBack_ = false;
            CoverageBytes().swap(coverage_);
        }
    }
    // Front to back, every pixel is written once: by the first triangle to
    // take it, or at the end, untaken, in the clear colour (the rasteriser's
    // clip rectangle is the band's full width then). Painting over needs
    // the clear first.
    bool const fillAfterwards = frontToBack_ && renderWidth >= frameImage->width();
    if (!fillAfterwards)
        clearFrame(clearColour);
    cullCells_ = false;
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
    bool const drawable = std::isfinite(cellSizeX) && std::isfinite(cellSizeY) && cellSizeX > 0 && cellSizeY > 0;
    walks_.clear();
    if (drawable && frontToBack_)
        setUpCellCulling();
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
    drawWalks();
    if (fillAfterwards)
        rasteriser->fillUntaken(clearColour);
    pixelsDrawn = rasteriser->pixelsDrawn;
    rasteriser.reset();
}

// ---------------------------------------------------------------------------
// Visiting cells

// The projection of a corner of the cell, computed once per grid point.
bool TerrainScanner::project(CellCorner corner, C4Vector& screen) {
    if (cornerProjection[corner] == Projection::Unknown)
        cornerProjection[corner] =
            camera->Project(cellStencil[stencilPointOf[corner]], cornerScreen[corner], Transformation::EyePlane::Drop)
                ? Projection::OnScreen
                : Projection::Dropped;
    screen = cornerScreen[corner];
    return cornerProjection[corner] == Projection::OnScreen;
}

double TerrainScanner::CellFog::amount() {
    if (!known) {
        value = 1 - std::exp(-distance);
        known = true;
    }
    return value;
}

// Hands the triangle of the cell's corners a, b, c to the camera with their
// projections taken from the stencil. A triangle with a corner off screen,
// outside the clip rectangle or whose every pixel is taken already is passed
// over first: nothing it could draw would show.
void TerrainScanner::drawTriangle(CellToDraw const& cell, int a, int b, int c, CellFog& fog) {
    if (!cell.onScreen[a] || !cell.onScreen[b] || !cell.onScreen[c])
        return;
    double const* const x = cell.screenX;
    double const* const y = cell.screenY;
    ScreenTrigon::CornerBox const box{std::min({x[a], x[b], x[c]}), std::max({x[a], x[b], x[c]}),
                                      std::min({y[a], y[b], y[c]}), std::max({y[a], y[b], y[c]})};
    if (rasteriser->outsideClip(box) || rasteriser->hiddenByTakenTiles(box))
        return;
    C4Vector* const screen = camera->screenVertices;
    int const corners[3] = {a, b, c};
    for (int k = 0; k < 3; ++k) {
        Triple const& point = cell.corners[corners[k]];
        Triple const& normal = cell.normals[corners[k]];
        triangleCorners[k] = C4Vector(point.x, point.y, point.z, 1.0);
        triangleNormals[k] = C4Vector(normal.x, normal.y, normal.z, 1.0);
        screen[k] = C4Vector(x[corners[k]], y[corners[k]], 0.0, 1.0);
    }
    camera->ZeichneEinDreieck(triangleCorners, triangleNormals, screen, fog.amount(), rasteriser.get());
}

// Triangle A is the upper-left half P3 P7 P8, triangle B the lower-right
// half P3 P8 P4; both run clockwise seen from above. Drawing front to back
// takes them in the reverse of the walk's order. The fog amount 1 - exp(-d)
// is worked out when the first triangle needs it.
void TerrainScanner::drawCell(CellToDraw const& cell, bool reversed) {
    enum { P3, P4, P7, P8 };
    CellFog fog{cell.fogDistance};
    bool const aFirst = (cell.order == Order::AThenB) != reversed;
    for (int k = 0; k < 2; ++k) {
        if ((k == 0) == aFirst)
            drawTriangle(cell, P3, P7, P8, fog);
        else
            drawTriangle(cell, P3, P8, P4, fog);
    }
}

// The stencil for cellX, cellY: computed in full, or stepped from the
// previous cell in X.
void TerrainScanner::advanceStencil(Step step) {
    if (step == Step::Full || stencilStale)
        AllesBerechnen();
    else if (step == Step::Plus)
        TeilPlusBerechnen();
    else
        TeilMinusBerechnen();
}

void TerrainScanner::visitCell(Step step, Order order) {
    advanceStencil(step);
    ++cellsVisited;

    double const d = length3(cellStencil[3] - scanObserver) / fogDistance;
    if (!(d >= 0 && d < 7))
        return;  // beyond the fog, or no usable fog distance
    ++cellsDrawn;
    CellToDraw drawnNow;
    CellToDraw& cell = collectCells_ ? cellsToDraw_.emplace_back() : drawnNow;
    for (int k = 0; k < 4; ++k) {
        C4Vector screen;
        cell.onScreen[k] = project(static_cast<CellCorner>(k), screen);
        cell.screenX[k] = screen.x;
        cell.screenY[k] = screen.y;
        C4Vector const& corner = cellStencil[stencilPointOf[k]];
        cell.corners[k] = Triple{corner.x, corner.y, corner.z};
        cell.normals[k] = Triple{cornerNormals[k].x, cornerNormals[k].y, cornerNormals[k].z};
    }
    cell.fogDistance = d;
    cell.order = order;
    if (!collectCells_)
        drawCell(cell, false);
}

// Back to front, every walk draws its cells as the stencil reaches them.
// Front to back, the walks come in reverse order; each one runs forward to
// compute its stencil, collecting the cells, which are then drawn in reverse.
void TerrainScanner::drawWalks() {
    if (!frontToBack_) {
        for (Walk const& walk : walks_)
            runWalk(walk);
        return;
    }
    collectCells_ = true;
    for (auto walk = walks_.rbegin(); walk != walks_.rend(); ++walk) {
        cellsToDraw_.clear();
        runWalk(*walk);
        for (auto cell = cellsToDraw_.rbegin(); cell != cellsToDraw_.rend(); ++cell)
            drawCell(*cell, true);
    }
    collectCells_ = false;
}

// A row walks from cellX to toX (inclusive, within e): the first cell in
// full, the following ones by the incremental update. Cells that cannot reach
// the frame are passed over without their stencil; the next cell that can
// catches the stencil up first.
void TerrainScanner::runWalk(Walk const& walk) {
    cellX = walk.cellX;
    cellY = walk.cellY;
    stencilStale = true;
    RowOfCells const row = rowOfCells(std::max(std::fabs(walk.cellX), std::fabs(walk.toX)));
    if (walk.singleCell) {
        if (cullCells_ &&
            (cellOutsideFrame(row) || (occlusionCulling_ && cellsHiddenByCoverage(cellX, cellX + cellSizeX))))
            ++cellsVisited;
        else
            visitCell(Step::Full, walk.order);
        return;
    }
    double recentX[4];  // cellX of the walk's last four cells, by cell number modulo 4
    bool stencilBehind = false;
    long long remaining = walkLimit(gridResolutionX);
    // Cells are judged hidden a run at a time: those of the walk in one block.
    int runLeft = 0;
    bool runHidden = false;
    for (long long cell = 0; (walk.ascending ? cellX < walk.toX + e : cellX >= walk.toX - e) && remaining-- > 0;
         ++cell, --runLeft) {
        recentX[cell % 4] = cellX;
        if (occlusionCulling_ && cullCells_ && runLeft <= 0) {
            runLeft = cellsLeftInBlock(walk.ascending);
            double const reach = (runLeft - 1) * cellSizeX;
            runHidden = walk.ascending ? cellsHiddenByCoverage(cellX, cellX + cellSizeX + reach)
                                       : cellsHiddenByCoverage(cellX - reach, cellX + cellSizeX);
        }
        if (cullCells_ && (runHidden || cellOutsideFrame(row))) {
            ++cellsVisited;
            stencilBehind = true;
        } else {
            if (stencilBehind)
                catchUpStencil(recentX, cell, walk.step);
            stencilBehind = false;
            visitCell(walk.step, walk.order);
        }
        cellX = walk.ascending ? cellX + cellSizeX : cellX - cellSizeX;
    }
}

// Brings the stencil to where the walk would have had it before `cell`. A
// step in X adds new points at fixed offsets from the current cell and keeps
// the others, so after a full computation and three steps every point and
// corner normal is the one the walk computes; a walk that began fewer than
// three cells back is simply redone from its start.
void TerrainScanner::catchUpStencil(double const* recentX, long long cell, Step step) {
    double const current = cellX;
    long long const start = std::max(cell - 3, 0LL);
    cellX = recentX[start % 4];
    AllesBerechnen();
    for (long long k = start + 1; k < cell; ++k) {
        cellX = recentX[k % 4];
        advanceStencil(step);
    }
    cellX = current;
}

// Sets up the four tests of cellOutsideFrame. A point (x, y, z) projects to
// column X / W and row -Y / W, with X, Y and W linear in the point. It is
// left of column c exactly when X - c W < 0 (for W > 0; a point with W <= 0
// is never drawn). Each side is moved out by eight columns or rows, far more
// than truncation and rounding can make up.
void TerrainScanner::setUpCellCulling() {
    C4Matrix const& m = camera->viewMatrix;
    auto side = [&m](int column, double sign, double limit) {
        // sign * (coordinate - limit * W) with the coordinate in `column`
        return FrameSide{sign * (m(0, column) - limit * m(0, 3)), sign * (m(1, column) - limit * m(1, 3)),
                         sign * (m(2, column) - limit * m(2, 3)), sign * (m(3, column) - limit * m(3, 3))};
    };
    double const margin = 8.0;
    frameSides_[0] = side(0, 1.0, rasteriser->clipLeft - margin);    // X < left W
    frameSides_[1] = side(0, -1.0, rasteriser->clipRight + margin);  // X > right W
    // Rows run downwards: row -Y/W above the top is Y > -top W, below the bottom Y < -bottom W.
    frameSides_[2] = side(1, -1.0, -(rasteriser->clipTop - margin));
    frameSides_[3] = side(1, 1.0, -(rasteriser->clipBottom + margin));

    double low = 0.0, high = 0.0;
    elevation->heightBounds(low, high);
    // Interpolated heights may round past the stored range by an ulp or so.
    double const slack = 1e-9 * std::max(std::fabs(low), std::fabs(high)) + 1e-9;
    cellHeightLow_ = low - slack;
    cellHeightHigh_ = high + slack;
    cullCells_ = std::isfinite(cellHeightLow_) && std::isfinite(cellHeightHigh_);
    for (FrameSide const& f : frameSides_)
        cullCells_ =
            cullCells_ && std::isfinite(f.x) && std::isfinite(f.y) && std::isfinite(f.z) && std::isfinite(f.constant);
    prepareHeightBlocks();
}

// The blocks' height counts, made once for a height map and grid and kept
// from frame to frame (the height scale alone changes, which scales them).
void TerrainScanner::prepareHeightBlocks() {
    HeightBlocks& b = heightBlocks_;
    occlusionCulling_ = false;
    double const columns = std::ceil(gridResolutionX / blockCells), rows = std::ceil(gridResolutionY / blockCells);
    // A grid of more blocks than this is culled by the frame's sides alone.
    if (!(columns >= 1 && rows >= 1 && columns * rows <= 1e6))
        return;
    occlusionCulling_ = true;
    if (b.image == elevation && b.pixels == elevation->constBits() && b.cellSizeX == cellSizeX &&
        b.cellSizeY == cellSizeY && b.columns == static_cast<long long>(columns) &&
        b.rows == static_cast<long long>(rows))
        return;
    b = HeightBlocks{elevation,
                     elevation->constBits(),
                     cellSizeX,
                     cellSizeY,
                     static_cast<long long>(columns),
                     static_cast<long long>(rows),
                     {},
                     {}};
    b.low.resize(static_cast<std::size_t>(b.columns * b.rows));
    b.high.resize(b.low.size());
    for (long long row = 0; row < b.rows; ++row)
        for (long long column = 0; column < b.columns; ++column) {
            double const firstX = static_cast<double>(column * blockCells - 1);
            double const firstY = static_cast<double>(row * blockCells - 1);
            double const x0 = firstX * cellSizeX, x1 = (firstX + blockCells + 3) * cellSizeX;
            double const y0 = firstY * cellSizeY, y1 = (firstY + blockCells + 3) * cellSizeY;
            std::size_t const k = static_cast<std::size_t>(row * b.columns + column);
            elevation->countBounds(x0, x1, y0, y1, b.low[k], b.high[k]);
        }
}

// The cells' box (their squares, widened by rounding slack, between the
// least and greatest height of their block) projected: when all eight
// corners lie in front of the eye, every point of the cells projects inside
// their screen rectangle, and any pixel the cells' triangles draw lies
// within two columns and rows of it (truncation of the corners, spans'
// reach).
bool TerrainScanner::cellsHiddenByCoverage(double fromX, double toX) const {
    HeightBlocks const& b = heightBlocks_;
    long long const column = std::clamp(static_cast<long long>(std::floor(cellX / cellSizeX)), 0LL,
                                        static_cast<long long>(gridResolutionX) - 1) /
                             blockCells;
    long long const row = std::clamp(static_cast<long long>(std::floor(cellY / cellSizeY)), 0LL,
                                     static_cast<long long>(gridResolutionY) - 1) /
                          blockCells;
    if (column >= b.columns || row >= b.rows)
        return false;
    std::size_t const block = static_cast<std::size_t>(row * b.columns + column);
    double const zScale = elevation->zScale();
    double const lowZ = b.low[block] * zScale, highZ = b.high[block] * zScale;
    double const zSlack = 1e-9 * (std::fabs(lowZ) + std::fabs(highZ)) + 1e-9;
    double const slackX = 1e-9 * (std::fabs(fromX) + std::fabs(toX)) + 1e-9;
    double const slackY = 1e-9 * (std::fabs(cellY) + std::fabs(cellSizeY)) + 1e-9;
    // The four corners of the box's floor, then of its roof, a lane each.
    simd::Double4 const x{fromX - slackX, toX + slackX, fromX - slackX, toX + slackX};
    simd::Double4 const y{cellY - slackY, cellY - slackY, cellY + cellSizeY + slackY, cellY + cellSizeY + slackY};
    double const* const m = camera->viewMatrix.m;
    auto inPlane = [&x, &y, m](int j) { return x * m[j] + y * m[4 + j]; };
    simd::Double4 const planeX = inPlane(0), planeY = inPlane(1), planeW = inPlane(3);
    double left = HUGE_VAL, right = -HUGE_VAL, top = HUGE_VAL, bottom = -HUGE_VAL;
    for (double const z : {std::min(lowZ, highZ) - zSlack, std::max(lowZ, highZ) + zSlack}) {
        simd::Double4 const w = planeW + (z * m[11] + m[15]);
        simd::Double4 const sx = (planeX + (z * m[8] + m[12])) / w;
        simd::Double4 const sy = -(planeY + (z * m[9] + m[13])) / w;
        for (int k = 0; k < 4; ++k) {
            if (!(w[k] > 1e-9))
                return false;
            left = std::min(left, sx[k]);
            right = std::max(right, sx[k]);
            top = std::min(top, sy[k]);
            bottom = std::max(bottom, sy[k]);
        }
    }
    double const margin = 2.0, reach = 16384.0;
    if (!(left >= -reach && right <= reach && top >= -reach && bottom <= reach))
        return false;  // also NaN
    return rasteriser->hiddenByTakenTiles({left - margin, right + margin, top - margin, bottom + margin});
}

// The terms of the frame-side tests for the row of cells at cellY, whose
// cells lie within widestX of x = 0 (give or take a cell). Heights are any
// the map can give; corners may lie a rounding off the nominal square.
TerrainScanner::RowOfCells TerrainScanner::rowOfCells(double widestX) const {
    RowOfCells row{};
    if (!cullCells_)
        return row;
    double const slackY = 1e-9 * (std::fabs(cellY) + std::fabs(cellSizeY));
    double const y0 = cellY - slackY, y1 = cellY + cellSizeY + slackY;
    for (int k = 0; k < 4; ++k) {
        FrameSide const& f = frameSides_[k];
        double const ty = f.y * (f.y > 0 ? y1 : y0);
        double const tz = f.z * (f.z > 0 ? cellHeightHigh_ : cellHeightLow_);
        row.constant[k] = ty + tz + f.constant;
        row.magnitude[k] = std::fabs(ty) + std::fabs(tz) + std::fabs(f.constant);
    }
    row.slackX = 1e-9 * (widestX + 2 * std::fabs(cellSizeX) + 1);
    return row;
}

// True when no point of the cell at cellX in the row can appear in the
// frame: one side's function is negative on the whole cell box, that is at
// the box corner where it is greatest, by more than its rounding.
bool TerrainScanner::cellOutsideFrame(RowOfCells const& row) const {
    double const x0 = cellX - row.slackX, x1 = cellX + cellSizeX + row.slackX;
    for (int k = 0; k < 4; ++k) {
        double const a = frameSides_[k].x;
        double const tx = a * (a > 0 ? x1 : x0);
        if (tx + row.constant[k] < -1e-9 * (std::fabs(tx) + row.magnitude[k]))
            return true;
    }
    return false;
}

int TerrainScanner::cellsLeftInBlock(bool ascending) const {
    double const column = std::floor(cellX / cellSizeX);
    if (!(column >= 0 && column < 9e18))
        return 1;
    int const inBlock = static_cast<int>(static_cast<long long>(column) % blockCells);
    return ascending ? blockCells - inBlock : inBlock + 1;
}

// The most cells a walk along one axis can meet; only a pathological cell
// size (too small to change the coordinate when added) would reach it.
long long TerrainScanner::walkLimit(double gridResolution) const {
    double const limit = gridResolution + 4;
    return limit < 9e18 ? static_cast<long long>(limit) : 9000000000000000000LL;
}

// The walk of one row at cellY from `from` to `to`.
void TerrainScanner::walkRow(double from, double to, bool ascending, Step step, Order order) {
    walks_.push_back(Walk{from, cellY, to, ascending, false, step, order});
}

// The cell at cellX, cellY, computed in full.
void TerrainScanner::visitSingleCell(Order order) {
    walks_.push_back(Walk{cellX, cellY, cellX, true, true, Step::Full, order});
}

bool TerrainScanner::quadrantEmpty(int quadrant) const {
    double const* XL = quadrantXLow;
    double const* XH = quadrantXHigh;
    double const* YL = quadrantYLow;
    double const* YH = quadrantYHigh;
    switch (quadrant) {
        case 0:
            return XL[0] == XL[1] || YH[0] == YH[3];
        case 1:
            return XH[0] == XH[1] || YH[1] == YH[2];
        case 2:
            return XH[3] == XH[2] || YL[2] == YL[1];
        default:
            return XL[3] == XL[2] || YL[3] == YL[0];
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
    long long remaining = walkLimit(gridResolutionY);
    for (cellY = quadrantYHigh[0]; cellY >= quadrantYLow[0] - e && remaining-- > 0; cellY -= cellSizeY)
        visitSingleCell(Order::AThenB);
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
    long long remaining = walkLimit(gridResolutionY);
    for (cellY = quadrantYLow[2]; cellY < quadrantYHigh[2] + e && remaining-- > 0; cellY += cellSizeY)
        visitSingleCell(Order::BThenA);
}

// The observer's row left of it, ending with the observer's own cell.
void TerrainScanner::ScanBoundary30() {
    if (quadrantEmpty(3) || quadrantEmpty(0))
        return;
    cellY = quadrantYHigh[3] + cellSizeY;
    walkRow(quadrantXLow[3], quadrantXHigh[3] + cellSizeX, true, Step::Plus, Order::AThenB);
}
