#include "elevation_image.h"

#include "test_support.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <utility>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

QRgb encode(int count) { return 0xFF000000u | (static_cast<QRgb>(count) & 0x00FFFFFFu); }

// A height map whose pixel (column, row) from the top-left holds count(column,
// row).
ElevationImage makeHeights(int width, int height, std::function<int(int, int)> const& count) {
    ElevationImage image(width, height, QImage::Format_ARGB32);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            image.setPixel(column, row, encode(count(column, row)));
    image.refreshPixelCache();
    return image;
}

// A height map filled with one raw pixel value.
ElevationImage makeUniform(int width, int height, QRgb raw) {
    ElevationImage image(width, height, QImage::Format_ARGB32);
    image.fill(raw);
    image.refreshPixelCache();
    return image;
}

// A file holding a 4 x 3 RGB888 height map with count 1000 * row + column.
QString writeHeightFile(QString const& dir) {
    QString const path = dir + QStringLiteral("/heights.png");
    QImage source(4, 3, QImage::Format_RGB888);
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 4; ++column)
            source.setPixel(column, row, encode(1000 * row + column));
    EXPECT_TRUE(source.save(path));
    return path;
}

}  // namespace

TEST(ElevationImageDecoding, HeightBoundsCoverEveryQueryAndZero) {
    auto const bounds = [](ElevationImage const& image) {
        std::pair<double, double> b;
        image.heightBounds(b.first, b.second);
        return b;
    };
    ElevationImage image = makeHeights(3, 2, [](int column, int row) { return column * 4 - row * 9 + 3; });
    image.setZScale(0.5);
    EXPECT_EQ(bounds(image), std::pair(-3.0, 5.5));  // counts -6 ... 11
    image.setZScale(-2);
    EXPECT_EQ(bounds(image), std::pair(-22.0, 12.0));

    // Outside the map a query gives 0, so 0 is always inside.
    ElevationImage raised = makeHeights(2, 2, [](int, int) { return 40; });
    EXPECT_EQ(bounds(raised), std::pair(0.0, 40.0));
    EXPECT_EQ(bounds(makeHeights(2, 2, [](int, int) { return -5; })), std::pair(-5.0, 0.0));

    // A copy shares the range; a change is seen after refreshing the pixel
    // cache, in the changed image only.
    ElevationImage copy(raised);
    copy.setPixel(0, 0, encode(-8388608));
    copy.refreshPixelCache();
    EXPECT_EQ(bounds(copy), std::pair(-8388608.0, 40.0));
    EXPECT_EQ(bounds(raised), std::pair(0.0, 40.0));
}

// Heights exist only strictly inside the grid's interpolation domain: from
// the bottom row (excluded) to the top row (included), from the first column
// (included) to the last (excluded); elsewhere, and for a grid of one row or
// column or none, the height is 0.
TEST(ElevationImageInterpolation, DomainEdges) {
    ElevationImage const image = makeUniform(4, 3, encode(100));
    double const step = 1.0 / 1024.0, inf = std::numeric_limits<double>::infinity();
    struct Case {
        double x, y, expected;
    };
    for (Case const c : {Case{0.0, 0.0, 0.0}, Case{0.0, step, 100.0}, Case{3.0, 1.0, 0.0}, Case{3.0 - step, 1.0, 100.0},
                         Case{-step, 1.0, 0.0}, Case{1.0, 2.0, 100.0}, Case{1.0, 2.0 + step, 0.0}, Case{kNaN, 1.0, 0.0},
                         Case{1.0, kNaN, 0.0}, Case{1e300, 1.0, 0.0}, Case{1.0, -1e300, 0.0}, Case{inf, 1.0, 0.0}})
        EXPECT_EQ(image.elevation(c.x, c.y), c.expected) << c.x << ", " << c.y;
    ElevationImage const row = makeUniform(5, 1, encode(7));
    ElevationImage const column = makeUniform(1, 5, encode(7));
    EXPECT_EQ(row.elevation(0.5, 0.0), 0.0);
    EXPECT_EQ(column.elevation(0.0, 0.5), 0.0);
    EXPECT_EQ(ElevationImage().elevation(0.5, 0.5), 0.0);
    EXPECT_EQ(ElevationImage().elevation(0, 0), 0.0);
}

TEST(ElevationImageInterpolation, HandComputedHeights) {
    // Counts 10 * column^2 + 100 * row - 250: (1,1) = -140, (2,1) = -110,
    // (1,0) = -240, (2,0) = -210. World (x, y) is pixel (x, 2 - y). Three
    // pixel centres, the mean of two neighbours across and up, of four, and
    // a quarter of the way right and up: -140 + 30 / 4 below, -240 + 30 / 4
    // above.
    ElevationImage image = makeHeights(4, 3, [](int c, int r) { return 10 * c * c + 100 * r - 250; });
    image.setZScale(0.5);
    struct Case {
        double x, y, expected;
    } const cases[] = {{1.0, 1.0, -70.0}, {2.0, 2.0, -105.0}, {0.0, 1.0, -75.0},   {1.5, 1.0, -62.5},
                       {1.0, 1.5, -95.0}, {1.5, 1.5, -87.5},  {1.25, 1.25, -78.75}};
    for (Case const& c : cases)
        EXPECT_EQ(image.elevation(c.x, c.y), c.expected) << c.x << ", " << c.y;
}

