#include "texture_image.h"

#include "test_support.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kStep = 1.0 / 1024.0;  // exactly representable offset from an edge

// A texture whose texel (column, row) from the top-left has colour(column, row).
TextureImage makeTexture(int width, int height, std::function<QRgb(int, int)> const& colour,
                         QImage::Format format = QImage::Format_ARGB32) {
    TextureImage image(width, height, format);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            image.setPixel(column, row, colour(column, row));
    image.refreshPixelCache();
    return image;
}

TextureImage makeUniform(int width, int height, QRgb colour) {
    return makeTexture(width, height, [colour](int, int) { return colour; });
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
    return out;
}

unsigned int bilinear(TextureImage const& image, double u, double v) {
    unsigned int out = 0;
    image.GetColor(C2Vector{u, v}, &out);
    return out;
}

// Keeps the antialiasing setting out of the other tests.
class TextureImageWeights : public ::testing::Test {
  protected:
    void TearDown() override { testsupport::setSetting(QStringLiteral("Antialiasing"), QString()); }
};

}  // namespace

TEST_F(TextureImageWeights, ZeroOrNegativeCountsAsOne) {
    for (char const* setting : {"0", "-3"}) {
        testsupport::setSetting(QStringLiteral("Antialiasing"), QString::fromLatin1(setting));
        TextureImage image;
        for (int n = 0; n <= 80; ++n)
            EXPECT_EQ(image.weights[n], std::exp(-static_cast<double>(n))) << setting << " " << n;
    }
}

TEST_F(TextureImageWeights, SettingIsReadAgain) {
    testsupport::setSetting(QStringLiteral("Antialiasing"), QString());
    TextureImage image(4, 4, QImage::Format_ARGB32);
    testsupport::setSetting(QStringLiteral("Antialiasing"), QStringLiteral("20"));
    EXPECT_EQ(image.weights[40], std::exp(-4.0));
    image.SetWeight();
    EXPECT_EQ(image.weights[40], std::exp(-2.0));
    EXPECT_EQ(image.weights[80], std::exp(-4.0));
    // A copy re-reads the setting too.
    testsupport::setSetting(QStringLiteral("Antialiasing"), QString());
    TextureImage const copy(image);
    EXPECT_EQ(copy.weights[40], std::exp(-4.0));
}

TEST(TextureImageConstruction, CopyResetsBackgroundAndStartsWithEmptyCache) {
    TextureImage image = makeUniform(8, 8, 0xFF808080u);
    image.setBackgroundColor(0xFF000000u);
    gaussian(image, 3.0, 3.0);
    ASSERT_TRUE(image.blockCached);
    TextureImage copy(image);
    EXPECT_EQ(copy.backgroundColor, 0xFFFFFFFFu);
    EXPECT_FALSE(copy.blockCached);
    EXPECT_EQ(copy.blockReads, 0u);
    EXPECT_EQ(gaussian(copy, 3.0, 3.0), 0xFF7F7F7Fu);
    EXPECT_EQ(copy.blockReads, 1u);
    // Sampling a copy reads the shared pixels without detaching them.
    EXPECT_EQ(copy.constBits(), image.constBits());
}

TEST(TextureImageFormat, FrameBufferStaysRgb32) {
    TextureImage frame(16, 9, QImage::Format_RGB32);
    EXPECT_EQ(frame.format(), QImage::Format_RGB32);
    TextureImage bySize(QSize(3, 2), QImage::Format_RGB32);
    EXPECT_EQ(bySize.format(), QImage::Format_RGB32);
    TextureImage const copy(frame);
    EXPECT_EQ(copy.format(), QImage::Format_RGB32);
}

