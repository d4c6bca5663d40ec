// An image that can be sampled at non-integer texel coordinates: the terrain
// texture, and (unsampled) the frame buffer of a rendering run.
//
// Sample points (u, v) are in texel units; u grows to the right along image
// rows, v counts rows upwards from the bottom row, so the image row of v is
// (H - 1) - v. Every lookup outside the image yields backgroundColor (the
// bilinear filter: opaque black) instead of failing.
//
// Texels are read through a cached pointer to the image's 32-bit words, never
// through QImage::pixel. When the pixel cache is refreshed, an image in any
// format other than Format_RGB32 and Format_ARGB32 is converted to
// Format_ARGB32 (non-premultiplied, so texel values equal QImage::pixel);
// an RGB32 image keeps its format, and its reads get alpha 255 as
// QImage::pixel gives them. The frame buffer is created as RGB32 and stays so.
// A premultiplied image is therefore read with its unpremultiplied colours
// (QImage::pixel would return its stored premultiplied words); no image reader
// the renderer loads textures with produces that format.
//
// The frame buffer is written through the non-const scanLine(), which may
// reallocate the pixels; the sampling functions are meant for textures and
// are never used on the frame buffer (or call refreshPixelCache() first).
//
// Several TextureImage copies sharing one image's pixels may sample from
// several threads at once: reads go through const access only, and each
// object has its own block cache. One object must not be sampled from two
// threads at once (the Gaussian filter updates its block cache).
#pragma once

#include "geometry.h"

#include <QImage>
#include <QString>

class TextureImage : public QImage {
public:
    explicit TextureImage(QString const& fileName, char const* format = nullptr);
    // The file name is taken in the local 8-bit encoding.
    explicit TextureImage(char const* fileName, char const* format = nullptr);
    TextureImage(unsigned char const* data, int width, int height, int bytesPerLine,
                 QImage::Format format);
    TextureImage(unsigned char* data, int width, int height, int bytesPerLine,
                 QImage::Format format);
    TextureImage(unsigned char const* data, int width, int height, QImage::Format format);
    TextureImage(unsigned char* data, int width, int height, QImage::Format format);
    TextureImage(int width, int height, QImage::Format format);
    TextureImage(QSize const& size, QImage::Format format);
    TextureImage();
    // Shares the image data; like every constructor it resets backgroundColor
    // to opaque white and re-reads the weights. The block cache starts empty.
    TextureImage(TextureImage const& other);
    TextureImage& operator=(TextureImage const& other) = default;
    ~TextureImage() override;

    void setBackgroundColor(unsigned int color) { backgroundColor = color; }

    // Fills weights[n] = exp(-n / a) from the setting "Settings/Antialiasing"
    // (a, default 10; a <= 0 counts as 1).
    void SetWeight();

    // Texel at column x, row (H - 1) - y; backgroundColor outside.
    void GetColor(int x, int y, unsigned int* out) const {
        *out = (0 <= x && x < width_ && 0 <= y && y < height_)
                   ? texel(x, (height_ - 1) - y)
                   : backgroundColor;
    }

    // Nearest texel: column trunc(u), row (H - 1) - trunc(v), truncation
    // toward zero; the texel value as stored (alpha included), or
    // backgroundColor outside. NaN and huge coordinates are outside.
    void GetColorAt(double u, double v, unsigned int* out) const {
        // trunc(u) lies in [0, W) exactly when -1 < u < W; the test is made on
        // the double so that no out-of-range value is ever converted.
        if (u > -1.0 && u < static_cast<double>(width_) && v > -1.0 &&
            v < static_cast<double>(height_)) {
            *out = texel(static_cast<int>(u), (height_ - 1) - static_cast<int>(v));
        } else {
            *out = backgroundColor;
        }
    }

    void GetColorInt(C4Vector const& p, unsigned int* out) const { GetColorAt(p.x, p.y, out); }

    // Mean of the nearest texels of five consecutive points, per channel,
    // truncated; alpha 255.
    void GetColorArray(C4Vector const* five, unsigned int* out) const;

    // 4x4 Gaussian-weighted filter around (p.x, p.y) with the one-block cache;
    // alpha 255, backgroundColor outside.
    void GetColor(C4Vector const& p, unsigned int* out);

    // Bilinear filter at (p.x, p.y); alpha 255 except at the bottom-right
    // texel itself, opaque black outside.
    void GetColor(C2Vector const& p, unsigned int* out) const;

    // Re-reads the pixel pointer, size and stride (converting the format as
    // described above) and empties the block cache. The constructors call it;
    // call it after modifying the image through any QImage function.
    void refreshPixelCache();

    unsigned int backgroundColor = 0xFFFFFFFFu;
    // The 4x4 block last read by the Gaussian filter, row by row.
    unsigned int blockCache[16] = {};
    int blockCacheX = 0;  // image column of the block's top-left texel
    int blockCacheY = 0;  // image row of the block's top-left texel
    bool blockCached = false;
    double weights[81] = {};
    // Number of 4x4 blocks the Gaussian filter has read from the image.
    unsigned long long blockReads = 0;

private:
    // Texel (column, row) from the top-left as QImage::pixel returns it; the
    // caller checks the range.
    unsigned int texel(int column, int row) const {
        return pixels_[row * stride_ + column] | alphaMask_;
    }

public:
    // Four doubles that the compiler keeps in vector registers (two with
    // SSE2, one with AVX); the arithmetic is lane by lane, each lane exactly
    // as a scalar would be.
    using DoubleQuad = double __attribute__((vector_size(32)));

private:
    // The cached block's texels as (1, red, green, blue): the filter's four
    // sums (weights, red, green, blue) advance together.
    DoubleQuad blockTexels_[16] = {};
    QRgb const* pixels_ = nullptr;
    qsizetype stride_ = 0;  // in QRgb units
    int width_ = 0;
    int height_ = 0;
    // 0xFF000000 for Format_RGB32, whose stored alpha byte is undefined.
    QRgb alphaMask_ = 0;
};
