#include "texture_image.h"

#include "image_file.h"
#include "machine.h"
#include "test_support.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kStep = 1.0 / 1024.0;  // exactly representable offset from an edge

// A texture whose texel (column, row) from the top-left has colour(column, row).
TextureImage makeTexture(int width, int height, std::function<QRgb(int, int)> const& colour) {
    TextureImage image(width, height, QImage::Format_ARGB32);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            image.setPixel(column, row, colour(column, row));
    image.refreshPixelCache();
    return image;
}

TextureImage makeUniform(int width, int height, QRgb colour) {
    return makeTexture(width, height, [colour](int, int) { return colour; });
}

TextureImage makeRandom(int size, unsigned seed) {
    std::mt19937 random(seed);
    return makeTexture(size, size, [&random](int, int) { return static_cast<QRgb>(random()); });
}

// Gaussian filter computed directly from QImage::pixel, one texel at a time.
unsigned int referenceGaussian(QImage const& image, double const* weights, double u, double v,
                               unsigned int background) {
    int const w = image.width(), h = image.height();
    double const bx = u - 1.0;
    double const by = ((h - 1) - v) - 1.0;
    if (!(0.0 <= bx && bx < w - 3 && 0.0 <= by && by < h - 3))
        return background;
    int const i0 = static_cast<int>(std::trunc(bx)), j0 = static_cast<int>(std::trunc(by));
    double const fx = bx - std::floor(bx), fy = by - std::floor(by);
    double const dx[4] = {1 + fx, fx, 1 - fx, 2 - fx};
    double const dy[4] = {1 + fy, fy, 1 - fy, 2 - fy};
    double s = 1e-8, sr = 0, sg = 0, sb = 0;
    for (int m = 0; m < 4; ++m) {
        for (int k = 0; k < 4; ++k) {
            double const weight = weights[static_cast<int>(10 * (dx[k] * dx[k]) + 10 * (dy[m] * dy[m]))];
            QRgb const texel = image.pixel(i0 + k, j0 + m);
            s += weight;
            sr += qRed(texel) * weight;
            sg += qGreen(texel) * weight;
            sb += qBlue(texel) * weight;
        }
    }
    auto byte = [](double c) { return c > 255 ? 255u : static_cast<unsigned int>(c); };
    return 0xFF000000u | byte(sr / s) << 16 | byte(sg / s) << 8 | byte(sb / s);
}

unsigned int gaussian(TextureImage& image, double u, double v) {
    unsigned int out = 0;
    image.GetColor(C4Vector(u, v, 0.0, 1.0), &out);
    return out;
}

unsigned int nearest(TextureImage const& image, double u, double v) {
    unsigned int out = 0;
    image.GetColorInt(C4Vector(u, v, 0.0, 1.0), &out);
    unsigned int plain = 0;
    image.GetColorAt(u, v, &plain);
    EXPECT_EQ(plain, out) << u << ", " << v;
    // The four-lane lookup, the point in each lane beside three others.
    for (int lane = 0; lane < 4; ++lane) {
        simd::Double4 us{0.5, kNaN, -7.0, 2.25}, vs{0.5, 1.0, 0.25, 1e300};
        us[lane] = u;
        vs[lane] = v;
        EXPECT_EQ(image.GetColorsAt(us, vs)[lane], out) << u << ", " << v << " in lane " << lane;
    }
    return out;
}

unsigned int bilinear(TextureImage const& image, double u, double v) {
    unsigned int out = 0;
    image.GetColor(C2Vector{u, v}, &out);
    return out;
}

struct Sample {
    double u, v;
    unsigned int expected;
};

}  // namespace

// weights[n] = exp(-n / a) with a from the setting (default 10, at most 0
// counts as 1), read again by SetWeight and by every copy.
TEST(TextureImageWeights, FollowSettingReadAgainByCopies) {
    auto const set = [](char const* value) {
        testsupport::setSetting(QStringLiteral("Antialiasing"), QString::fromLatin1(value));
    };
    set("");
    TextureImage image(4, 4, QImage::Format_ARGB32);
    EXPECT_EQ(image.weights[40], std::exp(-4.0));
    set("20");
    image.SetWeight();
    EXPECT_EQ(image.weights[40], std::exp(-2.0));
    EXPECT_EQ(image.weights[80], std::exp(-4.0));
    for (char const* setting : {"0", "-3"}) {
        set(setting);
        TextureImage const copy(image);
        EXPECT_EQ(copy.weights[1], std::exp(-1.0)) << setting;
        EXPECT_EQ(copy.weights[80], std::exp(-80.0)) << setting;
    }
    set("");
}

