// The rasteriser and the colour of a pixel.
#include "render_scene.h"
#include "simd.h"

#include <gtest/gtest.h>

#include <climits>
#include <limits>
#include <set>

namespace {

constexpr unsigned int sentinel = 0xFF123456u;

// A frame buffer, a camera looking straight down at the ground from (50, 50, 100)
// and a uniform texture.
struct Bench {
    explicit Bench(unsigned int texelColour, C4Vector light = C4Vector(0, 0, -1, 0))
        : texture(128, 128, QImage::Format_ARGB32),
          frame(100, 100, QImage::Format_RGB32),
          camera(nullptr, light, 100, 100) {
        texture.fill(texelColour);
        texture.refreshPixelCache();
        frame.fill(sentinel);
        camera.SetzeTexturDatei(&texture);
        camera.SetView(C4Vector(50, 50, 100, 1), 0, -std::numbers::pi / 2, 200, 0);
        trigon = std::make_unique<ScreenTrigon>(&frame, &texture, 0, 0, 100, 100, light, &camera, 0);
    }

    // A level triangle around the observer, in the drawing winding.
    void drawGround(double fog, C4Vector normal = C4Vector(0, 0, 1, 1)) {
        C4Vector corners[3] = {{-300, -300, 0, 1}, {-300, 500, 0, 1}, {700, 500, 0, 1}};
        C4Vector normals[3] = {normal, normal, normal};
        camera.ZeichneEinDreieck(corners, normals, fog, trigon.get());
    }

    unsigned int centre() const { return frame.pixel(50, 40); }

