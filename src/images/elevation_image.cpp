#include "elevation_image.h"

#include "cpu_dispatch.h"

#include <algorithm>
#include <cmath>
#include <limits>

#if defined(__GNUC__) && defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define AVRENDER_AVX2_HEIGHTS 1
#include <immintrin.h>
#endif

namespace {

// Nearest-pixel index along one axis: trunc(coordinate) when it lies in
// [0, size), otherwise -1. The range is checked on the double, so an
// out-of-range or NaN coordinate never reaches the integer conversion.
int nearestIndex(double coordinate, int size) {
    if (!(coordinate > -1.0 && coordinate < static_cast<double>(size)))
        return -1;
    return static_cast<int>(coordinate);
}

// Widens [lowest, highest] to the height counts of a row of pixels. A large
// map's range is found before the first frame, while nothing else runs.
AVRENDER_AVX2_CLONES
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

ElevationImage::ElevationImage(QString const& fileName, double spacingX, double spacingY,
                               char const* format)
    : QImage(fileName, format), pixelsPerUnitX(1.0 / spacingX), pixelsPerUnitY(1.0 / spacingY) {
    refreshPixelCache();
}

ElevationImage::ElevationImage(QString const& fileName, char const* format)
    : QImage(fileName, format) {
    refreshPixelCache();
}

ElevationImage::ElevationImage(char const* fileName, char const* format)
    : QImage(QString::fromLocal8Bit(fileName), format) {
    refreshPixelCache();
}

ElevationImage::ElevationImage(unsigned char const* data, int width, int height, int bytesPerLine,
                               QImage::Format format)
    : QImage(data, width, height, bytesPerLine, format) {
    refreshPixelCache();
}

ElevationImage::ElevationImage(unsigned char* data, int width, int height, int bytesPerLine,
                               QImage::Format format)
    : QImage(data, width, height, bytesPerLine, format) {
    refreshPixelCache();
}

ElevationImage::ElevationImage(unsigned char const* data, int width, int height,
                               QImage::Format format)
    : QImage(data, width, height, format) {
    refreshPixelCache();
}

ElevationImage::ElevationImage(unsigned char* data, int width, int height, QImage::Format format)
    : QImage(data, width, height, format) {
    refreshPixelCache();
}

ElevationImage::ElevationImage(int width, int height, QImage::Format format)
    : QImage(width, height, format) {
    refreshPixelCache();
}

ElevationImage::ElevationImage(QSize const& size, QImage::Format format) : QImage(size, format) {
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

void ElevationImage::refreshPixelCache() {
    countRangeKnown_ = false;
    // Only these formats store each pixel as the 32-bit word whose low 24 bits
    // are the colour QImage::pixel returns (for the premultiplied one
    // QImage::pixel returns the stored word as it is).
    if (!isNull() && format() != QImage::Format_RGB32 && format() != QImage::Format_ARGB32 &&
        format() != QImage::Format_ARGB32_Premultiplied) {
        QImage::operator=(convertToFormat(hasAlphaChannel() ? QImage::Format_ARGB32
                                                            : QImage::Format_RGB32));
    }
    if (isNull()) {
        pixels_ = nullptr;
        stride_ = 0;
        width_ = 0;
        height_ = 0;
        return;
    }
    // constBits never detaches shared image data.
    pixels_ = reinterpret_cast<QRgb const*>(constBits());
    stride_ = bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    width_ = width();
    height_ = height();
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

#ifdef AVRENDER_AVX2_HEIGHTS
namespace {

// The height counts of the pixels at base[index[k]], decoded as heightCount does.
__attribute__((target("avx2"), always_inline)) inline __m256d countsAt(QRgb const* base, __m256i index) {
    __m128i const words = _mm256_i64gather_epi32(reinterpret_cast<int const*>(base), index, 4);
    return _mm256_cvtepi32_pd(_mm_srai_epi32(_mm_slli_epi32(words, 8), 8));
}

// The bilinear query of ElevationImage::elevation on four lanes. Lanes whose
// point lies outside the interpolation domain (or is NaN) read pixel 0 and
// are then cleared to +0.0, the value the scalar query returns there.
__attribute__((target("avx2"))) void bilinearHeights4(double const* xs, double const* ys, double* heights,
                                                      QRgb const* pixels, qsizetype stride, int width, int height,
                                                      double pixelsPerUnitX, double pixelsPerUnitY, double zScale) {
    __m256d const c = _mm256_mul_pd(_mm256_loadu_pd(xs), _mm256_set1_pd(pixelsPerUnitX));
    __m256d const r = _mm256_sub_pd(_mm256_set1_pd(static_cast<double>(height - 1)),
                                    _mm256_mul_pd(_mm256_loadu_pd(ys), _mm256_set1_pd(pixelsPerUnitY)));
    __m256d const zero = _mm256_setzero_pd();
    __m256d const inside = _mm256_and_pd(
        _mm256_and_pd(_mm256_cmp_pd(zero, c, _CMP_LE_OQ),
                      _mm256_cmp_pd(c, _mm256_set1_pd(static_cast<double>(width - 1)), _CMP_LT_OQ)),
        _mm256_and_pd(_mm256_cmp_pd(zero, r, _CMP_LE_OQ),
                      _mm256_cmp_pd(r, _mm256_set1_pd(static_cast<double>(height - 1)), _CMP_LT_OQ)));
    if (_mm256_movemask_pd(inside) == 0) {
        _mm256_storeu_pd(heights, zero);
        return;
    }
    // Outside lanes continue from (0, 0), which every image with an inside
    // point has.
    __m256d const column = _mm256_and_pd(c, inside);
    __m256d const row = _mm256_and_pd(r, inside);
    __m128i const i = _mm256_cvttpd_epi32(column);
    __m128i const j = _mm256_cvttpd_epi32(row);
    __m256d const fx = _mm256_sub_pd(column, _mm256_cvtepi32_pd(i));
    __m256d const fy = _mm256_sub_pd(row, _mm256_cvtepi32_pd(j));

    __m256i const index = _mm256_add_epi64(_mm256_mul_epi32(_mm256_cvtepi32_epi64(j), _mm256_set1_epi64x(stride)),
                                           _mm256_cvtepi32_epi64(i));
    __m256d const upperLeft = countsAt(pixels, index);
    __m256d const upperRight = countsAt(pixels + 1, index);
    __m256d const lowerLeft = countsAt(pixels + stride, index);
    __m256d const lowerRight = countsAt(pixels + stride + 1, index);

    __m256d const one = _mm256_set1_pd(1.0);
    __m256d const restX = _mm256_sub_pd(one, fx);
    __m256d const upper = _mm256_add_pd(_mm256_mul_pd(restX, upperLeft), _mm256_mul_pd(fx, upperRight));
    __m256d const lower = _mm256_add_pd(_mm256_mul_pd(restX, lowerLeft), _mm256_mul_pd(fx, lowerRight));
    __m256d const blend = _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(one, fy), upper), _mm256_mul_pd(fy, lower));
    _mm256_storeu_pd(heights, _mm256_and_pd(_mm256_mul_pd(_mm256_set1_pd(zScale), blend), inside));
}

}  // namespace
#endif

void ElevationImage::elevations4(double const* xs, double const* ys, double* heights) const {
#ifdef AVRENDER_AVX2_HEIGHTS
    // The pixel index j * stride + i is formed from 32-bit products.
    if (hasUsableMapping() && stride_ <= std::numeric_limits<int>::max() && __builtin_cpu_supports("avx2")) {
        bilinearHeights4(xs, ys, heights, pixels_, stride_, width_, height_, pixelsPerUnitX, pixelsPerUnitY,
                         zScale_);
        return;
    }
#endif
    for (int k = 0; k < 4; ++k)
        heights[k] = elevation(xs[k], ys[k]);
}
