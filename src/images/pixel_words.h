// The 32-bit pixel words of an image, taken once after the image changes so
// that per-pixel reads need no call into QImage. The image classes keep one.
#pragma once

#include <QImage>

struct PixelWords {
    QRgb const* pixels_ = nullptr;
    qsizetype stride_ = 0;  // in QRgb units
    int width_ = 0;
    int height_ = 0;

    // Takes the words of `image` (32 bits a pixel), or none of a null image.
    // constBits never detaches shared image data.
    void takeWords(QImage const& image) {
        if (image.isNull()) {
            *this = PixelWords();
            return;
        }
        pixels_ = reinterpret_cast<QRgb const*>(image.constBits());
        stride_ = image.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
        width_ = image.width();
        height_ = image.height();
    }
};
