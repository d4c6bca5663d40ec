#include "qtga_handler.h"

#include <QIODevice>
#include <QImage>
#include <QLoggingCategory>
#include <QSize>
#include <QtGlobal>
#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

// The plug-in's warnings; the program prints the messages of its own
// categories and nothing else of what Qt reports.
Q_LOGGING_CATEGORY(tgaMessages, "avrender.tga")

namespace {

// Layout of the 18-byte file header; multi-byte fields are little-endian.
constexpr qint64 kHeaderSize = 18;
enum HeaderOffset : int {
    kIdLength = 0,
    kColourMapType = 1,
    kImageType = 2,
    kColourMapFirstEntry = 3,
    kColourMapLength = 5,
    kColourMapEntrySize = 7,
    kXOrigin = 8,
    kYOrigin = 10,
    kWidth = 12,
    kHeight = 14,
    kBitsPerPixel = 16,
    kDescriptor = 17,
};

constexpr uchar kUncompressedTrueColour = 2;
constexpr uchar kTopToBottom = 0x20;
constexpr uchar kRightToLeft = 0x10;
constexpr uchar kWrittenBitsPerPixel = 24;
constexpr int kMaxDimension = 0xFFFF;

using HeaderBytes = std::array<uchar, kHeaderSize>;

struct Header {
    int idLength = 0;
    int colourMapType = 0;
    int imageType = 0;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    int descriptor = 0;
};

int readUInt16(HeaderBytes const& bytes, int offset) { return bytes[offset] | (bytes[offset + 1] << 8); }

void writeUInt16(HeaderBytes& bytes, int offset, int value) {
    bytes[offset] = static_cast<uchar>(value & 0xFF);
    bytes[offset + 1] = static_cast<uchar>((value >> 8) & 0xFF);
}

Header parseHeader(HeaderBytes const& bytes) {
    Header header;
    header.idLength = bytes[kIdLength];
    header.colourMapType = bytes[kColourMapType];
    header.imageType = bytes[kImageType];
    header.width = readUInt16(bytes, kWidth);
    header.height = readUInt16(bytes, kHeight);
    header.bitsPerPixel = bytes[kBitsPerPixel];
    header.descriptor = bytes[kDescriptor];
    return header;
}

bool isUncompressedTrueColour(Header const& header) {
    return header.colourMapType == 0 && header.imageType == kUncompressedTrueColour;
}

bool hasSupportedDepth(Header const& header) {
    return header.bitsPerPixel == 16 || header.bitsPerPixel == 24 || header.bitsPerPixel == 32;
}

// Reads until n bytes have arrived or the device delivers nothing more.
qint64 readFully(QIODevice* device, char* data, qint64 n) {
    qint64 total = 0;
    while (total < n) {
        qint64 const got = device->read(data + total, n - total);
        if (got <= 0) {
            break;
        }
        total += got;
    }
    return total;
}

// Row decoders: src holds one stored row, dst points at the image pixel that
// receives the row's first stored pixel, step is +1 or -1 (mirrored rows).
void decodeRow16(uchar const* src, QRgb* dst, qptrdiff step, int width) {
    for (int j = 0; j < width; ++j, src += 2, dst += step) {
        // 5-5-5 with the top (attribute) bit ignored; widen each channel to 8 bits.
        int const v = src[0] | (src[1] << 8);
        int const r = (v >> 10) & 0x1F;
        int const g = (v >> 5) & 0x1F;
        int const b = v & 0x1F;
        *dst = qRgb((r << 3) | (r >> 2), (g << 3) | (g >> 2), (b << 3) | (b >> 2));
    }
}

void decodeRow24(uchar const* src, QRgb* dst, qptrdiff step, int width) {
    for (int j = 0; j < width; ++j, src += 3, dst += step) {
        *dst = qRgb(src[2], src[1], src[0]);
    }
}

void decodeRow32(uchar const* src, QRgb* dst, qptrdiff step, int width) {
    for (int j = 0; j < width; ++j, src += 4, dst += step) {
        *dst = qRgba(src[2], src[1], src[0], src[3]);
    }
}

}  // namespace

QByteArray QTgaHandler::name() const { return "tga"; }

bool QTgaHandler::canRead() const {
    if (device() == nullptr) {
        qCWarning(tgaMessages, "QTgaHandler::canRead() called with no device");
        return false;
    }
    if (device()->isReadable()) {
        setFormat("tga");
        return true;
    }
    return false;
}

bool QTgaHandler::canRead(QIODevice* device) {
    if (device == nullptr) {
        qCWarning(tgaMessages, "QTgaHandler::canRead() called with no device");
        return false;
    }
    return device->isReadable();
}

