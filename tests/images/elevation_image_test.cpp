#include "elevation_image.h"

#include "test_support.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

QRgb encode(int count) { return 0xFF000000u | (static_cast<QRgb>(count) & 0x00FFFFFFu); }

// A height map whose pixel (column, row) from the top-left holds count(column, row).
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

}  // namespace

TEST(ElevationImageDecoding, SignedTwentyFourBitCounts) {
    EXPECT_EQ(ElevationImage::heightCount(0x00000000u), 0);
    EXPECT_EQ(ElevationImage::heightCount(0x00FFFFFFu), -1);
    EXPECT_EQ(ElevationImage::heightCount(0x00800000u), -8388608);
    EXPECT_EQ(ElevationImage::heightCount(0x007FFFFFu), 8388607);
    EXPECT_EQ(ElevationImage::heightCount(0x00000001u), 1);
}

TEST(ElevationImageDecoding, HeightBoundsCoverEveryQueryAndZero) {
    ElevationImage image = makeHeights(3, 2, [](int column, int row) { return column * 4 - row * 9 + 3; });
    double low = 0, high = 0;
    image.setZScale(0.5);
    image.heightBounds(low, high);  // counts -6 ... 11
    EXPECT_EQ(low, -3.0);
    EXPECT_EQ(high, 5.5);
    image.setZScale(-2);
    image.heightBounds(low, high);
    EXPECT_EQ(low, -22.0);
    EXPECT_EQ(high, 12.0);

    // Outside the map a query gives 0, so 0 is always inside.
    ElevationImage raised = makeHeights(2, 2, [](int, int) { return 40; });
    raised.heightBounds(low, high);
    EXPECT_EQ(low, 0.0);
    EXPECT_EQ(high, 40.0);

    // A copy shares the range; a change is seen after refreshing the pixel
    // cache, in the changed image only.
    ElevationImage copy(raised);
    copy.setPixel(0, 0, encode(-8388608));
    copy.refreshPixelCache();
    copy.heightBounds(low, high);
    EXPECT_EQ(low, -8388608.0);
    EXPECT_EQ(high, 40.0);
    raised.heightBounds(low, high);
    EXPECT_EQ(low, 0.0);
}

TEST(ElevationImageDecoding, AlphaIsIgnored) {
    EXPECT_EQ(ElevationImage::heightCount(0xFF7FFFFFu), 8388607);
    EXPECT_EQ(ElevationImage::heightCount(0x12800000u), -8388608);
    EXPECT_EQ(ElevationImage::heightCount(0x80FFFFFFu), -1);
    EXPECT_EQ(ElevationImage::heightCount(0xAB000000u), 0);
}

TEST(ElevationImageDecoding, NearestPixelScalesCountByZScale) {
    struct Case {
        QRgb raw;
        double expected;
    };
    for (Case const& c : {Case{0x00000000u, 0.0}, Case{0x00FFFFFFu, -1.0 * 0.5}, Case{0x00800000u, -8388608.0 * 0.5},
                          Case{0x007FFFFFu, 8388607.0 * 0.5}, Case{0xFF800000u, -8388608.0 * 0.5},
                          Case{0x017FFFFFu, 8388607.0 * 0.5}}) {
        ElevationImage image = makeUniform(2, 2, c.raw);
        image.setZScale(0.5);
        EXPECT_EQ(image.elevation(0, 0), c.expected) << std::hex << c.raw;
    }
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
    for (double x : {0.0, 0.5, 2.25})
        for (double y : {0.0, 0.5, 3.0}) {
            EXPECT_EQ(row.elevation(x, y), 0.0) << x << ", " << y;
            EXPECT_EQ(column.elevation(y, x), 0.0) << y << ", " << x;
        }
    ElevationImage const null;
    EXPECT_EQ(null.elevation(0.5, 0.5), 0.0);
    EXPECT_EQ(null.elevation(0, 0), 0.0);
}

TEST(ElevationImageInterpolation, PixelCentreGivesThatPixel) {
    // Distinct counts: 10 * column + 100 * row - 250, some negative.
    ElevationImage image = makeHeights(4, 3, [](int c, int r) { return 10 * c + 100 * r - 250; });
    image.setZScale(0.25);
    // World (x, y) is pixel (x, 2 - y) for unit spacing.
    EXPECT_EQ(image.elevation(1.0, 1.0), (10 * 1 + 100 * 1 - 250) * 0.25);
    EXPECT_EQ(image.elevation(2.0, 2.0), (10 * 2 + 100 * 0 - 250) * 0.25);
    EXPECT_EQ(image.elevation(0.0, 1.0), (10 * 0 + 100 * 1 - 250) * 0.25);
}

