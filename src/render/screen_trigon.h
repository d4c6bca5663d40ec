// The triangle rasteriser: fills one projected terrain triangle row by row
// into the frame buffer, colouring every covered pixel from the texture point
// its ray meets, shaded by the interpolated normal and mixed with fog.
#pragma once

#include "geometry.h"
#include "machine.h"
#include "pixel_colour.h"
#include "texture_image.h"

#include <algorithm>
#include <vector>

class Transformation;

// A coverage byte per pixel, written whole at the start of every frame.
using CoverageBytes = std::vector<unsigned char, HugePageAllocator<unsigned char>>;

class ScreenTrigon {
  public:
    // Writes into `target` only inside the rectangle starting at
    // (clipLeft, clipTop) with the given width and height.
    ScreenTrigon(TextureImage* target, TextureImage* texture, int clipLeft, int clipTop, int width, int height,
                 C4Vector light, Transformation* camera, int exactMode);
    virtual ~ScreenTrigon();

    // Draws the triangle with projected corners `screen` (whole-number column
    // and row), world corners, corner normals and fog amount, unless it lies
    // wholly outside the clip rectangle. The arrays are read, not reordered.
    void Rechnen(C4Vector* screen, C4Vector* world, C4Vector* normals, double fog);

    // The screen rectangle spanned by a triangle's projected corners.
    struct CornerBox {
        double leftmost, rightmost, top, bottom;
    };
    static CornerBox boxOf(C4Vector const* screen) {
        return {std::min({screen[0].x, screen[1].x, screen[2].x}), std::max({screen[0].x, screen[1].x, screen[2].x}),
                std::min({screen[0].y, screen[1].y, screen[2].y}), std::max({screen[0].y, screen[1].y, screen[2].y})};
    }

    // True when a triangle with these projected corners cannot write a
    // pixel: it lies wholly left, right, above or below the clip rectangle.
    bool outsideClip(C4Vector const* screen) const { return outsideClip(boxOf(screen)); }
    bool outsideClip(CornerBox const& box) const {
        return box.bottom < clipTop || box.top > clipBottom || box.rightmost < clipLeft - 1.0 ||
               box.leftmost > clipRight + 1.0;
    }

    int clipLeft;
    int clipTop;
    int clipRight;
    int clipBottom;
    C4Vector lightDirection;
    double flatBrightness;
    TextureImage* target;
    TextureImage* texture;
    Transformation* camera;
    int exactMode;

    // Pixels coloured so far (a pixel drawn over counts again).
    long long pixelsDrawn = 0;

    // Switches to first-writer-wins drawing: a pixel is coloured only while
    // it is free, and then taken. Each triangle's upper half is drawn before
    // its lower half, the reverse of the painter's order, so triangles handed
    // over in exactly the reverse order of a painter's run give that run's
    // frame: every pixel keeps the colour of its last painter. A triangle that
    // finds no free pixel costs no shading set-up at all. `storage` (kept by
    // the caller from frame to frame) holds a byte per pixel of the clip
    // rectangle and the count of free pixels in each tile of 4 x 4.
    void useCoverage(CoverageBytes& storage);
    // Under first-writer-wins, gives every pixel still free the colour
    // `colour` (the frame need not be cleared before drawing).
    void fillUntaken(unsigned int colour);

    // Under first-writer-wins: true when every pixel a triangle with this
    // corner box could write is taken already, judged by whole tiles.
    [[gnu::always_inline]] bool hiddenByTakenTiles(CornerBox const& box) const;

  private:
    enum class Lookup { Untextured, Nearest, Filtered };

    // Per-triangle terms shared by all its rows.
    struct TriangleTerms {
        bool affineNormal;  // false: every pixel uses averageNormal
        double a[3], b[3], c[3];
        C4Vector averageNormal;
        pixelcolour::Fog fog;
    };