bool QTgaHandler::read(QImage* image) {
    QIODevice* const dev = device();
    if (dev == nullptr) {
        qCWarning(tgaMessages, "QTgaHandler::read() called with no device");
        return false;
    }
    if (!canRead()) {
        return false;
    }

    // Header: read and validate completely before touching anything else.
    HeaderBytes bytes{};
    if (readFully(dev, reinterpret_cast<char*>(bytes.data()), kHeaderSize) < kHeaderSize) {
        qCWarning(tgaMessages, "QTgaHandler::read(): Cannot read TGAFILEHEADER");
        return false;
    }
    Header const header = parseHeader(bytes);
    if (!isUncompressedTrueColour(header) || !hasSupportedDepth(header)) {
        qCWarning(tgaMessages, "QTgaHandler::read(): TGA file is not uncompressed RGB");
        return false;
    }
    int const bytesPerPixel = header.bitsPerPixel / 8;
    qint64 const rowLength = qint64(header.width) * bytesPerPixel;

    // A file announcing more pixels than it holds is refused before any allocation.
    if (!dev->isSequential()) {
        qint64 const needed = header.idLength + rowLength * header.height;
        if (dev->size() - dev->pos() < needed) {
            std::fputs("QTgaHandler::read(): Cannot read from file", stderr);
            return false;
        }
    }
    if (header.width == 0 || header.height == 0) {
        return false;
    }

    QImage::Format const format = header.bitsPerPixel == 32 ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    QImage result;
    if (!QImageIOHandler::allocateImage(QSize(header.width, header.height), format, &result)) {
        return false;
    }

    if (header.idLength > 0 && dev->skip(header.idLength) < header.idLength) {
        std::fputs("QTgaHandler::read(): Cannot read from file", stderr);
        return false;
    }

    // Pixel rows, one stored row at a time straight into its scan line.
    auto* const decode = header.bitsPerPixel == 16   ? decodeRow16
                         : header.bitsPerPixel == 24 ? decodeRow24
                                                     : decodeRow32;
    bool const topToBottom = (header.descriptor & kTopToBottom) != 0;
    bool const rightToLeft = (header.descriptor & kRightToLeft) != 0;
    qptrdiff const step = rightToLeft ? -1 : 1;
    std::vector<uchar> row(static_cast<std::size_t>(rowLength));
    for (int k = 0; k < header.height; ++k) {
        if (readFully(dev, reinterpret_cast<char*>(row.data()), rowLength) < rowLength) {
            std::fputs("QTgaHandler::read(): Cannot read from file", stderr);
            return false;
        }
        int const y = topToBottom ? k : header.height - 1 - k;
        QRgb* dst = reinterpret_cast<QRgb*>(result.scanLine(y));
        if (rightToLeft) {
            dst += header.width - 1;
        }
        decode(row.data(), dst, step, header.width);
    }

    *image = result;
    return true;
}

bool QTgaHandler::write(QImage const& image) {
    QIODevice* const dev = device();
    if (dev == nullptr) {
        qCWarning(tgaMessages, "QTgaHandler::write() called with no device");
        return false;
    }
    if (!dev->isWritable()) {
        return false;
    }
    if (image.width() > kMaxDimension || image.height() > kMaxDimension) {
        qCWarning(tgaMessages, "QTgaHandler::write(): Image too large for TGA");
        return false;
    }

    HeaderBytes bytes{};
    bytes[kImageType] = kUncompressedTrueColour;
    writeUInt16(bytes, kWidth, image.width());
    writeUInt16(bytes, kHeight, image.height());
    bytes[kBitsPerPixel] = kWrittenBitsPerPixel;
    bytes[kDescriptor] = kTopToBottom;
    if (dev->write(reinterpret_cast<char const*>(bytes.data()), kHeaderSize) < kHeaderSize) {
        qCWarning(tgaMessages, "QTgaHandler::write(): Cannot write TGAFILEHEADER");
        return false;
    }

    // One conversion up front so that every row is read as plain 32-bit ARGB values.
    QImage const source = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32
                              ? image
                              : image.convertToFormat(QImage::Format_ARGB32);
    int const width = readUInt16(bytes, kWidth);
    int const height = readUInt16(bytes, kHeight);
    qint64 const rowLength = qint64(width) * 3;
    std::vector<char> row(static_cast<std::size_t>(rowLength));
    for (int y = 0; y < height; ++y) {
        auto const* src = reinterpret_cast<QRgb const*>(source.constScanLine(y));
        char* dst = row.data();
        for (int x = 0; x < width; ++x) {
            QRgb const pixel = src[x];
            *dst++ = static_cast<char>(qBlue(pixel));
            *dst++ = static_cast<char>(qGreen(pixel));
            *dst++ = static_cast<char>(qRed(pixel));
        }
        if (dev->write(row.data(), rowLength) < rowLength) {
            std::fputs("QTgaHandler::write(): Cannot write to file", stderr);
            return false;
        }
    }
    return true;
}

QVariant QTgaHandler::option(ImageOption option) const {
    if (option == Size) {
        // The header's size when it can be looked at without consuming the device.
        QIODevice* const dev = device();
        if (dev != nullptr && dev->isReadable()) {
            QByteArray const peeked = dev->peek(kHeaderSize);
            if (peeked.size() == kHeaderSize) {
                HeaderBytes bytes{};
                std::copy(peeked.cbegin(), peeked.cend(), bytes.begin());
                Header const header = parseHeader(bytes);
                if (isUncompressedTrueColour(header)) {
                    return QSize(header.width, header.height);
                }
            }
        }
        return QSize(400, 300);
    }
    if (option == CompressionRatio) {
        return compressionRatio_;
    }
    return {};
}

void QTgaHandler::setOption(ImageOption option, QVariant const& value) {
    if (option == CompressionRatio && value.metaType().id() == QMetaType::Int) {
        compressionRatio_ = value.toInt();
    }
}

bool QTgaHandler::supportsOption(ImageOption option) const { return option == Size || option == CompressionRatio; }
