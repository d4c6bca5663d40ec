#include "texture_image.h"

#include "cpu_dispatch.h"
#include "user_settings.h"

#include <cmath>
#include <cstring>

namespace {

double red(unsigned int color) { return static_cast<double>((color >> 16) & 0xFFu); }
double green(unsigned int color) { return static_cast<double>((color >> 8) & 0xFFu); }
double blue(unsigned int color) { return static_cast<double>(color & 0xFFu); }

// A filtered channel value (never negative) as a byte: above 255 it is 255,
// otherwise truncated.
unsigned int channelByte(double value) {
    return value > 255.0 ? 255u : static_cast<unsigned int>(value);
}

unsigned int opaque(double r, double g, double b) {
    return 0xFF000000u | channelByte(r) << 16 | channelByte(g) << 8 | channelByte(b);
}

using DoubleQuad = TextureImage::DoubleQuad;

// The Gaussian filter's four sums over a 4x4 block of (1, red, green, blue)
// texels, whose column and row weights come from the scaled squared
// distances A and B. The weight sum starts at 1e-8, which keeps it from being
// zero, and advances as 1 * w, which is w exactly; every sum takes its
// sixteen terms in the same order as one by one. With AVX2 the four lanes
// advance in one instruction.
AVRENDER_AVX2_CLONES
void weightedSums(DoubleQuad const* texels, double const* weights, double const* A, double const* B, double* sums) {
    DoubleQuad total{1e-8, 0.0, 0.0, 0.0};
    for (int m = 0; m < 4; ++m) {
        for (int k = 0; k < 4; ++k) {
            // Both distances are at most 2, so the index is at most 80.
            int const index = static_cast<int>(A[k] + B[m]);
            Q_ASSERT(index >= 0 && index <= 80);
            double const w = weights[index];
            total += texels[4 * m + k] * DoubleQuad{w, w, w, w};
        }
    }
    std::memcpy(sums, &total, sizeof total);
}

// A 4x4 block of texels, row by row, as (1, red, green, blue) quads: each
// texel's channel bytes are moved into place by one byte shuffle, converted
// together and joined with the 1 in registers.
using Bytes = unsigned char __attribute__((vector_size(16)));
using FourInts = int __attribute__((vector_size(16)));
using FourIndices = long long __attribute__((vector_size(32)));

template <int Texel>
[[gnu::always_inline]] inline void texelQuad(Bytes const& row, DoubleQuad& quad) {
    constexpr unsigned char none = 16;  // a byte of the zero vector
    constexpr unsigned char red = 4 * Texel + 2, green = 4 * Texel + 1, blue = 4 * Texel;
#ifdef __clang__
    Bytes const channels = __builtin_shufflevector(row, Bytes{}, none, none, none, none, red, none, none, none, green,
                                                   none, none, none, blue, none, none, none);
#else
    Bytes const channels = __builtin_shuffle(row, Bytes{}, Bytes{none, none, none, none, red, none, none, none, green,
                                                                 none, none, none, blue, none, none, none});
#endif
    DoubleQuad const values = __builtin_convertvector(reinterpret_cast<FourInts const&>(channels), DoubleQuad);
    DoubleQuad const ones{1.0, 1.0, 1.0, 1.0};
#ifdef __clang__
    quad = __builtin_shufflevector(values, ones, 4, 1, 2, 3);
#else
    quad = __builtin_shuffle(values, ones, FourIndices{4, 1, 2, 3});
#endif
}

AVRENDER_AVX2_CLONES
void unpackBlock(unsigned int const* topLeft, qsizetype stride, DoubleQuad* quads) {
    for (int m = 0; m < 4; ++m) {
        Bytes row;
        std::memcpy(&row, topLeft + m * stride, sizeof row);
        texelQuad<0>(row, quads[4 * m]);
        texelQuad<1>(row, quads[4 * m + 1]);
        texelQuad<2>(row, quads[4 * m + 2]);
        texelQuad<3>(row, quads[4 * m + 3]);
    }
}

}  // namespace

TextureImage::TextureImage(QString const& fileName, char const* format)
    : QImage(fileName, format) {
    refreshPixelCache();
    SetWeight();
}

TextureImage::TextureImage(char const* fileName, char const* format)
    : QImage(QString::fromLocal8Bit(fileName), format) {
    refreshPixelCache();
    SetWeight();
}

TextureImage::TextureImage(unsigned char const* data, int width, int height, int bytesPerLine,
                           QImage::Format format)
    : QImage(data, width, height, bytesPerLine, format) {
    refreshPixelCache();
    SetWeight();
}

TextureImage::TextureImage(unsigned char* data, int width, int height, int bytesPerLine,
                           QImage::Format format)
    : QImage(data, width, height, bytesPerLine, format) {
    refreshPixelCache();
    SetWeight();
}

TextureImage::TextureImage(unsigned char const* data, int width, int height, QImage::Format format)
    : QImage(data, width, height, format) {
    refreshPixelCache();
    SetWeight();
}

TextureImage::TextureImage(unsigned char* data, int width, int height, QImage::Format format)
    : QImage(data, width, height, format) {
    refreshPixelCache();
    SetWeight();
}

TextureImage::TextureImage(int width, int height, QImage::Format format)
    : QImage(width, height, format) {
    refreshPixelCache();
    SetWeight();
}

TextureImage::TextureImage(QSize const& size, QImage::Format format) : QImage(size, format) {
    refreshPixelCache();
    SetWeight();
}

TextureImage::TextureImage() {
    refreshPixelCache();
    SetWeight();
}

TextureImage::TextureImage(TextureImage const& other) : QImage(other) {
    refreshPixelCache();
    SetWeight();
}

