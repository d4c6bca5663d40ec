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
#include "image_arguments.h"
#include "pixel_words.h"
#include "simd.h"

#include <QImage>
#include <QString>

#include <utility>

class TextureImage : public QImage, private PixelWords {
  public:
    explicit TextureImage(QString const& fileName, char const* format = nullptr);
    // The file name is taken in the local 8-bit encoding.
    explicit TextureImage(char const* fileName, char const* format = nullptr);
    // A frame buffer, say: its pixels come from allocateForHugePages.
    TextureImage(int width, int height, QImage::Format format);
    // Size and format, or pixel data (with or without a row stride), as QImage takes them.
    template <class... Arguments>
    requires InMemoryImageArguments<Arguments...> TextureImage(Arguments&&... arguments)
        : QImage(std::forward<Arguments>(arguments)...) {
        refreshPixelCache();
        SetWeight();
    }
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
        *out = (0 <= x && x < width_ && 0 <= y && y < height_) ? texel(x, (height_ - 1) - y) : backgroundColor;
    }

    // Nearest texel: column trunc(u), row (H - 1) - trunc(v), truncation
    // toward zero; the texel value as stored (alpha included), or
    // backgroundColor outside. NaN and huge coordinates are outside.
    void GetColorAt(double u, double v, unsigned int* out) const {
        // trunc(u) lies in [0, W) exactly when -1 < u < W; the test is made on
        // the double so that no out-of-range value is ever converted.
        if (u > -1.0 && u < static_cast<double>(width_) && v > -1.0 && v < static_cast<double>(height_)) {
            *out = texel(static_cast<int>(u), (height_ - 1) - static_cast<int>(v));
        } else {
            *out = backgroundColor;
        }
    }

    // GetColorAt of four points, each lane decided exactly as the scalar
    // lookup decides it. Lanes outside read the bottom-left texel and are
    // then replaced, so that no lane ever reads outside the image; an image
    // without texels gives the background.
    [[gnu::always_inline]] simd::UInt4 GetColorsAt(simd::Double4 u, simd::Double4 v) const {
        if (pixels_ == nullptr)
            return simd::UInt4{} + backgroundColor;
        simd::Int4 const inside = simd::convert<simd::Int4>((u > -1.0) & (u < static_cast<double>(width_)) &
                                                            (v > -1.0) & (v < static_cast<double>(height_)));
        simd::Int4 const column = simd::select(inside, simd::truncate(u), simd::Int4{});
        // Outside lanes may hold INT_MIN: chosen away before the subtraction.
        simd::Int4 const row = (height_ - 1) - simd::select(inside, simd::truncate(v), simd::Int4{});
        simd::UInt4 const texels{texel(column[0], row[0]), texel(column[1], row[1]), texel(column[2], row[2]),
                                 texel(column[3], row[3])};
        return simd::select(inside, texels, simd::UInt4{} + backgroundColor);
    }

    void GetColorInt(C4Vector const& p, unsigned int* out) const { GetColorAt(p.x, p.y, out); }

    // Mean of the nearest texels of five consecutive points, per channel,
    // truncated; alpha 255.
    void GetColorArray(C4Vector const* five, unsigned int* out) const;

    // 4x4 Gaussian-weighted filter around (p.x, p.y) with the one-block cache;
    // alpha 255, backgroundColor outside. Inline, so that a caller compiled
    // for wider vectors (the rasteriser's span loop) compiles it so too.
    [[gnu::always_inline]] void GetColor(C4Vector const& p, unsigned int* out);

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
    template <int t>
    [[gnu::always_inline]] static void unpackTexel(simd::UInt4 row, double* quad);
    [[gnu::always_inline]] static void unpackBlock(unsigned int const* block, double (*quads)[4]);
    [[gnu::always_inline]] static void weightedSums(double const (*texels)[4], double const* weights, double const* A,
                                                    double const* B, double* sums);
    // A filtered channel value (never negative) as a byte: above 255 it is
    // 255, otherwise truncated.
    static unsigned int channelByte(double value) { return value > 255.0 ? 255u : static_cast<unsigned int>(value); }
    static unsigned int opaque(double r, double g, double b) {
        return 0xFF000000u | channelByte(r) << 16 | channelByte(g) << 8 | channelByte(b);
    }

    // Texel (column, row) from the top-left as QImage::pixel returns it; the
    // caller checks the range.
    unsigned int texel(int column, int row) const { return pixels_[row * stride_ + column] | alphaMask_; }

    // The cached block's texels as (blue, green, red, 1) quads, row by row:
    // the filter's four sums (weights, red, green, blue) advance together.
    double blockTexels_[16][4] = {};
    // 0xFF000000 for Format_RGB32, whose stored alpha byte is undefined.
    QRgb alphaMask_ = 0;
};

