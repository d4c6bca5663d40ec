// The terrain scan: stencil, drawing order and whole frames.
#include "render_scene.h"

#include <gtest/gtest.h>

#include <utility>

#include <cstring>

namespace {

// Cell sizes and positions that are no binary fractions, so that y + 2c and
// (y + c) + c differ. The full computation places every point exactly where
// the stencil layout says, and each corner normal is, bit for bit, the
// normalised mean of the four cross products of the corner's axis
// neighbours, taken in this order, also after the normals alone are redone
// and after every step; a step along x leaves y untouched and the points
// within rounding of the full result.
TEST(CellStencil, FullAndSteppedStencilsAgree) {
    RenderScene scene;
    scene.height = [](int column, int row) { return 7 * std::sin(column * 0.7) + 5 * std::cos(row * 0.45) + row; };
    scene.build();
    ScanSetup heightsOnly;  // the stencil needs only the heights
    heightsOnly.elevation = scene.elevation.get();
    TerrainScanner stepped, full;
    for (TerrainScanner* s : {&stepped, &full}) {
        s->setUp(heightsOnly);
        s->cellSizeX = 3.1;
        s->cellSizeY = 2.7;
        s->cellY = 41.7;
    }
    // Column and row offsets of P0 .. P11 in cells.
    int const offset[12][2] = {{0, -1}, {1, -1}, {-1, 0}, {0, 0}, {1, 0}, {2, 0},
                               {-1, 1}, {0, 1},  {1, 1},  {2, 1}, {0, 2}, {1, 2}};
    // centre, right, up, left, down for P3, P4, P7, P8
    int const neighbours[4][5] = {{3, 4, 7, 2, 0}, {4, 5, 8, 3, 1}, {7, 8, 10, 6, 3}, {8, 9, 11, 7, 4}};
    auto expectNormals = [&](TerrainScanner const& s, char const* where) {
        for (int k = 0; k < 4; ++k) {
            C4Vector const* p = s.cellStencil;
            C4Vector const& c = p[neighbours[k][0]];
            C4Vector const r = p[neighbours[k][1]] - c, u = p[neighbours[k][2]] - c;
            C4Vector const l = p[neighbours[k][3]] - c, d = p[neighbours[k][4]] - c;
            C4Vector const ru = cross3(r, u, 0), ul = cross3(u, l, 0), ld = cross3(l, d, 0), dr = cross3(d, r, 0);
            C4Vector expected((((ru.x + ul.x) + ld.x) + dr.x) * 0.25, (((ru.y + ul.y) + ld.y) + dr.y) * 0.25,
                              (((ru.z + ul.z) + ld.z) + dr.z) * 0.25, 1.0);
            normalise3(expected);
            EXPECT_EQ(std::memcmp(&s.cornerNormals[k], &expected, sizeof expected), 0) << where << " N" << k;
        }
    };
    auto expectFull = [&] {
        full.cellX = stepped.cellX;
        full.AllesBerechnen();
        for (int k = 0; k < 12; ++k) {
            EXPECT_EQ(full.cellStencil[k].x, full.cellX + offset[k][0] * full.cellSizeX) << "P" << k;
            EXPECT_EQ(full.cellStencil[k].y, full.cellY + offset[k][1] * full.cellSizeY) << "P" << k;
            EXPECT_EQ(stepped.cellStencil[k].y, full.cellStencil[k].y) << "P" << k;
            EXPECT_NEAR(stepped.cellStencil[k].x, full.cellStencil[k].x, 1e-9) << "P" << k;
            EXPECT_NEAR(stepped.cellStencil[k].z, full.cellStencil[k].z, 1e-9) << "P" << k;
        }
        expectNormals(full, "full");
        for (int k = 1; k < 4; ++k)
            full.cornerNormals[k] = C4Vector(9, 9, 9, 9);
        full.AllesBerechnen1();  // N4, N7 and N8 again
        expectNormals(full, "N4, N7, N8 alone");
    };
    stepped.cellX = 6.2;
    stepped.AllesBerechnen();
    for (int step = 1; step <= 10; ++step) {  // four steps in +x, six back
        bool const plus = step <= 4;
        stepped.cellX += plus ? stepped.cellSizeX : -stepped.cellSizeX;
        plus ? stepped.TeilPlusBerechnen() : stepped.TeilMinusBerechnen();
        expectNormals(stepped, plus ? "plus" : "minus");
        expectFull();
    }
}

// Counts the pixels of one colour.
int count(QImage const& image, unsigned int colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) == colour;
    return n;
}