TEST(TextureImageFormat, OtherFormatsBecomeArgb32) {
    QImage premultiplied(4, 4, QImage::Format_ARGB32_Premultiplied);
    premultiplied.fill(qPremultiply(0x80402010u));
    // Textures hold unpremultiplied colours.
    QRgb const expected = qUnpremultiply(premultiplied.pixel(1, 1));
    TextureImage texture(premultiplied.constBits(), 4, 4, static_cast<int>(premultiplied.bytesPerLine()),
                         QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(texture.format(), QImage::Format_ARGB32);
    EXPECT_EQ(nearest(texture, 1.0, 1.0), expected);

    TextureImage rgb888(5, 5, QImage::Format_RGB888);
    EXPECT_EQ(rgb888.format(), QImage::Format_ARGB32);
}

TEST(TextureImageFormat, Rgb32ReadsWithOpaqueAlpha) {
    // Stored alpha bytes of an RGB32 image are not part of the colour.
    QRgb data[4] = {0x00112233u, 0x00445566u, 0x12778899u, 0x00AABBCCu};
    TextureImage image(reinterpret_cast<uchar*>(data), 2, 2, QImage::Format_RGB32);
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    EXPECT_EQ(nearest(image, 0.0, 1.0), 0xFF112233u);
    EXPECT_EQ(nearest(image, 0.0, 0.0), 0xFF778899u);
    unsigned int out = 0;
    image.GetColor(1, 0, &out);
    EXPECT_EQ(out, 0xFFAABBCCu);
    EXPECT_EQ(bilinear(image, 1.0, 0.0), 0xFFAABBCCu);
}

TEST(TextureImageFile, LoadsByNameWithAlpha) {
    auto dir = testsupport::makeTempDir();
    QString const path = dir->path() + QStringLiteral("/texture.png");
    QImage source(3, 2, QImage::Format_ARGB32);
    source.fill(0x80102030u);
    source.setPixel(2, 0, 0xFF405060u);
    ASSERT_TRUE(source.save(path));

    TextureImage byName(path);
    ASSERT_FALSE(byName.isNull());
    EXPECT_EQ(nearest(byName, 2.0, 1.0), 0xFF405060u);
    EXPECT_EQ(nearest(byName, 0.0, 0.0), 0x80102030u);
    TextureImage byCString(path.toLocal8Bit().constData());
    EXPECT_EQ(nearest(byCString, 2.5, 1.5), 0xFF405060u);

    TextureImage missing(dir->path() + QStringLiteral("/missing.png"));
    EXPECT_TRUE(missing.isNull());
    EXPECT_EQ(nearest(missing, 0.0, 0.0), 0xFFFFFFFFu);
    EXPECT_EQ(gaussian(missing, 0.0, 0.0), 0xFFFFFFFFu);
    EXPECT_EQ(bilinear(missing, -1.0, 0.0), 0xFF000000u);
    EXPECT_EQ(bilinear(missing, -1.0, -1.0), 0xFF000000u);
}

TEST(TextureImageNearest, IntegerLookup) {
    TextureImage image = makeTexture(4, 3, [](int c, int r) { return qRgba(c, r, 7, 200); });
    image.setBackgroundColor(0xFF010203u);
    unsigned int out = 0;
    image.GetColor(0, 0, &out);
    EXPECT_EQ(out, qRgba(0, 2, 7, 200));  // bottom-left texel
    image.GetColor(3, 2, &out);
    EXPECT_EQ(out, qRgba(3, 0, 7, 200));  // top-right texel
    for (auto [x, y] : {std::pair{4, 0}, std::pair{0, 3}, std::pair{-1, 0}, std::pair{0, -1}}) {
        image.GetColor(x, y, &out);
        EXPECT_EQ(out, 0xFF010203u) << x << ", " << y;
    }
}

TEST(TextureImageNearest, EdgesTruncateTowardZero) {
    int const w = 5, h = 4;
    TextureImage image = makeTexture(w, h, [](int c, int r) { return qRgba(c, r, 0, 10); });
    image.setBackgroundColor(0xFF0000FFu);
    EXPECT_EQ(nearest(image, w - 0.5, 0.5), qRgba(w - 1, h - 1, 0, 10));
    EXPECT_EQ(nearest(image, w, 0.0), 0xFF0000FFu);
    EXPECT_EQ(nearest(image, -0.5, 0.0), qRgba(0, h - 1, 0, 10));
    EXPECT_EQ(nearest(image, 0.0, -0.5), qRgba(0, h - 1, 0, 10));
    EXPECT_EQ(nearest(image, -1.0, 0.0), 0xFF0000FFu);
    EXPECT_EQ(nearest(image, 0.0, -1.0), 0xFF0000FFu);
    EXPECT_EQ(nearest(image, 1.0, h - 0.5), qRgba(1, 0, 0, 10));
    EXPECT_EQ(nearest(image, 1.0, h), 0xFF0000FFu);
    EXPECT_EQ(nearest(image, 2.75, 1.99), qRgba(2, h - 2, 0, 10));
}

TEST(TextureImageNearest, NaNAndHugeGiveBackground) {
    TextureImage image = makeUniform(4, 4, 0xFF00FF00u);
    image.setBackgroundColor(0xFF123456u);
    double const inf = std::numeric_limits<double>::infinity();
    for (auto [u, v] : {std::pair{kNaN, 1.0}, std::pair{1.0, kNaN}, std::pair{1e300, 1.0}, std::pair{1.0, -inf},
                        std::pair{3e9, 1.0}, std::pair{1.0, -3e9}}) {
        EXPECT_EQ(nearest(image, u, v), 0xFF123456u) << u << ", " << v;
    }
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
    TextureImage black = makeUniform(8, 8, 0x00000000u);
    EXPECT_EQ(gaussian(black, 4.75, 2.125), 0xFF000000u);
}

TEST(TextureImageGaussian, BackgroundOutsideEachEdge) {
    int const w = 9, h = 7;
    TextureImage image = makeUniform(w, h, 0xFFFFFFFFu);
    image.setBackgroundColor(0xFF123456u);
    unsigned int const inside = 0xFFFEFEFEu, outside = 0xFF123456u;
    double const v = 3.0, u = 4.0;
    // Left: u below 1 is outside.
    EXPECT_EQ(gaussian(image, 1.0, v), inside);
    EXPECT_EQ(gaussian(image, 1.0 - kStep, v), outside);
    // Right: u at or above W - 2 is outside.
    EXPECT_EQ(gaussian(image, w - 2 - kStep, v), inside);
    EXPECT_EQ(gaussian(image, w - 2, v), outside);
    // Bottom: v at or below 1 is outside.
    EXPECT_EQ(gaussian(image, u, 1.0 + kStep), inside);
    EXPECT_EQ(gaussian(image, u, 1.0), outside);
    // Top: v above H - 2 is outside.
    EXPECT_EQ(gaussian(image, u, h - 2), inside);
    EXPECT_EQ(gaussian(image, u, h - 2 + kStep), outside);
    // NaN and huge points never reach the pixels.
    EXPECT_EQ(gaussian(image, kNaN, v), outside);
    EXPECT_EQ(gaussian(image, u, kNaN), outside);
    EXPECT_EQ(gaussian(image, 1e300, v), outside);
    EXPECT_EQ(gaussian(image, u, -1e300), outside);
}

TEST(TextureImageGaussian, SecondLookupInSameBlockReadsNothing) {
    TextureImage image = makeTexture(10, 10, [](int c, int r) { return qRgb(20 * c, 20 * r, 5); });
    gaussian(image, 4.25, 4.25);
    EXPECT_EQ(image.blockReads, 1u);
    EXPECT_EQ(image.blockCacheX, 3);
    EXPECT_EQ(image.blockCacheY, 3);  // row (9 - 4.25) - 1 = 3.75
    unsigned int const again = gaussian(image, 4.75, 4.5);
    EXPECT_EQ(image.blockReads, 1u);
    EXPECT_EQ(again, referenceGaussian(image, image.weights, 4.75, 4.5, image.backgroundColor));
    // A lookup outside the image leaves the cache alone.
    gaussian(image, 0.0, 0.0);
    EXPECT_EQ(image.blockReads, 1u);
    gaussian(image, 5.25, 4.25);
    EXPECT_EQ(image.blockReads, 2u);
    gaussian(image, 4.25, 4.25);
    EXPECT_EQ(image.blockReads, 3u);
}

TEST(TextureImageGaussian, MatchesDirectComputation) {
    std::mt19937 random(12345);
    int const w = 13, h = 11;
    TextureImage image = makeTexture(w, h, [&random](int, int) { return static_cast<QRgb>(random()); });
    image.setBackgroundColor(0xFF00FF00u);
    std::uniform_real_distribution<double> uDist(-1.0, w + 1.0), vDist(-1.0, h + 1.0), jitter(-0.3, 0.3);
    for (int n = 0; n < 2000; ++n) {
        double u = uDist(random), v = vDist(random);
        // Runs of nearby points exercise the block cache.
        for (int step = 0; step < 4; ++step) {
            EXPECT_EQ(gaussian(image, u, v), referenceGaussian(image, image.weights, u, v, image.backgroundColor))
                << "u = " << u << ", v = " << v;
            u += jitter(random);
            v += jitter(random);
        }
    }
}

TEST(TextureImageGaussian, CopiesSampleInParallel) {
    std::mt19937 random(777);
    TextureImage const shared = makeTexture(32, 32, [&random](int, int) { return static_cast<QRgb>(random()); });
    std::vector<std::vector<unsigned int>> expected(4), actual(4);
    std::vector<std::pair<double, double>> points;
    std::uniform_real_distribution<double> dist(0.0, 32.0);
    for (int n = 0; n < 5000; ++n)
        points.emplace_back(dist(random), dist(random));
    for (int t = 0; t < 4; ++t)
        for (auto [u, v] : points)
            expected[t].push_back(referenceGaussian(shared, shared.weights, u + t, v, 0xFFFFFFFFu));

    // One copy per thread, each with its own block cache over the shared pixels.
    std::vector<TextureImage> copies(4, shared);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&copies, &points, &actual, t] {
            for (auto [u, v] : points)
                actual[t].push_back(gaussian(copies[t], u + t, v));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(actual[t], expected[t]) << "thread " << t;
        EXPECT_EQ(copies[t].constBits(), shared.constBits()) << "thread " << t;
    }
}

