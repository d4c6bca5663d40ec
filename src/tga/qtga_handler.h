// Reader and writer of uncompressed true-colour TGA images.
//
// Files are written as 24-bit, top row first, alpha dropped. Reading accepts
// uncompressed true-colour files of 16, 24 or 32 bits per pixel in any of the
// four row/column orders, skipping the identification field.
#pragma once

#include <QByteArray>
#include <QImageIOHandler>
#include <QVariant>

class QIODevice;

class QTgaHandler : public QImageIOHandler {
  public:
    QTgaHandler() = default;
    ~QTgaHandler() override = default;

    QByteArray name() const;

    bool canRead() const override;
    bool read(QImage* image) override;
    bool write(QImage const& image) override;

    QVariant option(ImageOption option) const override;
    void setOption(ImageOption option, QVariant const& value) override;
    bool supportsOption(ImageOption option) const override;

    static bool canRead(QIODevice* device);

  private:
    // Stored and reported through the image options; it does not affect the output.
    int compressionRatio_ = 0;
};
