// Draws one frame of terrain as the painter's algorithm defines it: bounds
// the visible part of the grid, then visits its cells from the far corners
// towards the observer, each cell as two triangles with corner points and
// normals from a sliding 12-point stencil, every triangle painting over what
// lies behind it.
//
// By default the frame is drawn front to back instead, with the same pixels:
// the walks along grid rows are taken in reverse order, each row's stencil is
// still computed in its own walking direction (a stencil point's coordinates
// depend on the path that reached it), and its cells are then drawn in
// reverse with the rasteriser's first-writer-wins coverage. Hidden terrain
// then costs no shading or texture reads.
//
// A TerrainScanner, with its own camera, height-map object and frame buffer,
// is one rendering context: all scratch state of a frame lives here, so
// several scanners can draw different frames on different threads while they
// share the (read-only) image data.
#pragma once

#include "elevation_image.h"
#include "geometry.h"
#include "screen_trigon.h"
#include "texture_image.h"
#include "transformation.h"

#include <memory>
#include <vector>

// What a scan draws with and where to: the camera, height map and frame
// buffer of one rendering context and the run's light, sizes and grid. The
// fog distance changes from frame to frame.
struct ScanSetup {
    Transformation* camera = nullptr;
    ElevationImage* elevation = nullptr;
    TextureImage* frameImage = nullptr;
    C4Vector lightDirection;
    int renderWidth = 0;
    int renderHeight = 0;
    double terrainExtentX = 0.0;
    double terrainExtentY = 0.0;
    double gridResolutionX = 1.0;
    double gridResolutionY = 1.0;
    double fogDistance = 0.0;
};

class TerrainScanner : private ScanSetup {
  public:
    explicit TerrainScanner(ScanSetup const& setup = {});
    ~TerrainScanner();

    // Points the scanner at another context's objects.
    void setUp(ScanSetup const& setup) { static_cast<ScanSetup&>(*this) = setup; }
    void setFogDistance(double distance) { fogDistance = distance; }

    // Clears the frame buffer (to `background` when useBackground is set,
    // else to the grey of level ground under the light) and draws the terrain.
    void Scan(TextureImage* texture, bool useBackground, unsigned int background, int exactMode);

    enum class DrawingOrder { FrontToBack, BackToFront };
    // Both orders give the same frame; back to front paints every triangle.
    DrawingOrder drawingOrder = DrawingOrder::FrontToBack;

    // Restricts drawing to frame rows first ... last (inclusive), so that
    // several scanners can share one frame in horizontal bands. The default is
    // the whole frame.
    void setRowBand(int first, int last);

    // Visible rectangle and quadrant limits.
    void ClipView();
    void ClipBottomView(C4Vector* plane);
    void ClipSideView(C4Vector* plane);
    void Clip(C4Vector& point);
    void setQuadrantLimits();
    void RoundTheLimits();

    // The eight walks, in drawing order.
    void ScanQuadrant0();
    void ScanQuadrant1();
    void ScanQuadrant2();
    void ScanQuadrant3();
    void ScanBoundary01();
    void ScanBoundary12();
    void ScanBoundary23();
    void ScanBoundary30();

    // Cell stencil: full computation, the corner normals N4, N7 and N8 alone
    // (from the points in place), and the updates after a step of one cell
    // in +X or -X.
    void AllesBerechnen();
    void AllesBerechnen1();
    void TeilPlusBerechnen();
    void TeilMinusBerechnen();

    // Per-frame state.
    double viewXMin = 0.0, viewXMax = 0.0, viewYMin = 0.0, viewYMax = 0.0;
    double quadrantXLow[4] = {}, quadrantXHigh[4] = {}, quadrantYLow[4] = {}, quadrantYHigh[4] = {};
    C4Vector scanObserver;
    double cellSizeX = 0.0, cellSizeY = 0.0;
    C4Vector cellStencil[12];
    C4Vector cornerNormals[4];  // N3, N4, N7, N8
    double cellX = 0.0, cellY = 0.0;
    bool stencilStale = true;
    std::unique_ptr<ScreenTrigon> rasteriser;
    C4Vector triangleCorners[3];
    C4Vector triangleNormals[3];
    // Screen positions of the cell's corners P3, P4, P7 and P8 (only corners
    // are projected), kept along with the stencil: a grid point is shared by
    // up to six triangles, and its projection depends on the point alone.
    enum class Projection : unsigned char { Unknown, OnScreen, Dropped };
    enum CellCorner { CornerP3, CornerP4, CornerP7, CornerP8 };
    static constexpr int stencilPointOf[4] = {3, 4, 7, 8};  // by CellCorner
    C4Vector cornerScreen[4];
    Projection cornerProjection[4] = {};

    // Number of cells visited and drawn in the last Scan (for tests and tuning).
    long long cellsVisited = 0;
    long long cellsDrawn = 0;
    long long pixelsDrawn = 0;

  private:
    enum class Step { Full, Plus, Minus };
    enum class Order { AThenB, BThenA };