// Every cell around the observer is drawn: all four quadrants and the four
// boundary walks between them cover the black background.
TEST(Scan, FlatWhiteGroundUnderOverheadLightIsWhite) {
    RenderScene scene;
    scene.useBackground = true;
    scene.build();
    QImage const frame = scene.render(C4Vector(66, 66, 30, 1), 0.3, -std::numbers::pi / 2 + 0.01, 60);
    EXPECT_EQ(count(frame, 0xFFFFFFFFu), frame.width() * frame.height());
    EXPECT_GT(scene.scanner.cellsDrawn, 0);
}

// Seen from close by, where a texel covers several pixels, the filtered
// frame of a smooth texture stays within a few levels of the nearest-texel
// frame: the filter averages the texels around the point each ray meets.
TEST(Scan, FilteredFrameOfASmoothTextureFollowsTheNearestFrame) {
    RenderScene scene;
    scene.texel = [](int u, int v) { return 0xFF000000u | unsigned(u) << 16 | unsigned(v) << 8; };
    scene.build();
    QImage const nearest = scene.render(C4Vector(66, 66, 12, 1), 0.3, -1.2, 80);
    scene.exactMode = 1;
    QImage const filtered = scene.render(C4Vector(66, 66, 12, 1), 0.3, -1.2, 80);
    int worst = 0;
    for (int y = 0; y < nearest.height(); ++y)
        for (int x = 0; x < nearest.width(); ++x) {
            QRgb const a = nearest.pixel(x, y), b = filtered.pixel(x, y);
            worst = std::max(
                {worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
        }
    EXPECT_LE(worst, 3);
}

TEST(Scan, RidgeHidesTheGroundBehindIt) {
    RenderScene scene;
    // A wall of height 40 across the map at y = 60 ... 68; red ground beyond it.
    scene.height = [](int, int row) { return row * 4.0 >= 60 && row * 4.0 <= 68 ? 40.0 : 0.0; };
    scene.texel = [](int, int v) { return v > 72 ? 0xFFFF0000u : 0xFF00FF00u; };
    scene.grid = 33;
    scene.build();
    QImage const frame = scene.render(C4Vector(66, 20, 10, 1), 0.0, 0.0, 80);
    EXPECT_EQ(count(frame, 0xFFFF0000u), 0);
    EXPECT_GT(count(frame, 0xFF00FF00u), 0);

    // Without the wall the red ground is in view.
    RenderScene open;
    open.texel = scene.texel;
    open.grid = 33;
    open.build();
    QImage const openFrame = open.render(C4Vector(66, 20, 10, 1), 0.0, -0.1, 80);
    EXPECT_GT(count(openFrame, 0xFFFF0000u), 0);
}

TEST(Scan, FrontToBackGivesThePaintersFrame) {
    // Rough terrain with peaks hiding each other, cells whose size is not a
    // binary fraction (so a stencil point depends on the walk that reached
    // it), views from every quadrant, banked and tilted, with both lookups;
    // coarse cells, and cells so fine that far ones cover less than a pixel
    // (runs of them are passed over as hidden before their stencils).
    long long untaken = 0;
    for (auto const& [exactMode, grid] : {std::pair{0, 19}, std::pair{1, 19}, std::pair{0, 97}}) {
        RenderScene scene;
        scene.height = [](int column, int row) {
            return 18 * std::sin(column * 0.9) * std::cos(row * 0.7) + ((column * 7 + row * 13) % 5) * 2.5;
        };
        scene.texel = [](int u, int v) { return 0xFF000000u | unsigned(u * 37 + v * 11) % 0x1000000u; };
        scene.grid = grid;
        scene.exactMode = exactMode;
        scene.fog = 90;
        scene.light = C4Vector(0.4, -0.7, -0.6, 0.0);
        scene.build();
        struct View {
            C4Vector observer;
            double heading, tilt, bank;
        };
        View const views[] = {
            {C4Vector(20, 25, 30, 1), 0.6, -0.35, 0.0},   {C4Vector(110, 30, 26, 1), -0.9, -0.3, 0.2},
            {C4Vector(100, 115, 40, 1), 3.5, -0.5, -0.3}, {C4Vector(30, 110, 22, 1), 2.4, -0.2, 0.0},
            {C4Vector(66, 66, 60, 1), 1.0, -1.2, 0.5},    {C4Vector(-20, -30, 45, 1), 0.8, -0.4, 0.0}};
        for (View const& view : views) {
            scene.scanner.drawingOrder = TerrainScanner::DrawingOrder::BackToFront;
            QImage const painted = scene.render(view.observer, view.heading, view.tilt, 90, view.bank);
            long long const painterPixels = scene.scanner.pixelsDrawn;
            // Front to back the frame is not cleared first: pixels no triangle
            // takes get the clear colour at the end, whatever was there.
            scene.frame->fill(0xFF00FF00u);
            scene.scanner.drawingOrder = TerrainScanner::DrawingOrder::FrontToBack;
            QImage const frontToBack = scene.render(view.observer, view.heading, view.tilt, 90, view.bank);
            untaken += static_cast<long long>(scene.width) * scene.height_ - scene.scanner.pixelsDrawn;
            EXPECT_TRUE(frontToBack == painted) << "exactMode " << exactMode << ", grid " << grid << ", observer "
                                                << view.observer.x << "," << view.observer.y;
            // Every pixel is coloured at most once, and hidden terrain is never shaded.
            EXPECT_LE(scene.scanner.pixelsDrawn, static_cast<long long>(scene.width) * scene.height_);
            EXPECT_LE(scene.scanner.pixelsDrawn, painterPixels);
        }
    }
    EXPECT_GT(untaken, 0);  // the views show sky
}

// Guards a crash: the vector code once needed more alignment than the
// objects copied for a render context declared. Every object of a context,
// wherever the heap may put it, draws the same frame.
TEST(Scan, SameFrameWhereverTheObjectsLie) {
    RenderScene scene;
    scene.height = [](int column, int row) { return 12 * std::sin(column * 0.7) * std::cos(row * 0.5); };
    scene.texel = [](int u, int v) { return 0xFF000000u | unsigned(u * 37 + v * 11) % 0x1000000u; };
    scene.exactMode = 1;
    scene.build();
    C4Vector const observer(20, 25, 30, 1);
    QImage const expected = scene.render(observer, 0.6, -0.35, 90);
    struct Context {
        TextureImage texture;
        ElevationImage elevation;
        Transformation camera;
        TextureImage frame;
        TerrainScanner scanner;
    };
    testsupport::atEveryAlignment<Context>(
        [&] {
            return Context{*scene.texture, *scene.elevation,
                           Transformation(nullptr, scene.light, scene.width, scene.height_),
                           TextureImage(scene.width, scene.height_, QImage::Format_RGB32), TerrainScanner()};
        },
        [&](Context& context, std::size_t offset) {
            context.texture.setBackgroundColor(scene.texture->backgroundColor);
            context.camera.SetzeTexturDatei(&context.texture);
            context.camera.SetView(observer, 0.6, -0.35, 90, 0.0);
            scene.scan(context.scanner, context.camera, context.elevation, context.texture, context.frame);
            EXPECT_TRUE(context.frame == expected) << "context at offset " << offset;
        });
}

TEST(Scan, MirroredHeadingMirrorsTheFrame) {
    // A scene symmetric about x = 66 seen from the symmetry plane: headings
    // +h and -h give mirrored frames, up to the one-pixel asymmetry of
    // truncation and the tiny observer offsets. Each frame is far from
    // symmetric itself, so only a heading that turns the right way passes.
    RenderScene scene;
    scene.height = [](int column, int row) { return 6 * std::cos((column - 16.5) * 0.5) + row * 0.2; };
    scene.texel = [](int u, int v) {
        unsigned const d = unsigned(std::abs(u - 66)) * 3;
        return 0xFF000000u | (d & 255) << 16 | unsigned(v & 255) << 8;
    };
    scene.build();
    QImage const right = scene.render(C4Vector(66, 10, 25, 1), 0.3, -0.4, 80);
    QImage const left = scene.render(C4Vector(66, 10, 25, 1), -0.3, -0.4, 80);
    // Pixels whose red channel matches the other image's at the mirrored
    // place (or one pixel beside it).
    auto matching = [](QImage const& a, QImage const& b) {
        QImage const mirrored = b.mirrored(true, false);
        int close = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 1; x < a.width(); ++x)
                close += std::abs(qRed(a.pixel(x, y)) - qRed(mirrored.pixel(x - 1, y))) <= 8 ||
                         std::abs(qRed(a.pixel(x, y)) - qRed(mirrored.pixel(x, y))) <= 8;
        return close;
    };
    int const pixels = right.width() * right.height();
    EXPECT_GT(matching(right, left), pixels * 95 / 100);
    EXPECT_LT(matching(right, right), pixels * 80 / 100);
}

}  // namespace
