#include "texture_image.h"

#include "image_file.h"
#include "user_settings.h"

#include <cmath>

namespace {

double red(unsigned int color) { return static_cast<double>((color >> 16) & 0xFFu); }
double green(unsigned int color) { return static_cast<double>((color >> 8) & 0xFFu); }
double blue(unsigned int color) { return static_cast<double>(color & 0xFFu); }

}  // namespace

TextureImage::TextureImage(QString const& fileName, char const* format) : QImage(readImageFile(fileName, format)) {
    refreshPixelCache();
    SetWeight();
}

TextureImage::TextureImage(char const* fileName, char const* format)
    : QImage(readImageFile(QString::fromLocal8Bit(fileName), format)) {
    refreshPixelCache();
    SetWeight();
}

TextureImage::TextureImage(int width, int height, QImage::Format format)
    : QImage(imageForHugePages(width, height, format)) {
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
    takeWords(*this);
    alphaMask_ = !isNull() && format() == QImage::Format_RGB32 ? 0xFF000000u : 0u;
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
        *out = opaque(wa * red(upperLeft) + wb * red(upperRight) + wd * red(lowerLeft) + we * red(lowerRight),
                      wa * green(upperLeft) + wb * green(upperRight) + wd * green(lowerLeft) + we * green(lowerRight),
                      wa * blue(upperLeft) + wb * blue(upperRight) + wd * blue(lowerLeft) + we * blue(lowerRight));
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
        *out = opaque((1.0 - fx) * red(left) + fx * red(right), (1.0 - fx) * green(left) + fx * green(right),
                      (1.0 - fx) * blue(left) + fx * blue(right));
    } else if (c == lastColumn && 0.0 <= r && r < lastRow) {
        int const j = static_cast<int>(r);
        double const fy = r - std::floor(r);
        unsigned int const upper = texel(width_ - 1, j);
        unsigned int const lower = texel(width_ - 1, j + 1);
        *out = opaque((1.0 - fy) * red(upper) + fy * red(lower), (1.0 - fy) * green(upper) + fy * green(lower),
                      (1.0 - fy) * blue(upper) + fy * blue(lower));
    } else {
        *out = 0xFF000000u;
    }
}
