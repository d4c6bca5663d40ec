#include "elevation_image.h"

#include "image_file.h"

#include <algorithm>
#include <cmath>

namespace {

// Nearest-pixel index along one axis: trunc(coordinate) when it lies in
// [0, size), otherwise -1. The range is checked on the double, so an
// out-of-range or NaN coordinate never reaches the integer conversion.
int nearestIndex(double coordinate, int size) {
    if (!(coordinate > -1.0 && coordinate < static_cast<double>(size)))
        return -1;
    return static_cast<int>(coordinate);
}

// Widens [lowest, highest] to the height counts of a row of pixels.
void countRange(QRgb const* line, int width, int& lowest, int& highest) {
    int low = lowest, high = highest;
    for (int column = 0; column < width; ++column) {
        int const count = ElevationImage::heightCount(line[column]);
        low = std::min(low, count);
        high = std::max(high, count);
    }
    lowest = low;
    highest = high;
}

}  // namespace

ElevationImage::ElevationImage(QString const& fileName, double spacingX, double spacingY, char const* format)
    : QImage(readImageFile(fileName, format)), pixelsPerUnitX(1.0 / spacingX), pixelsPerUnitY(1.0 / spacingY) {
    refreshPixelCache();
}

ElevationImage::ElevationImage(QString const& fileName, char const* format) : QImage(readImageFile(fileName, format)) {
    refreshPixelCache();
}

ElevationImage::ElevationImage(char const* fileName, char const* format)
    : QImage(readImageFile(QString::fromLocal8Bit(fileName), format)) {
    refreshPixelCache();
}

ElevationImage::ElevationImage() { refreshPixelCache(); }

ElevationImage::ElevationImage(ElevationImage const& other)
    : QImage(other),
      pixelsPerUnitX(other.pixelsPerUnitX),
      pixelsPerUnitY(other.pixelsPerUnitY),
      zScale_(other.zScale_) {
    refreshPixelCache();
    // A copy that shares the pixels shares their count range too.
    if (other.countRangeKnown_ && pixels_ == other.pixels_) {
        lowestCount_ = other.lowestCount_;
        highestCount_ = other.highestCount_;
        countRangeKnown_ = true;
    }
}

ElevationImage::~ElevationImage() = default;

void ElevationImage::heightBounds(double& low, double& high) const {
    if (!countRangeKnown_) {
        lowestCount_ = 0;
        highestCount_ = 0;
        for (int row = 0; row < height_; ++row) {
            int rowLowest = 0, rowHighest = 0;
            countRange(pixels_ + row * stride_, width_, rowLowest, rowHighest);
            lowestCount_ = std::min(lowestCount_, rowLowest);
            highestCount_ = std::max(highestCount_, rowHighest);
        }
        countRangeKnown_ = true;
    }
    // Counts are whole numbers below 2^23, so both products are exact up to
    // one rounding; the zero count keeps 0 inside either way.
    double const a = lowestCount_ * zScale_;
    double const b = highestCount_ * zScale_;
    low = std::min(a, b);
    high = std::max(a, b);
}

void ElevationImage::countBounds(double x0, double x1, double y0, double y1, int& low, int& high) const {
    low = high = 0;
    if (!hasUsableMapping() || width_ < 2 || height_ < 2)
        return;  // every height is 0
    // The rectangle in pixel columns and rows (rows counted from the top).
    double const c0 = x0 * pixelsPerUnitX, c1 = x1 * pixelsPerUnitX;
    double const r0 = static_cast<double>(height_ - 1) - y1 * pixelsPerUnitY;
    double const r1 = static_cast<double>(height_ - 1) - y0 * pixelsPerUnitY;
    double const lastColumn = width_ - 1, lastRow = height_ - 1;
    if (!(c0 <= c1 && r0 <= r1) || c1 < 0 || r1 < 0 || c0 >= lastColumn || r0 >= lastRow)
        return;  // not a rectangle (NaN), or wholly outside the domain: 0
    bool const reachesOut = c0 < 0 || r0 < 0 || c1 >= lastColumn || r1 >= lastRow;
    // A point at column c reads columns trunc(c) and trunc(c) + 1.
    int const firstColumn = static_cast<int>(std::max(c0, 0.0));
    int const endColumn = static_cast<int>(std::min(c1, lastColumn - 1)) + 1;
    int const firstRow = static_cast<int>(std::max(r0, 0.0));
    int const endRow = static_cast<int>(std::min(r1, lastRow - 1)) + 1;
    int lowest = std::numeric_limits<int>::max(), highest = std::numeric_limits<int>::min();
    if (reachesOut)
        lowest = highest = 0;
    for (int row = firstRow; row <= endRow; ++row)
        countRange(pixels_ + row * stride_ + firstColumn, endColumn - firstColumn + 1, lowest, highest);
    low = lowest;
    high = highest;
}

void ElevationImage::refreshPixelCache() {
    countRangeKnown_ = false;
    // Only these formats store each pixel as the 32-bit word whose low 24 bits
    // are the colour QImage::pixel returns (for the premultiplied one
    // QImage::pixel returns the stored word as it is).
    if (!isNull() && format() != QImage::Format_RGB32 && format() != QImage::Format_ARGB32 &&
        format() != QImage::Format_ARGB32_Premultiplied) {
        QImage::operator=(convertToFormat(hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32));
    }
    takeWords(*this);
}

double ElevationImage::elevation(int x, int y) const {
    if (!hasUsableMapping())
        return 0.0;
    int const column = nearestIndex(static_cast<double>(x) * pixelsPerUnitX + 0.5, width_);
    int const fromBottom = nearestIndex(static_cast<double>(y) * pixelsPerUnitY + 0.5, height_);
    if (column < 0 || fromBottom < 0)
        return 0.0;
    return heightCount(stored(column, (height_ - 1) - fromBottom)) * zScale_;
}

void ElevationImage::setElevation(int x, int y, double height) {
    if (!hasUsableMapping())
        return;
    int const column = nearestIndex(static_cast<double>(x) * pixelsPerUnitX + 0.5, width_);
    int const fromBottom = nearestIndex(static_cast<double>(y) * pixelsPerUnitY + 0.5, height_);
    if (column < 0 || fromBottom < 0)
        return;

    // The count modulo 2^24, taken on the double so that no count is too
    // large to convert; fmod is exact.
    double const count = std::round(height / zScale_);
    QRgb low24 = 0;
    if (std::isfinite(count)) {
        double wrapped = std::fmod(count, 16777216.0);
        if (wrapped < 0.0)
            wrapped += 16777216.0;
        low24 = static_cast<QRgb>(wrapped);
    }

    QRgb* const line = reinterpret_cast<QRgb*>(scanLine((height_ - 1) - fromBottom));
    line[column] = 0xFF000000u | low24;
    refreshPixelCache();
}

void ElevationImage::clear(unsigned int const& value) {
    if (isNull())
        return;
    // Copy the value first: it may refer into this image's own pixels.
    QRgb const raw = value;
    for (int row = 0; row < height_; ++row) {
        QRgb* const line = reinterpret_cast<QRgb*>(scanLine(row));
        for (int column = 0; column < width_; ++column)
            line[column] = raw;
    }
    refreshPixelCache();
}