TEST(ElevationImageInterpolation, MidpointIsTheMean) {
    ElevationImage image = makeHeights(4, 3, [](int c, int r) { return 10 * c * c + 100 * r; });
    // Between pixels (1, 1) = 110 and (2, 1) = 140.
    EXPECT_EQ(image.elevation(1.5, 1.0), 125.0);
    // Between pixels (1, 1) = 110 and (1, 0) = 10 (one row up).
    EXPECT_EQ(image.elevation(1.0, 1.5), 60.0);
    // Centre of four pixels (1,1)=110, (2,1)=140, (1,0)=10, (2,0)=40.
    EXPECT_EQ(image.elevation(1.5, 1.5), 75.0);
    // A quarter of the way right and up: 110 + 30 / 4 = 117.5 below, 10 + 30 / 4 = 17.5
    // above, 117.5 - 100 / 4 = 92.5.
    EXPECT_EQ(image.elevation(1.25, 1.25), 92.5);
}

TEST(ElevationImageZ, SetsZAndKeepsW) {
    ElevationImage image = makeUniform(3, 3, encode(-40));
    image.setZScale(2.0);
    C4Vector p(1.0, 1.0, 99.0, 0.5);
    image.Z(p);
    EXPECT_EQ(p.x, 1.0);
    EXPECT_EQ(p.y, 1.0);
    EXPECT_EQ(p.z, -80.0);
    EXPECT_EQ(p.w, 0.5);
    C4Vector outside(0.0, 0.0, 5.0, 1.0);
    image.Z(outside);
    EXPECT_EQ(outside.z, 0.0);
}

TEST(ElevationImageFile, LoadsWithPixelSpacing) {
    auto dir = testsupport::makeTempDir();
    QString const path = dir->path() + QStringLiteral("/heights.png");
    // An RGB888 file comes back in some format that is converted for reading.
    QImage source(4, 3, QImage::Format_RGB888);
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 4; ++column)
            source.setPixel(column, row, encode(1000 * row + column));
    ASSERT_TRUE(source.save(path));

    ElevationImage image(path, 2.0, 0.5);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.pixelsPerUnitX, 0.5);
    EXPECT_EQ(image.pixelsPerUnitY, 2.0);
    EXPECT_EQ(image.zScale(), 1.0);
    EXPECT_TRUE(image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32);
    // World (2, 0.5) is column 1, row (H - 1) - 1 = 1.
    EXPECT_EQ(image.elevation(2.0, 0.5), 1001.0);
    EXPECT_EQ(image.elevation(4.0, 1.0), 2.0);  // column 2, row 0

    ElevationImage byName(path);
    EXPECT_EQ(byName.pixelsPerUnitX, 1.0);
    EXPECT_EQ(byName.pixelsPerUnitY, 1.0);
    EXPECT_EQ(byName.elevation(1.0, 1.0), 1001.0);

    ElevationImage byCString(path.toLocal8Bit().constData());
    EXPECT_EQ(byCString.elevation(1.0, 1.0), 1001.0);

    ElevationImage missing(dir->path() + QStringLiteral("/missing.png"), 1.0, 1.0);
    EXPECT_TRUE(missing.isNull());
    EXPECT_EQ(missing.elevation(0.5, 0.5), 0.0);
}

TEST(ElevationImageFormat, OtherFormatsReadLikePixel) {
    // Grey 0x80 reads as 0xFF808080 through QImage::pixel.
    uchar grey[4 * 3];
    for (uchar& g : grey)
        g = 0x80;
    ElevationImage image(grey, 4, 3, 4, QImage::Format_Grayscale8);
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    EXPECT_EQ(image.elevation(1.0, 1.0), static_cast<double>(0x808080 - 0x1000000));

    QImage indexed(3, 3, QImage::Format_Indexed8);
    indexed.setColorTable({0x40000102u, 0xFF7FFFFFu});
    indexed.fill(1);
    indexed.setPixel(1, 1, 0);
    ElevationImage withTable(3, 3, QImage::Format_ARGB32);
    static_cast<QImage&>(withTable) = indexed;
    withTable.refreshPixelCache();
    EXPECT_EQ(withTable.format(), QImage::Format_ARGB32);
    EXPECT_EQ(withTable.elevation(1.0, 1.0), 258.0);
    EXPECT_EQ(withTable.elevation(0.0, 2.0), 8388607.0);
}