TEST(TextureImageBilinear, InteriorWeights) {
    TextureImage image = makeTexture(3, 3, [](int c, int r) { return qRgba(100 * c, 40 * r, 3, 0); });
    // Texel (0, 2) at (0, 0); (0.5, 0.5) is the centre of columns 0-1 and rows 1-2.
    EXPECT_EQ(bilinear(image, 0.5, 0.5), qRgb(50, 60, 3));
    EXPECT_EQ(bilinear(image, 1.0, 2.0), qRgb(100, 0, 3));
    // Quarter steps: red 100 * 0.25 = 25, green 40 * (2 - 1.75) + ... = 40 * 0.25 = 10.
    EXPECT_EQ(bilinear(image, 0.25, 1.75), qRgb(25, 10, 3));
}

TEST(TextureImageBilinear, LastRowAndLastColumnInterpolateAlongOneAxis) {
    int const w = 4, h = 3;
    TextureImage image = makeTexture(w, h, [](int c, int r) { return qRgba(60 * c, 100 * r, 9, 0); });
    // Bottom row (v = 0): red between columns 1 and 2.
    EXPECT_EQ(bilinear(image, 1.5, 0.0), qRgb(90, 200, 9));
    // Last column (u = W - 1): green between rows 0 and 1.
    EXPECT_EQ(bilinear(image, w - 1, 1.5), qRgb(180, 50, 9));
    // Just beyond the last column or below the bottom row: black.
    EXPECT_EQ(bilinear(image, w - 1 + kStep, 1.0), 0xFF000000u);
    EXPECT_EQ(bilinear(image, 1.0, -kStep), 0xFF000000u);
    EXPECT_EQ(bilinear(image, w - 0.5, 0.0), 0xFF000000u);
    // The bottom-right texel itself comes back unchanged, alpha included,
    // also after the image was changed through QImage and its cache refreshed.
    image.setPixel(w - 1, h - 1, 0x80112233u);
    image.refreshPixelCache();
    EXPECT_EQ(bilinear(image, w - 1, 0.0), 0x80112233u);
}