    TextureImage texture;
    TextureImage frame;
    Transformation camera;
    std::unique_ptr<ScreenTrigon> trigon;
};

TEST(PixelColour, ConversionsTruncateAndGiveIntMinOutOfRange) {
    // The colour arithmetic's conversions: toward zero, and INT_MIN for NaN
    // or a value no int holds, like the x86 instruction; the packed
    // conversion gives each lane the same, whichever lane it is in.
    struct Case {
        double value;
        int truncated;
    };
    Case const cases[] = {{254.99, 254},
                          {-0.7, 0},
                          {-3.9, -3},
                          {2147483647.9, INT_MAX},
                          {-2147483648.9, INT_MIN},
                          {2147483648.0, INT_MIN},
                          {-1e300, INT_MIN},
                          {std::numeric_limits<double>::quiet_NaN(), INT_MIN},
                          {std::numeric_limits<double>::infinity(), INT_MIN}};
    for (Case const& c : cases) {
        EXPECT_EQ(simd::truncate(c.value), c.truncated) << c.value;
        for (int lane = 0; lane < 4; ++lane) {
            simd::Double4 values{1.5, -2.5, 3.5, -4.5};
            values[lane] = c.value;
            simd::Int4 const truncated = simd::truncate(values);
            EXPECT_EQ(truncated[lane], c.truncated) << c.value << " in lane " << lane;
            EXPECT_EQ(truncated[(lane + 1) % 4], simd::truncate(values[(lane + 1) % 4]));
        }
    }
}

// The colour of the centre pixel of lit ground: texel times shade times
// (1 - fog), plus the fog grey of level ground, each channel truncated.
TEST(PixelColour, ShadeAndFogOfOnePixel) {
    double const root3 = std::sqrt(3.0);
    C4Vector const overhead(0, 0, -1, 0), below(0, 0, 1, 0), none(0, 0, 0, 0);
    C4Vector const level(0, 0, 1, 1);
    struct Case {
        char const* what;
        unsigned int texel;
        C4Vector light, normal;
        double fog;
        bool textured;
        unsigned int colour;
    };
    Case const cases[] = {
        {"lit texel, alpha dropped", 0x00804020u, overhead, level, 0.0, true, 0xFF804020u},
        {"fog adds the grey of level ground", 0x00804020u, overhead, level, 0.5, true, 0xFFBF9F8Fu},
        // Light 60 degrees from straight down: shade 0.5, level ground's
        // brightness 0.5, so the fog grey is 255 * 0.5 * 0.5.
        {"oblique light under fog", 0xFFFFFFFFu, {root3 / 2, 0, -0.5, 0}, level, 0.5, true, 0xFF7E7E7Eu},
        {"facing away from the light", 0xFFFFFFFFu, below, level, 0.0, true, 0xFF000000u},
        {"facing away, only the fog", 0xFFFFFFFFu, below, level, 0.5, true, 0xFF7F7F7Fu},
        {"no light", 0xFFFFFFFFu, none, level, 0.0, true, 0xFF000000u},
        {"zero normal is unlit", 0xFFFFFFFFu, overhead, {0, 0, 0, 1}, 0.5, true, 0xFF7F7F7Fu},
        // Normal 60 degrees from the light: shade 0.5 on white.
        {"untextured", 0xFFFFFFFFu, overhead, {root3 / 2, 0, 0.5, 1}, 0.0, false, 0xFF7F7F7Fu},
    };
    for (Case const& c : cases) {
        Bench bench(c.texel, c.light);
        if (!c.textured)
            bench.trigon->texture = nullptr;
        bench.drawGround(c.fog, c.normal);
        EXPECT_EQ(bench.centre(), c.colour) << c.what;
    }
}

// Channel products beyond the int range convert to INT_MIN, and the fog grey
// is added with wrap-around, channel by channel.
// Guards a sanitizer finding: the channel sums overflowed a signed int when
// the fog amount was not a number or huge.
TEST(PixelColour, OutOfRangeChannelsWrapLikeTheMachine) {
    // Texel channels 255, 128 and 1 under full light; each channel is
    // int(k * (1 - fog)) + int(255 * fog), wrapped to eight bits.
    struct Case {
        double fog;
        unsigned int colour;
    };
    Case const cases[] = {
        // 255 * 10000001 > INT_MAX: INT_MIN; 255 * -1e7 < INT_MIN: INT_MIN;
        // INT_MIN + INT_MIN wraps to 0. 128 * 10000001 = 0x4C4B4080 and
        // 1 * 10000001 = 0x989681 keep their low bytes 0x80 and 0x81.
        {-1e7, 0xFF008081u},
        // Everything in range: 765000255 - 765000000 = 255, 384000128 -
        // 765000000 = -381000000 (low byte 0x40), 3000001 - 765000000 (0x81).
        {-3e6, 0xFFFF4081u},
        // Both terms INT_MIN in every channel.
        {-1e300, 0xFF000000u},
        {std::numeric_limits<double>::quiet_NaN(), 0xFF000000u},
    };
    for (Case const& c : cases) {
        Bench bench(0x00FF8001u);
        bench.drawGround(c.fog);
        EXPECT_EQ(bench.centre(), c.colour) << c.fog;
    }
}

TEST(PixelColour, NearestTexelTruncatesTowardZero) {
    Bench bench(0xFFFFFFFFu);
    bench.texture.setPixel(48, 127 - 53, 0xFF00FF00u);  // texel (48, 53), v from the bottom
    bench.texture.refreshPixelCache();
    C4Vector ground[3] = {{0, 0, 0, 1}, {0, 1, 0, 1}, {1, 1, 0, 1}};
    bench.camera.SetzeDreiecksEckpunkte(ground);
    int matches = 0;
    for (int row = 0; row < 100; ++row)
        for (int column = 0; column < 100; ++column) {
            C4Vector hit;
            bench.camera.PunktImDreieck(column, row, ground, &hit);
            unsigned int colour = 0;
            bench.camera.FarbeImDreieck2(column, row, &colour);
            bool const inTexel = hit.x >= 48 && hit.x < 49 && hit.y >= 53 && hit.y < 54;
            EXPECT_EQ(colour == 0xFF00FF00u, inTexel) << column << "," << row << " hits " << hit.x << "," << hit.y;
            matches += inTexel;
        }
    EXPECT_GT(matches, 0);
}

// Rasterises projected corners directly and returns the written pixels.
std::set<std::pair<int, int>> rasterise(C4Vector a, C4Vector b, C4Vector c, int width = 100, int height = 100) {
    Bench bench(0xFFFFFFFFu);
    TextureImage frame(width, height, QImage::Format_RGB32);
    frame.fill(sentinel);
    ScreenTrigon trigon(&frame, nullptr, 0, 0, width, height, C4Vector(0, 0, -1, 0), &bench.camera, 0);
    C4Vector screen[3] = {a, b, c};
    C4Vector world[3] = {{0, 0, 0, 1}, {0, 1, 0, 1}, {1, 1, 0, 1}};
    C4Vector n(0, 0, 1, 1);
    C4Vector normals[3] = {n, n, n};
    trigon.Rechnen(screen, world, normals, 0.0);
    std::set<std::pair<int, int>> written;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (frame.pixel(x, y) != sentinel) {
                EXPECT_EQ(frame.pixel(x, y), 0xFFFFFFFFu);
                written.insert({x, y});
            }
    return written;
}

TEST(ScreenTrigonRechnen, FillsRowsBetweenTruncatedEdges) {
    auto const written = rasterise(C4Vector(10, 5, 0, 1), C4Vector(20, 5, 0, 1), C4Vector(15, 15, 0, 1));
    std::set<std::pair<int, int>> expected;
    for (int row = 5; row <= 15; ++row)
        for (int column = int(15 - 0.5 * (15 - row)); column <= int(15 + 0.5 * (15 - row)); ++column)
            expected.insert({column, row});
    EXPECT_EQ(written, expected);
}

TEST(ScreenTrigonRechnen, CornersOnOneRowDrawTwoPixels) {
    auto const written = rasterise(C4Vector(30, 7, 0, 1), C4Vector(10, 7, 0, 1), C4Vector(20, 7, 0, 1));
    EXPECT_EQ(written, (std::set<std::pair<int, int>>{{20, 7}, {30, 7}}));
}

TEST(ScreenTrigonRechnen, ClipsToTheFrame) {
    auto const written = rasterise(C4Vector(-50, -20, 0, 1), C4Vector(150, 10, 0, 1), C4Vector(0, 130, 0, 1), 40, 30);
    ASSERT_FALSE(written.empty());
    for (auto [x, y] : written) {
        EXPECT_GE(x, 0);
        EXPECT_LT(x, 40);
        EXPECT_GE(y, 0);
        EXPECT_LT(y, 30);
    }
    EXPECT_TRUE(written.count({0, 0}));
    // Reaching the frame by one corner only, or by its last column only, is enough.
    EXPECT_TRUE(
        rasterise(C4Vector(20, 25, 0, 1), C4Vector(10, 90, 0, 1), C4Vector(30, 90, 0, 1), 40, 30).count({20, 25}));
    EXPECT_TRUE(
        rasterise(C4Vector(39, 5, 0, 1), C4Vector(60, 5, 0, 1), C4Vector(39, 20, 0, 1), 40, 30).count({39, 10}));
}

TEST(ZeichneEinDreieck, DropsBackFacesAndCornersBehindTheEye) {
    Bench bench(0xFFFFFFFFu);
    C4Vector n(0, 0, 1, 1);
    C4Vector normals[3] = {n, n, n};
    C4Vector reversed[3] = {{-300, -300, 0, 1}, {700, 500, 0, 1}, {-300, 500, 0, 1}};
    bench.camera.ZeichneEinDreieck(reversed, normals, 0.0, bench.trigon.get());
    C4Vector aboveEye[3] = {{-300, -300, 0, 1}, {-300, 500, 0, 1}, {700, 500, 200, 1}};
    bench.camera.ZeichneEinDreieck(aboveEye, normals, 0.0, bench.trigon.get());
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(bench.frame.pixel(x, y), sentinel) << x << "," << y;
    bench.drawGround(0.0);  // the same ground in the drawing winding does draw
    EXPECT_NE(bench.centre(), sentinel);
}

}  // namespace