    // The triangle being drawn: its corners in the order of their rows (top
    // first), and its shading terms once some pixel has needed them.
    struct Triangle {
        // The terms are left unset until prepareTerms: most small triangles
        // of a front-to-back frame never need them.
        Triangle(C4Vector* screen_, C4Vector* world_, C4Vector* normals_, double fog_)
            : screen(screen_), world(world_), normals(normals_), fog(fog_) {}
        C4Vector* screen;
        C4Vector* world;
        C4Vector* normals;
        double fog;
        int order[3];  // by row: the k-th corner from the top is order[k]
        C4Vector const& corner(int k) const { return screen[order[k]]; }
        C4Vector& worldCorner(int k) const { return world[order[k]]; }
        C4Vector const& normal(int k) const { return normals[order[k]]; }
        bool termsReady = false;
        TriangleTerms terms;
    };

    static void sortByRow(C4Vector const* screen, int (&order)[3]);
    [[gnu::always_inline]] static void advanceNormal(TriangleTerms const& terms, C4Vector& normal);
    void prepareTerms(Triangle& triangle);
    void drawHalf(Triangle& triangle, double start, int first, int last, int step, double leftSlope, double rightSlope);
    void drawRow(Triangle& triangle, int row, double left, double right);
    void drawFreePixels(Triangle& triangle, int row, int first, int last);
    void drawFreeRun(Triangle& triangle, int row, int first, int from, int to, unsigned char* covered);
    void drawPixels(TriangleTerms const& terms, int row, int first, int from, int to, unsigned char const* covered);
    // drawPixels' work, compiled for AVX2 too: each span is coloured by one
    // of the two copies, with every ray, texel filter and colour inlined.
    [[gnu::always_inline]] static void colourSpan(ScreenTrigon* self, TriangleTerms const* terms, int row, int first,
                                                  int from, int to, unsigned char const* covered);
    [[gnu::always_inline]] void colourNearest(pixelcolour::Fog const& fog, QRgb* pixels, int skip, int count,
                                              unsigned char const* covered);
    [[gnu::always_inline]] unsigned int nearestPixel(TriangleTerms const& terms, int column, int row,
                                                     C4Vector const& normal) const;
    template <Lookup lookup>
    [[gnu::always_inline]] void drawSpan(TriangleTerms const& terms, int row, int first, int from, int to,
                                         C4Vector normal, unsigned char const* covered);

    unsigned char* coverage_ = nullptr;  // null: painting over
    unsigned char* freeInTile_ = nullptr;
    int tileColumns_ = 0;
    static constexpr int tileShift = 2;  // tiles of 4 x 4 pixels

    uchar* frameBits_;
    qsizetype frameBytesPerLine_;

    // Per-span scratch, one entry per column of the clip rectangle: the
    // shades and texture points of a span are computed in separate passes,
    // so that the rays (the bulk of the arithmetic) run on packed registers
    // and the texel reads of a span overlap.
    struct SpanScratch {
        std::vector<double> shade, hitX, hitY, denominator;
        // The filtered lookup's ray a quarter pixel up-left.
        std::vector<double> leftX, leftY, leftDenominator;
    } span_;
};

// Asked for every triangle and every run of cells: inline in the scan.
inline bool ScreenTrigon::hiddenByTakenTiles(CornerBox const& box) const {
    if (coverage_ == nullptr)
        return false;
    // Spans run between the edges, which stay between the corners' columns;
    // truncation may reach one column further either way. The box lies
    // within +-16386 (corners and the scan's margins), so it converts to int.
    int const firstColumn = std::max(static_cast<int>(box.leftmost) - 1, clipLeft) - clipLeft;
    int const lastColumn = std::min(static_cast<int>(box.rightmost) + 1, clipRight) - clipLeft;
    int const firstRow = std::max(static_cast<int>(box.top), clipTop) - clipTop;
    int const lastRow = std::min(static_cast<int>(box.bottom), clipBottom) - clipTop;
    if (firstColumn > lastColumn || firstRow > lastRow)
        return false;
    for (int tileRow = firstRow >> tileShift; tileRow <= lastRow >> tileShift; ++tileRow)
        for (int tileColumn = firstColumn >> tileShift; tileColumn <= lastColumn >> tileShift; ++tileColumn)
            if (freeInTile_[tileRow * tileColumns_ + tileColumn] != 0)
                return false;
    return true;
}