TEST(TextureImageBilinear, HalfTexelAboveTopRowSamplesTopRow) {
    int const w = 4, h = 3;
    TextureImage image = makeTexture(w, h, [](int c, int r) { return qRgba(60 * c, 100 * r, 9, 0); });
    EXPECT_EQ(bilinear(image, 1.5, h - 0.75), bilinear(image, 1.5, h - 1.0));
    EXPECT_EQ(bilinear(image, 1.5, h - 0.5), qRgb(90, 0, 9));
    EXPECT_EQ(bilinear(image, 1.5, h - 0.5 + kStep), 0xFF000000u);
}

TEST(TextureImageBilinear, OutsideIsBlack) {
    TextureImage image = makeUniform(4, 3, 0xFFFFFFFFu);
    image.setBackgroundColor(0xFF123456u);
    for (auto [u, v] : {std::pair{-kStep, 1.0}, std::pair{4.0, 1.0}, std::pair{1.0, kNaN}, std::pair{3.0, -1e300}}) {
        EXPECT_EQ(bilinear(image, u, v), 0xFF000000u) << u << ", " << v;
    }
}

// Guards a crash: the filter's vector code once stored into the object with
// instructions that need 32-byte alignment, which the type did not declare.
TEST(TextureImageGaussian, SamplesAtEveryAlignment) {
    std::mt19937 random(4711);
    TextureImage const shared = makeTexture(40, 40, [&random](int, int) { return static_cast<QRgb>(random()); });
    std::uniform_real_distribution<double> coordinate(0.0, 40.0);
    std::vector<std::pair<double, double>> points(300);
    for (auto& [u, v] : points)
        u = coordinate(random), v = coordinate(random);
    testsupport::atEveryAlignment<TextureImage>(
        [&shared] { return shared; },
        [&](TextureImage& copy, std::size_t offset) {
            for (auto [u, v] : points)
                ASSERT_EQ(gaussian(copy, u, v), referenceGaussian(shared, shared.weights, u, v, 0xFFFFFFFFu))
                    << "object at offset " << offset << ", point " << u << ", " << v;
        });
}