TextureImage::~TextureImage() = default;

void TextureImage::refreshPixelCache() {
    // RGB32 stays RGB32 (the frame buffer); everything else becomes
    // non-premultiplied ARGB32, whose stored words are what QImage::pixel
    // returns.
    if (!isNull() && format() != QImage::Format_RGB32 && format() != QImage::Format_ARGB32)
        QImage::operator=(convertToFormat(QImage::Format_ARGB32));

    blockCached = false;
    if (isNull()) {
        pixels_ = nullptr;
        stride_ = 0;
        width_ = 0;
        height_ = 0;
        alphaMask_ = 0;
        return;
    }
    // constBits never detaches shared image data.
    pixels_ = reinterpret_cast<QRgb const*>(constBits());
    stride_ = bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    width_ = width();
    height_ = height();
    alphaMask_ = format() == QImage::Format_RGB32 ? 0xFF000000u : 0u;
}

void TextureImage::SetWeight() {
    int const setting = readUserSetting(QStringLiteral("Antialiasing"), 10);
    double a = setting;
    if (setting <= 0)
        a = 1.0;
    for (int n = 0; n <= 80; ++n)
        weights[n] = std::exp(-static_cast<double>(n) / a);
}

void TextureImage::GetColorArray(C4Vector const* five, unsigned int* out) const {
    unsigned int r = 0, g = 0, b = 0;
    for (int n = 0; n < 5; ++n) {
        unsigned int color;
        GetColorInt(five[n], &color);
        r += (color >> 16) & 0xFFu;
        g += (color >> 8) & 0xFFu;
        b += color & 0xFFu;
    }
    *out = 0xFF000000u | (r / 5) << 16 | (g / 5) << 8 | (b / 5);
}

void TextureImage::GetColor(C4Vector const& p, unsigned int* out) {
    // Top-left texel of the 4x4 block around the sample, in image columns
    // and rows; the whole block must lie inside the image.
    double const cx = p.x;
    double const ry = static_cast<double>(height_ - 1) - p.y;
    double const bx = cx - 1.0;
    double const by = ry - 1.0;
    if (!(0.0 <= bx && bx < static_cast<double>(width_ - 3) && 0.0 <= by &&
          by < static_cast<double>(height_ - 3))) {
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
        for (int m = 0; m < 4; ++m) {
            // A block row is four consecutive texels.
            using FourWords = unsigned int __attribute__((vector_size(16)));
            FourWords row;
            std::memcpy(&row, topLeft + m * stride_, sizeof row);
            row |= alphaMask_;
            std::memcpy(&blockCache[4 * m], &row, sizeof row);
        }
        unpackBlock(topLeft, stride_, blockTexels_);
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
    *out = opaque(sums[1] / sums[0], sums[2] / sums[0], sums[3] / sums[0]);
}

void TextureImage::GetColor(C2Vector const& p, unsigned int* out) const {
    double const c = p.x;
    double r = static_cast<double>(height_ - 1) - p.y;
    // Half a texel above the top row still samples the top row.
    if (-0.5 <= r && r <= 0.0)
        r = 0.0;

    double const lastColumn = static_cast<double>(width_ - 1);
    double const lastRow = static_cast<double>(height_ - 1);

    if (0.0 <= c && c < lastColumn && 0.0 <= r && r < lastRow) {
        int const i = static_cast<int>(c);
        int const j = static_cast<int>(r);
        double const fx = c - std::floor(c);
        double const fy = r - std::floor(r);
        unsigned int const upperLeft = texel(i, j);
        unsigned int const upperRight = texel(i + 1, j);
        unsigned int const lowerLeft = texel(i, j + 1);
        unsigned int const lowerRight = texel(i + 1, j + 1);
        double const wa = (1.0 - fx) * (1.0 - fy);
        double const wb = fx * (1.0 - fy);
        double const wd = (1.0 - fx) * fy;
        double const we = fx * fy;
        *out = opaque(wa * red(upperLeft) + wb * red(upperRight) + wd * red(lowerLeft) +
                          we * red(lowerRight),
                      wa * green(upperLeft) + wb * green(upperRight) + wd * green(lowerLeft) +
                          we * green(lowerRight),
                      wa * blue(upperLeft) + wb * blue(upperRight) + wd * blue(lowerLeft) +
                          we * blue(lowerRight));
        return;
    }

    // The last row and the last column interpolate along one axis only.
    if (r == lastRow && c == lastColumn && width_ > 0 && height_ > 0) {
        *out = texel(width_ - 1, height_ - 1);
    } else if (r == lastRow && 0.0 <= c && c < lastColumn) {
        int const i = static_cast<int>(c);
        double const fx = c - std::floor(c);
        unsigned int const left = texel(i, height_ - 1);
        unsigned int const right = texel(i + 1, height_ - 1);
        *out = opaque((1.0 - fx) * red(left) + fx * red(right),
                      (1.0 - fx) * green(left) + fx * green(right),
                      (1.0 - fx) * blue(left) + fx * blue(right));
    } else if (c == lastColumn && 0.0 <= r && r < lastRow) {
        int const j = static_cast<int>(r);
        double const fy = r - std::floor(r);
        unsigned int const upper = texel(width_ - 1, j);
        unsigned int const lower = texel(width_ - 1, j + 1);
        *out = opaque((1.0 - fy) * red(upper) + fy * red(lower),
                      (1.0 - fy) * green(upper) + fy * green(lower),
                      (1.0 - fy) * blue(upper) + fy * blue(lower));
    } else {
        *out = 0xFF000000u;
    }
}