TEST(ElevationImageFile, LoadsWithPixelSpacing) {
    auto dir = testsupport::makeTempDir();
    QString const path = writeHeightFile(dir->path());
    ElevationImage image(path, 2.0, 0.5);
    EXPECT_EQ(image.pixelsPerUnitX, 0.5);
    EXPECT_EQ(image.pixelsPerUnitY, 2.0);
    EXPECT_TRUE(image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32);
    // World (2, 0.5) is column 1, row (H - 1) - 1 = 1.
    EXPECT_EQ(image.elevation(2.0, 0.5), 1001.0);
    EXPECT_EQ(image.elevation(4.0, 1.0), 2.0);  // column 2, row 0
    EXPECT_EQ(ElevationImage(path).elevation(1.0, 1.0), 1001.0);
    EXPECT_EQ(ElevationImage(path.toLocal8Bit().constData()).elevation(1.0, 1.0), 1001.0);

    ElevationImage missing(dir->path() + QStringLiteral("/missing.png"), 1.0, 1.0);
    EXPECT_TRUE(missing.isNull());
    EXPECT_EQ(missing.elevation(0.5, 0.5), 0.0);
}

// QImage::pixel returns a premultiplied image's stored word; so do the reads.
TEST(ElevationImageFormat, PremultipliedReadsTheStoredWord) {
    QImage source(2, 2, QImage::Format_ARGB32_Premultiplied);
    source.fill(0x80201008u);
    ElevationImage premultiplied(source.constBits(), 2, 2, static_cast<int>(source.bytesPerLine()),
                                 QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(premultiplied.elevation(0, 0), static_cast<double>(0x201008));
    EXPECT_EQ(premultiplied.elevation(0.5, 0.5), static_cast<double>(0x201008));
}

// A spacing of 0 (infinite pixels per unit), a negative one, or an infinite
// one (0 pixels per unit) maps nothing: every query gives 0, writes nothing.
TEST(ElevationImageSpacing, UnusableSpacingGivesZeroEverywhere) {
    auto dir = testsupport::makeTempDir();
    QString const path = writeHeightFile(dir->path());
    double const inf = std::numeric_limits<double>::infinity();
    for (auto [sx, sy] :
         {std::pair{0.0, 1.0}, std::pair{1.0, 0.0}, std::pair{-1.0, -1.0}, std::pair{inf, 1.0}, std::pair{1.0, inf}}) {
        ElevationImage image(path, sx, sy);
        for (double x : {-1.0, 0.5, 1.0})
            EXPECT_EQ(image.elevation(x, x), 0.0) << sx << " " << sy << " at " << x;
        EXPECT_EQ(image.elevation(0, 0), 0.0) << sx << " " << sy;
        image.setElevation(0, 0, 9.0);
        EXPECT_EQ(image.pixel(0, 2), encode(2000)) << sx << " " << sy;
    }
}

// The count is height / zScale rounded half away from zero, kept modulo
// 2^24 (huge multiples of 2^24 and NaN store 0), with alpha 255.
TEST(ElevationImageSetElevation, RoundsAndWrapsTheCount) {
    ElevationImage image = makeUniform(3, 3, encode(0));
    image.setZScale(0.5);
    struct Case {
        double height;
        QRgb stored;
    } const cases[] = {
        {10.3, 0xFF000015u},      {-1.25, 0xFFFFFFFDu},      {1.25, 0xFF000003u}, {8388610.5, 0xFF000005u},
        {4194304.0, 0xFF800000u}, {-4194304.5, 0xFF7FFFFFu}, {1e30, 0xFF000000u}, {kNaN, 0xFF000000u},
    };
    for (Case const& c : cases) {
        image.setElevation(1, 1, c.height);
        EXPECT_EQ(image.pixel(1, 1), c.stored) << c.height;
        EXPECT_EQ(image.elevation(1, 1), ElevationImage::heightCount(c.stored) * 0.5) << c.height;
    }
    // Interpolation sees the new pixel at once.
    image.setElevation(1, 1, 10.5);
    EXPECT_EQ(image.elevation(1.0, 1.0), 10.5);
}

// A copy takes the mapping and shares the pixels until one of them is written.
TEST(ElevationImageSetElevation, OutsideWritesNothingAndCopiesStayUnchanged) {
    ElevationImage image = makeUniform(3, 3, encode(7));
    image.pixelsPerUnitX = 0.5;
    image.pixelsPerUnitY = 2.0;
    image.setZScale(3.0);
    ElevationImage const copy(image);
    EXPECT_EQ(copy.elevation(2.0, 0.5), 21.0);
    for (auto [x, y] : {std::pair{6, 0}, std::pair{0, 2}, std::pair{-4, 0}, std::pair{0, -1}})
        image.setElevation(x, y, 1.0);
    EXPECT_EQ(static_cast<QImage const&>(image), static_cast<QImage const&>(copy));
    image.setElevation(2, 0, 30.0);  // column 1, bottom row
    EXPECT_EQ(image.pixel(1, 2), encode(10));
    EXPECT_EQ(copy.elevation(2, 0), 21.0);
    EXPECT_EQ(copy.elevation(2.0, 0.5), 21.0);
}

// Rows padded to 4 pixels; the padding is never read.
TEST(ElevationImageConstructors, WrappedDataWithRowStride) {
    QRgb padded[8] = {encode(1), encode(2), 0, 0, encode(3), encode(4), 0, 0};
    ElevationImage withStride(reinterpret_cast<uchar*>(padded), 2, 2, 16, QImage::Format_ARGB32);
    EXPECT_EQ(withStride.elevation(0.5, 0.5), 2.5);
    ElevationImage withStrideConst(reinterpret_cast<uchar const*>(padded), 2, 2, 16, QImage::Format_RGB32);
    EXPECT_EQ(withStrideConst.elevation(0, 0), 3.0);
}