    // One walk of the scan in painter's order: a row of cells from cellX
    // towards toX, or a single cell computed in full.
    struct Walk {
        double cellX, cellY, toX;
        bool ascending;
        bool singleCell;
        Step step;
        Order order;
    };
    // What a cell inside the fog limit needs for drawing: its corners P3, P4,
    // P7, P8 with their normals and screen positions, as the stencil had them.
    // Only what varies is kept (stencil points and corner normals have w = 1,
    // and the rasteriser reads a screen position's column and row alone), so
    // that collecting a row's cells copies little.
    struct Triple {
        double x, y, z;
    };
    struct CellToDraw {
        CellToDraw() {}  // filled in place: nothing to clear first
        Triple corners[4];
        Triple normals[4];
        double screenX[4], screenY[4];
        bool onScreen[4];
        double fogDistance;
        Order order;
    };
    // The fog of a cell, computed on first use.
    struct CellFog {
        double distance;  // in fog distances
        bool known = false;
        double value = 0.0;
        double amount();
    };

    // A linear function of a world point (w = 1) that is negative wherever a
    // point cannot be seen on one side of the frame; see setUpCellCulling.
    struct FrameSide {
        double x, y, z, constant;
    };

    void clearFrame(unsigned int colour);
    // The parts of the frame-side tests that are the same along one row of cells.
    struct RowOfCells {
        double constant[4];   // the y, z and constant terms' sum, per side
        double magnitude[4];  // the sum of their magnitudes
        double slackX;        // how far a corner may lie off the nominal cell in X
    };
    void setUpCellCulling();
    RowOfCells rowOfCells(double widestX) const;
    bool cellOutsideFrame(RowOfCells const& row) const;
    // Front to back: true when every pixel that the cells of the row at
    // cellY between x = fromX and toX could draw is taken already, judged
    // before their stencils from the height bounds of the block of cells at
    // cellX.
    bool cellsHiddenByCoverage(double fromX, double toX) const;
    // How many cells from cellX on, walking in the given direction, lie in
    // the same block of cells.
    int cellsLeftInBlock(bool ascending) const;
    void prepareHeightBlocks();
    void catchUpStencil(double const* recentX, long long cell, Step step);
    void clipCornerRays(C4Vector* plane, bool aboveGroundOnly);
    void drawWalks();
    void runWalk(Walk const& walk);
    void advanceStencil(Step step);
    void visitCell(Step step, Order order);
    void drawCell(CellToDraw const& cell, bool reversed);
    void drawTriangle(CellToDraw const& cell, int a, int b, int c, CellFog& fog);
    bool project(CellCorner corner, C4Vector& screen);
    // After a step the corner `from` lies where `to` was.
    void keepCornerProjection(CellCorner from, CellCorner to) {
        cornerScreen[to] = cornerScreen[from];
        cornerProjection[to] = cornerProjection[from];
    }
    void walkRow(double from, double to, bool ascending, Step step, Order order);
    void visitSingleCell(Order order);
    bool quadrantEmpty(int quadrant) const;
    template <int A, int B, int C, int D>
    void liftPoints();
    // Where a corner normal comes from: its slot in cornerNormals and the
    // stencil points of the corner and of its right, upper, left and lower
    // neighbours.
    struct NormalAt {
        int normal, centre, right, up, left, down;
    };
    static constexpr NormalAt normalsAt[4] = {
        {0, 3, 4, 7, 2, 0}, {1, 4, 5, 8, 3, 1}, {2, 7, 8, 10, 6, 3}, {3, 8, 9, 11, 7, 4}};  // P3, P4, P7, P8
    // The normals normalsAt[First] and normalsAt[Second].
    template <int First, int Second>
    void cornerNormals2();
    // Inline at every step of the stencil: it is a large share of a cell's work.
    [[gnu::always_inline]] inline void cornerNormal(int centre, int right, int up, int left, int down,
                                                    C4Vector& normal) const;
    long long walkLimit(double gridResolution) const;

    int bandFirst_ = -1;
    int bandLast_ = -1;
    // The frame's walks in painter's order, the cells of the walk being
    // drawn front to back, and the rasteriser's coverage bytes.
    std::vector<Walk> walks_;
    std::vector<CellToDraw> cellsToDraw_;
    bool collectCells_ = false;
    bool frontToBack_ = false;  // this frame's order: drawingOrder, unless the coverage could not be had
    CoverageBytes coverage_;
    // Cells that cannot reach the frame are passed over, front to back only.
    bool cullCells_ = false;
    FrameSide frameSides_[4] = {};
    double cellHeightLow_ = 0.0, cellHeightHigh_ = 0.0;

    // The least and greatest height count at the corners of the cells of
    // each block of blockCells x blockCells cells (widened by a cell before
    // and two after on each axis, since a walk's cell positions may round off
    // the grid), for the height map and grid they were made for.
    static constexpr int blockCells = 4;
    struct HeightBlocks {
        ElevationImage const* image = nullptr;
        uchar const* pixels = nullptr;
        double cellSizeX = 0.0, cellSizeY = 0.0;
        long long columns = 0, rows = 0;
        std::vector<int> low, high;
    } heightBlocks_;
    bool occlusionCulling_ = false;
};
