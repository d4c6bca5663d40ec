// The terrain's height map: an image whose pixels carry signed 24-bit height
// counts in their red (most significant), green and blue bytes.
//
// World X runs to the right along image rows, world Y upwards: the world
// origin is the centre of the bottom-left pixel, and adjacent pixels lie one
// pixel spacing apart. A height in world units is count * zScale().
//
// Pixel reads go through a cached pointer to the image's 32-bit words, never
// through QImage::pixel. The stored format is always Format_RGB32,
// Format_ARGB32 or Format_ARGB32_Premultiplied (any other format is converted
// once, when the pixel cache is refreshed, to Format_ARGB32 if it has an alpha
// channel and to Format_RGB32 otherwise), so the low 24 bits of every stored
// word are the colour that QImage::pixel would return.
//
// Pixel spacing of zero, a negative spacing or a non-finite one: the
// constructor stores the reciprocal as it comes out (1 / 0 = inf, negative
// values allowed) and never divides later. As long as either factor is not a
// finite positive number, every height query returns 0.0 and setElevation
// writes nothing. The render driver refuses such spacings before it gets here.
#pragma once

#include "geometry.h"
#include "image_arguments.h"
#include "pixel_words.h"

#include <QImage>

#include <QString>

#include <limits>
#include <utility>

class ElevationImage : public QImage, private PixelWords {
  public:
    // File name, pixel spacing along X and Y in world units, format (null: detect).
    ElevationImage(QString const& fileName, double spacingX, double spacingY, char const* format = nullptr);
    explicit ElevationImage(QString const& fileName, char const* format = nullptr);
    // The file name is taken in the local 8-bit encoding.
    explicit ElevationImage(char const* fileName, char const* format = nullptr);
    // Size and format, or pixel data (with or without a row stride), as QImage takes them.
    template <class... Arguments>
    requires InMemoryImageArguments<Arguments...> ElevationImage(Arguments&&... arguments)
        : QImage(std::forward<Arguments>(arguments)...) {
        refreshPixelCache();
    }
    ElevationImage();
    ElevationImage(ElevationImage const& other);
    ElevationImage& operator=(ElevationImage const& other) = default;
    ~ElevationImage() override;

    void setZScale(double scale) { zScale_ = scale; }
    double zScale() const { return zScale_; }

    // Bilinearly interpolated height at world point (x, y). The domain is
    // strict: points on the last column or on the bottom row, and everything
    // outside, give 0.0.
    double elevation(double x, double y) const;

    // Sets p.z to the interpolated height at (p.x, p.y); p.w is untouched.
    void Z(C4Vector& p) const { p.z = elevation(p.x, p.y); }

    // Height of the pixel nearest to grid point (x, y), without interpolation;
    // 0.0 outside the image.
    double elevation(int x, int y) const;

    // Stores a height at the pixel that elevation(int, int) reads: the count
    // is height / zScale() rounded half away from zero, kept modulo 2^24
    // (a non-finite quotient stores 0), with alpha 255.
    void setElevation(int x, int y, double height);

    // Sets every pixel to the raw ARGB value.
    void clear(unsigned int const& value);

    // The least and the greatest height a query can return: the stored
    // counts' range times zScale(), widened to include 0 (the height outside
    // the map). The count range is found on the first call after the pixel
    // cache was refreshed, so one object must not be asked from two threads.
    void heightBounds(double& low, double& high) const;

    // The least and the greatest count that elevation(x, y) interpolates
    // between for any point of the world rectangle [x0, x1] x [y0, y1]
    // (0 included where the rectangle reaches beyond the domain, whose
    // height is 0); heights there lie within these counts times zScale().
    void countBounds(double x0, double x1, double y0, double y1, int& low, int& high) const;

    // Re-reads the pixel pointer, size and stride (converting to a 32-bit
    // format first if needed). The constructors call it, and so do
    // setElevation and clear; call it after modifying the image through any
    // QImage function, otherwise reads use stale data.
    void refreshPixelCache();

    // Decodes a stored pixel: the low 24 bits as a two's-complement count.
    static int heightCount(QRgb value) {
        // The low 24 bits moved to the top and shifted back arithmetically.
        return static_cast<int>(value << 8) >> 8;
    }

    double pixelsPerUnitX = 1.0;
    double pixelsPerUnitY = 1.0;

  private:
    // True when both mapping factors are finite and positive.
    bool hasUsableMapping() const;
    // Pixel (column, row) from the top-left; the caller checks the range.
    QRgb stored(int column, int row) const { return pixels_[row * stride_ + column]; }

    double zScale_ = 1.0;

    // The range of the stored counts, once known.
    mutable bool countRangeKnown_ = false;
    mutable int lowestCount_ = 0;
    mutable int highestCount_ = 0;
};

// The per-point height query runs for every stencil point of every frame: defined
// here so that the scan can inline it.
inline bool ElevationImage::hasUsableMapping() const {
    constexpr double infinity = std::numeric_limits<double>::infinity();
    return pixelsPerUnitX > 0.0 && pixelsPerUnitX < infinity && pixelsPerUnitY > 0.0 && pixelsPerUnitY < infinity;
}

inline double ElevationImage::elevation(double x, double y) const {
    if (!hasUsableMapping())
        return 0.0;

    double const c = x * pixelsPerUnitX;
    double const r = static_cast<double>(height_ - 1) - y * pixelsPerUnitY;
    // Strict upper bounds: the last column and the bottom row have no
    // neighbour to interpolate towards. NaN fails every comparison.
    if (!(0.0 <= c && c < static_cast<double>(width_ - 1) && 0.0 <= r && r < static_cast<double>(height_ - 1)))
        return 0.0;

    int const i = static_cast<int>(c);
    int const j = static_cast<int>(r);
    // c and r are not negative here, so their floor is the truncated value
    // (and the library call for floor is avoided).
    double const fx = c - static_cast<double>(i);
    double const fy = r - static_cast<double>(j);

    double const upperLeft = heightCount(stored(i, j));
    double const upperRight = heightCount(stored(i + 1, j));
    double const lowerLeft = heightCount(stored(i, j + 1));
    double const lowerRight = heightCount(stored(i + 1, j + 1));

    return zScale_ *
           ((1.0 - fy) * ((1.0 - fx) * upperLeft + fx * upperRight) + fy * ((1.0 - fx) * lowerLeft + fx * lowerRight));
}