// A loaded texture is sampled like any other: its own colours and filter weights.
TEST(TextureImageFile, LoadsByNameWithAlpha) {
    auto dir = testsupport::makeTempDir();
    QString const path = dir->path() + QStringLiteral("/texture.png");
    QImage source(5, 5, QImage::Format_ARGB32);
    source.fill(0x80102030u);
    source.setPixel(4, 0, 0xFF405060u);
    ASSERT_TRUE(source.save(path));

    TextureImage byName(path);
    TextureImage byCString(path.toLocal8Bit().constData());
    for (TextureImage* image : {&byName, &byCString}) {
        EXPECT_EQ(nearest(*image, 4.5, 4.0), 0xFF405060u);
        EXPECT_EQ(nearest(*image, 0.0, 0.0), 0x80102030u);
        EXPECT_EQ(gaussian(*image, 1.0, 3.0), 0xFF0F1F2Fu);  // the 4 x 4 block without column 4
    }

    // Decoding against Qt's reader, truncated files and the allocation
    // limit: see png_file_test.cpp.

    TextureImage missing(dir->path() + QStringLiteral("/missing.png"));
    EXPECT_TRUE(missing.isNull());
    EXPECT_EQ(nearest(missing, 0.0, 0.0), 0xFFFFFFFFu);
    EXPECT_EQ(gaussian(missing, 0.0, 0.0), 0xFFFFFFFFu);
    EXPECT_EQ(bilinear(missing, -1.0, 0.0), 0xFF000000u);
    EXPECT_EQ(bilinear(missing, -1.0, -1.0), 0xFF000000u);
}

// Large images and buffers that are written whole at once start on a huge
// page; images keep QImage's own layout, are writable, detach on a copy's
// write and free their memory (the sanitizer run checks the last).
TEST(ImageForHugePages, AlignedWithQImagesLayout) {
    auto onHugePage = [](void const* memory) { return reinterpret_cast<std::uintptr_t>(memory) % hugePageBytes == 0; };
    for (auto [width, height, format] :
         {std::tuple{1000, 600, QImage::Format_RGB32}, std::tuple{1001, 700, QImage::Format_RGB888},
          std::tuple{30, 20, QImage::Format_ARGB32}}) {
        QImage image = imageForHugePages(width, height, format);
        QImage const plain(width, height, format);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), plain.size());
        EXPECT_EQ(image.format(), plain.format());
        EXPECT_EQ(image.bytesPerLine(), plain.bytesPerLine());
        EXPECT_EQ(onHugePage(image.constBits()), plain.sizeInBytes() >= qsizetype(hugePageBytes)) << width;
        image.fill(0xFF102030u);
        QImage copy = image;
        copy.setPixel(width - 1, height - 1, 0xFF405060u);
        EXPECT_EQ(image.pixel(width - 1, height - 1), 0xFF102030u);
        EXPECT_EQ(copy.pixel(width - 1, height - 1), 0xFF405060u);
    }
    EXPECT_TRUE(onHugePage(TextureImage(1000, 600, QImage::Format_RGB32).constBits()));
    std::vector<unsigned char, HugePageAllocator<unsigned char>> bytes(3 << 20, 1);
    EXPECT_TRUE(onHugePage(bytes.data()));
    EXPECT_EQ(bytes.back(), 1);
}

// Truncation toward zero; NaN and huge coordinates give the background.
TEST(TextureImageNearest, EdgesNaNAndHuge) {
    int const w = 5, h = 4;
    unsigned int const bg = 0xFF0000FFu;
    TextureImage image = makeTexture(w, h, [](int c, int r) { return qRgba(c, r, 0, 10); });
    image.setBackgroundColor(bg);
    double const inf = std::numeric_limits<double>::infinity();
    Sample const inside[] = {{w - 0.5, 0.5, qRgba(w - 1, h - 1, 0, 10)},
                             {-0.5, 0.0, qRgba(0, h - 1, 0, 10)},
                             {0.0, -0.5, qRgba(0, h - 1, 0, 10)},
                             {1.0, h - 0.5, qRgba(1, 0, 0, 10)},
                             {2.75, 1.99, qRgba(2, h - 2, 0, 10)}};
    for (Sample const& c : inside)
        EXPECT_EQ(nearest(image, c.u, c.v), c.expected) << c.u << ", " << c.v;
    for (auto [u, v] :
         {std::pair{5.0, 0.0}, std::pair{-1.0, 0.0}, std::pair{0.0, -1.0}, std::pair{1.0, 4.0}, std::pair{kNaN, 1.0},
          std::pair{1.0, kNaN}, std::pair{1e300, 1.0}, std::pair{1.0, -inf}, std::pair{3e9, 1.0}, std::pair{1.0, -3e9}})
        EXPECT_EQ(nearest(image, u, v), bg) << u << ", " << v;
}

TEST(TextureImageArray, AverageTruncatesAndCountsOutsideAsBackground) {
    // Red 255, 255, 254 inside and twice 255 from the background: 1274 / 5 = 254.
    TextureImage image = makeTexture(4, 1, [](int c, int) {
        QRgb const colours[4] = {0x00FF0100u, 0x40FF0100u, 0x80FE0100u, 0x00000000u};
        return colours[c];
    });
    image.setBackgroundColor(0xFFFF000Au);
    C4Vector const five[5] = {C4Vector(0.5, 0.0, 0.0, 1.0), C4Vector(1.5, 0.0, 0.0, 1.0), C4Vector(2.5, 0.0, 0.0, 1.0),
                              C4Vector(-3.0, 0.0, 0.0, 1.0), C4Vector(kNaN, 0.0, 0.0, 1.0)};
    unsigned int out = 0;
    image.GetColorArray(five, &out);
    // Green 3 / 5 = 0, blue 20 / 5 = 4, alpha always 255.
    EXPECT_EQ(out, 0xFFFE0004u);
}