TEST(ElevationImageFormat, PremultipliedIsReadAsStored) {
    // QImage::pixel returns the stored premultiplied word; so do the reads.
    QImage source(2, 2, QImage::Format_ARGB32_Premultiplied);
    source.fill(0x80201008u);
    ElevationImage image(source.constBits(), 2, 2, static_cast<int>(source.bytesPerLine()),
                         QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(source.pixel(0, 0), 0x80201008u);
    EXPECT_EQ(image.elevation(0, 0), static_cast<double>(0x201008));
    EXPECT_EQ(image.elevation(0.5, 0.5), static_cast<double>(0x201008));
}

TEST(ElevationImageSpacing, ZeroSpacingGivesZeroEverywhere) {
    auto dir = testsupport::makeTempDir();
    QString const path = dir->path() + QStringLiteral("/flat.png");
    QImage source(4, 4, QImage::Format_RGB32);
    source.fill(encode(50));
    ASSERT_TRUE(source.save(path));

    ElevationImage zeroX(path, 0.0, 1.0);
    EXPECT_TRUE(std::isinf(zeroX.pixelsPerUnitX));
    ElevationImage zeroY(path, 1.0, 0.0);
    ElevationImage negative(path, -1.0, -1.0);
    EXPECT_EQ(negative.pixelsPerUnitX, -1.0);
    ElevationImage infinite(path, std::numeric_limits<double>::infinity(), 1.0);
    EXPECT_EQ(infinite.pixelsPerUnitX, 0.0);
    for (double x : {-2.0, -1.0, -0.5, 0.0, 0.5, 1.0, 2.0}) {
        for (double y : {-2.0, -1.0, 0.0, 0.5, 1.0, 2.0}) {
            EXPECT_EQ(zeroX.elevation(x, y), 0.0) << x << ", " << y;
            EXPECT_EQ(zeroY.elevation(x, y), 0.0) << x << ", " << y;
            EXPECT_EQ(negative.elevation(x, y), 0.0) << x << ", " << y;
            EXPECT_EQ(infinite.elevation(x, y), 0.0) << x << ", " << y;
        }
    }
    EXPECT_EQ(negative.elevation(-1, -1), 0.0);
    negative.setElevation(-1, -1, 9.0);
    EXPECT_EQ(negative.pixel(1, 1), encode(50));

    // The same file with a usable spacing does have heights.
    EXPECT_EQ(ElevationImage(path, 1.0, 1.0).elevation(1.0, 1.0), 50.0);
}

TEST(ElevationImageNearest, UsesRoundedGridPosition) {
    ElevationImage image = makeHeights(4, 3, [](int c, int r) { return 10 * c + 100 * r; });
    image.pixelsPerUnitX = 0.5;
    image.pixelsPerUnitY = 0.5;
    // x = 3: trunc(1.5 + 0.5) = column 2; y = 2: row 2 - trunc(1.5) = 1.
    EXPECT_EQ(image.elevation(3, 2), 120.0);
    // x = 1: column trunc(1.0) = 1; y = 0: row 2.
    EXPECT_EQ(image.elevation(1, 0), 210.0);
    // x = 7: column trunc(4.0) = 4 is outside; y = 5: row 2 - 3 is outside.
    EXPECT_EQ(image.elevation(7, 0), 0.0);
    EXPECT_EQ(image.elevation(0, 5), 0.0);
    // x = -1: trunc(-0.5 + 0.5) = 0 is inside; x = -3: trunc(-1.0) = -1 is outside.
    EXPECT_EQ(image.elevation(-1, 0), 200.0);
    EXPECT_EQ(image.elevation(-3, 0), 0.0);
}

TEST(ElevationImageSetElevation, RoundTripRoundsToZScaleMultiples) {
    ElevationImage image = makeUniform(4, 3, encode(0));
    image.setZScale(0.5);
    image.setElevation(1, 1, 10.3);  // 20.6 counts -> 21
    EXPECT_EQ(image.elevation(1, 1), 10.5);
    EXPECT_EQ(image.pixel(1, 1), 0xFF000015u);
    image.setElevation(2, 0, -1.25);  // -2.5 counts -> -3, halves away from zero
    EXPECT_EQ(image.elevation(2, 0), -1.5);
    EXPECT_EQ(image.pixel(2, 2), 0xFFFFFFFDu);
    image.setElevation(0, 2, 1.25);  // 2.5 -> 3
    EXPECT_EQ(image.elevation(0, 2), 1.5);
    // Interpolation sees the new pixels at once.
    EXPECT_EQ(image.elevation(1.0, 1.0), 10.5);
}

TEST(ElevationImageSetElevation, CountsWrapToTwentyFourBits) {
    ElevationImage image = makeUniform(3, 3, encode(0));
    image.setElevation(0, 0, 16777216.0 + 5.0);
    EXPECT_EQ(image.elevation(0, 0), 5.0);
    image.setElevation(1, 0, 8388608.0);
    EXPECT_EQ(image.elevation(1, 0), -8388608.0);
    image.setElevation(2, 0, -8388609.0);
    EXPECT_EQ(image.elevation(2, 0), 8388607.0);
    image.setElevation(0, 1, 1e30);  // a multiple of 2^24
    EXPECT_EQ(image.elevation(0, 1), 0.0);
    image.setElevation(1, 1, kNaN);
    EXPECT_EQ(image.pixel(1, 1), 0xFF000000u);
}

TEST(ElevationImageSetElevation, OutsideWritesNothing) {
    ElevationImage image = makeUniform(3, 3, encode(7));
    QImage const before = image.copy();
    image.setElevation(3, 0, 1.0);
    image.setElevation(0, 3, 1.0);
    image.setElevation(-2, 0, 1.0);
    image.setElevation(0, -2, 1.0);
    EXPECT_EQ(static_cast<QImage const&>(image), before);
}

TEST(ElevationImageSetElevation, DoesNotChangeSharedCopies) {
    ElevationImage image = makeUniform(3, 3, encode(7));
    ElevationImage copy(image);
    image.setElevation(1, 1, 30.0);
    EXPECT_EQ(image.elevation(1, 1), 30.0);
    EXPECT_EQ(copy.elevation(1, 1), 7.0);
    EXPECT_EQ(copy.elevation(1.0, 1.0), 7.0);
}

TEST(ElevationImageClear, SetsEveryPixelRaw) {
    ElevationImage image = makeHeights(3, 2, [](int c, int r) { return c + r; });
    image.clear(0x12FFFFFEu);
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 3; ++column)
            EXPECT_EQ(image.pixel(column, row), 0x12FFFFFEu);
    EXPECT_EQ(image.elevation(0, 0), -2.0);
}