// The Gaussian filter runs for every magnified pixel of a filtered frame.

inline void TextureImage::GetColor(C4Vector const& p, unsigned int* out) {
    // Top-left texel of the 4x4 block around the sample, in image columns
    // and rows; the whole block must lie inside the image.
    double const cx = p.x;
    double const ry = static_cast<double>(height_ - 1) - p.y;
    double const bx = cx - 1.0;
    double const by = ry - 1.0;
    if (!(0.0 <= bx && bx < static_cast<double>(width_ - 3) && 0.0 <= by && by < static_cast<double>(height_ - 3))) {
        *out = backgroundColor;
        return;
    }
    int const i0 = static_cast<int>(bx);
    int const j0 = static_cast<int>(by);
    // bx and by are not negative here: their floor is the truncated value.
    double const fx = bx - static_cast<double>(i0);
    double const fy = by - static_cast<double>(j0);

    // Neighbouring screen pixels mostly fall in the same block: read it only
    // when it changes.
    if (!(blockCached && i0 == blockCacheX && j0 == blockCacheY)) {
        unsigned int const* const topLeft = &pixels_[j0 * stride_ + i0];
        for (int m = 0; m < 4; ++m)
            simd::store(&blockCache[4 * m], simd::load<simd::UInt4>(topLeft + m * stride_) | alphaMask_);
        unpackBlock(blockCache, blockTexels_);
        blockCacheX = i0;
        blockCacheY = j0;
        blockCached = true;
        ++blockReads;
    }

    // Scaled squared distances of the four columns and rows from the sample.
    double const dx[4] = {1.0 + fx, fx, 1.0 - fx, 2.0 - fx};
    double const dy[4] = {1.0 + fy, fy, 1.0 - fy, 2.0 - fy};
    double A[4], B[4];
    for (int k = 0; k < 4; ++k)
        A[k] = 10.0 * (dx[k] * dx[k]);
    for (int m = 0; m < 4; ++m)
        B[m] = 10.0 * (dy[m] * dy[m]);

    double sums[4];
    weightedSums(blockTexels_, weights, A, B, sums);
    *out = opaque(sums[2] / sums[3], sums[1] / sums[3], sums[0] / sums[3]);
}

// Texel t of a row of four words as a (blue, green, red, 1) quad.
template <int t>
inline void TextureImage::unpackTexel(simd::UInt4 row, double* quad) {
    simd::Double4 const channels = simd::convert<simd::Double4>(simd::bytesOfWord<t>(row));
    simd::store(quad, simd::select(simd::Long4{0, 0, 0, -1}, simd::Double4{1.0, 1.0, 1.0, 1.0}, channels));
}

// A 4x4 block of texels, four rows of four words, as sixteen quads.
// Vector gain: see "Block unpacking" in bench/README.md.
inline void TextureImage::unpackBlock(unsigned int const* block, double (*quads)[4]) {
    for (int row = 0; row < 4; ++row) {
        simd::UInt4 const words = simd::load<simd::UInt4>(block + 4 * row);
        unpackTexel<0>(words, quads[4 * row]);
        unpackTexel<1>(words, quads[4 * row + 1]);
        unpackTexel<2>(words, quads[4 * row + 2]);
        unpackTexel<3>(words, quads[4 * row + 3]);
    }
}

// The filter's four sums over a block of (blue, green, red, 1) texels, whose
// column and row weights come from the scaled squared distances A and B. The
// weight sum starts at 1e-8, which keeps it from being zero, and advances as
// 1 * w, which is w exactly; every sum takes its sixteen terms in the same
// order as one by one.
// Vector gain: the four sums in one register, see "Gaussian sums" in bench/README.md.
inline void TextureImage::weightedSums(double const (*texels)[4], double const* weights, double const* A,
                                       double const* B, double* sums) {
    simd::Double4 total{0.0, 0.0, 0.0, 1e-8};
    for (int m = 0; m < 4; ++m) {
        for (int k = 0; k < 4; ++k) {
            // Both distances are at most 2, so the index is at most 80.
            int const index = static_cast<int>(A[k] + B[m]);
            Q_ASSERT(index >= 0 && index <= 80);
            total += simd::load<simd::Double4>(texels[4 * m + k]) * weights[index];
        }
    }
    simd::store(sums, total);
}