TEST(TextureImageGaussian, UniformAreaLosesOne) {
    TextureImage white = makeUniform(8, 8, 0xFFFFFFFFu);
    EXPECT_EQ(gaussian(white, 3.25, 4.5), 0xFFFEFEFEu);
    TextureImage colour = makeUniform(8, 8, 0x00804001u);
    EXPECT_EQ(gaussian(colour, 3.0, 3.0), 0xFF7F3F00u);
}

// The 4x4 block must lie inside: u in [1, W - 2), v in (1, H - 2].
TEST(TextureImageGaussian, BackgroundOutsideEachEdge) {
    int const w = 9, h = 7;
    TextureImage image = makeUniform(w, h, 0xFFFFFFFFu);
    image.setBackgroundColor(0xFF123456u);
    unsigned int const in = 0xFFFEFEFEu, out = 0xFF123456u;
    Sample const cases[] = {
        {1.0, 3.0, in},         {1.0 - kStep, 3.0, out}, {w - 2 - kStep, 3.0, in}, {w - 2, 3.0, out},
        {4.0, 1.0 + kStep, in}, {4.0, 1.0, out},         {4.0, h - 2, in},         {4.0, h - 2 + kStep, out},
        {kNaN, 3.0, out},       {4.0, kNaN, out},        {1e300, 3.0, out},        {4.0, -1e300, out},
    };
    for (Sample const& c : cases)
        EXPECT_EQ(gaussian(image, c.u, c.v), c.expected) << c.u << ", " << c.v;
}

// Guards a SIGSEGV: the filter's vector code once stored into the object with
// instructions that need 32-byte alignment, which the type did not declare.
TEST(TextureImageGaussian, SamplesAtEveryAlignment) {
    TextureImage const shared = makeRandom(40, 4711);
    std::mt19937 random(4712);
    // Runs of four nearby points: most lookups reuse the block the one before read.
    std::uniform_real_distribution<double> coordinate(-1.0, 41.0), jitter(-0.3, 0.3);
    std::vector<std::pair<double, double>> points;
    for (int n = 0; n < 300; ++n) {
        auto const [u, v] = n % 4 ? points.back() : std::pair{coordinate(random), coordinate(random)};
        points.emplace_back(u + jitter(random), v + jitter(random));
    }
    testsupport::atEveryAlignment<TextureImage>(
        [&shared] { return shared; },
        [&](TextureImage& copy, std::size_t offset) {
            for (auto [u, v] : points)
                ASSERT_EQ(gaussian(copy, u, v), referenceGaussian(shared, shared.weights, u, v, 0xFFFFFFFFu))
                    << "object at offset " << offset << ", point " << u << ", " << v;
        });
}

// Texel (0, H - 1) is at (0, 0); a quarter step weighs red 100 / 4 and green
// 40 / 4. The bottom row and the last column interpolate along one axis;
// half a texel above the top row samples the top row; elsewhere outside is
// opaque black whatever the background.
TEST(TextureImageBilinear, HandComputedSamples) {
    TextureImage square = makeTexture(3, 3, [](int c, int r) { return qRgba(100 * c, 40 * r, 3, 0); });
    int const w = 4, h = 3;
    TextureImage image = makeTexture(w, h, [](int c, int r) { return qRgba(60 * c, 100 * r, 9, 0); });
    image.setBackgroundColor(0xFF123456u);
    struct Case {
        TextureImage const* image;
        double u, v;
        unsigned int expected;
    } const cases[] = {
        {&square, 0.5, 0.5, qRgb(50, 60, 3)},   {&square, 1.0, 2.0, qRgb(100, 0, 3)},
        {&square, 0.25, 1.75, qRgb(25, 10, 3)}, {&image, 1.5, 0.0, qRgb(90, 200, 9)},
        {&image, w - 1, 1.5, qRgb(180, 50, 9)}, {&image, 1.5, h - 0.75, qRgb(90, 0, 9)},
        {&image, 1.5, h - 0.5, qRgb(90, 0, 9)},
    };
    for (Case const& c : cases)
        EXPECT_EQ(bilinear(*c.image, c.u, c.v), c.expected) << c.u << ", " << c.v;
    for (auto [u, v] :
         {std::pair{w - 1 + kStep, 1.0}, std::pair{1.0, -kStep}, std::pair{w - 0.5, 0.0},
          std::pair{1.5, h - 0.5 + kStep}, std::pair{-kStep, 1.0}, std::pair{1.0, kNaN}, std::pair{3.0, -1e300}})
        EXPECT_EQ(bilinear(image, u, v), 0xFF000000u) << u << ", " << v;
    // The bottom-right texel itself comes back unchanged, alpha included,
    // also after the image was changed through QImage and its cache refreshed.
    image.setPixel(w - 1, h - 1, 0x80112233u);
    image.refreshPixelCache();
    EXPECT_EQ(bilinear(image, w - 1, 0.0), 0x80112233u);
}