TEST(ElevationImageCopy, CopiesAllFields) {
    ElevationImage image = makeUniform(3, 3, encode(4));
    image.pixelsPerUnitX = 0.25;
    image.pixelsPerUnitY = 4.0;
    image.setZScale(3.0);
    ElevationImage const copy(image);
    EXPECT_EQ(copy.pixelsPerUnitX, 0.25);
    EXPECT_EQ(copy.pixelsPerUnitY, 4.0);
    EXPECT_EQ(copy.zScale(), 3.0);
    EXPECT_EQ(copy.elevation(1.0, 0.25), 12.0);
    // Reading a copy does not detach the shared pixels.
    EXPECT_EQ(copy.constBits(), image.constBits());
}

TEST(ElevationImageCache, RefreshAfterQImageChanges) {
    ElevationImage image = makeUniform(3, 3, encode(4));
    image.setPixel(1, 1, encode(9));
    image.refreshPixelCache();
    EXPECT_EQ(image.elevation(1.0, 1.0), 9.0);
    image.convertTo(QImage::Format_RGB888);
    image.refreshPixelCache();
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    EXPECT_EQ(image.elevation(1.0, 1.0), 9.0);
}

TEST(ElevationImageConstructors, SizesAndDefaults) {
    ElevationImage bySize(QSize(5, 4), QImage::Format_ARGB32);
    EXPECT_EQ(bySize.width(), 5);
    EXPECT_EQ(bySize.height(), 4);
    EXPECT_EQ(bySize.pixelsPerUnitX, 1.0);
    EXPECT_EQ(bySize.zScale(), 1.0);

    QRgb data[6] = {encode(1), encode(2), encode(3), encode(4), encode(5), encode(6)};
    ElevationImage wrapped(reinterpret_cast<uchar*>(data), 3, 2, QImage::Format_ARGB32);
    EXPECT_EQ(wrapped.elevation(0.0, 1.0), 1.0);
    EXPECT_EQ(wrapped.elevation(1.5, 1.0), 2.5);
    ElevationImage wrappedConst(reinterpret_cast<uchar const*>(data), 3, 2, QImage::Format_RGB32);
    EXPECT_EQ(wrappedConst.elevation(1.0, 1.0), 2.0);

    // Rows padded to 4 pixels; the padding is never read.
    QRgb padded[8] = {encode(1), encode(2), 0, 0, encode(3), encode(4), 0, 0};
    ElevationImage withStride(reinterpret_cast<uchar*>(padded), 2, 2, 16, QImage::Format_ARGB32);
    EXPECT_EQ(withStride.elevation(0.5, 0.5), 2.5);
    ElevationImage withStrideConst(reinterpret_cast<uchar const*>(padded), 2, 2, 16, QImage::Format_ARGB32);
    EXPECT_EQ(withStrideConst.elevation(0, 0), 3.0);
}
