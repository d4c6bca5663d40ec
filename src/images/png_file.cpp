#include "png_file.h"

#include "image_file.h"
#include "machine.h"
#include "simd.h"

#include <QFile>
#include <QtEndian>

#include <libdeflate.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr unsigned char pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The signature, then the header chunk: length, type, 13 bytes, checksum.
constexpr int headerBytes = 8 + 8 + 13 + 4;
// libpng's default limit on either side: Qt's reader refuses larger images.
constexpr quint32 largestSide = 1000000;
// The largest file decoded from memory: the two inputs are decoded at once,
// and together they stay within the 64 MiB a run may use beyond its images
// and frame buffers.
constexpr qint64 largestWholeFile = qint64{32} << 20;
// Three bytes a pixel, red first.
constexpr int pixelBytes = 3;

bool hasPngName(QString const& fileName) { return fileName.endsWith(QLatin1String(".png"), Qt::CaseInsensitive); }

// A chunk's checksum covers its type and contents.
bool checksumHolds(unsigned char const* type, quint32 length) {
    return libdeflate_crc32(0, type, std::size_t(length) + 4) == qFromBigEndian<quint32>(type + 4 + length);
}

struct PlainHeader {
    int width;
    int height;
};

// The size of a PNG of 8-bit RGB pixels with the standard compression and
// filtering, not interlaced, from the file's first `headerBytes` bytes.
std::optional<PlainHeader> plainHeader(unsigned char const* bytes) {
    if (std::memcmp(bytes, pngSignature, sizeof pngSignature) != 0 || qFromBigEndian<quint32>(bytes + 8) != 13 ||
        std::memcmp(bytes + 12, "IHDR", 4) != 0 || !checksumHolds(bytes + 12, 13))
        return std::nullopt;
    unsigned char const* fields = bytes + 16;
    quint32 const width = qFromBigEndian<quint32>(fields), height = qFromBigEndian<quint32>(fields + 4);
    bool const rgb8 = fields[8] == 8 && fields[9] == 2;
    bool const standard = fields[10] == 0 && fields[11] == 0 && fields[12] == 0;
    if (width == 0 || height == 0 || width > largestSide || height > largestSide || !rgb8 || !standard)
        return std::nullopt;
    return PlainHeader{int(width), int(height)};
}

// Chunks that carry only text, a time or the pixel size.
bool leavesPixelsAlone(unsigned char const* type) {
    for (char const* name : {"tEXt", "zTXt", "iTXt", "tIME", "pHYs"})
        if (std::memcmp(type, name, 4) == 0)
            return true;
    return false;
}

// Checks every chunk after the header and gathers the contents of the data
// chunks at the front of `file`; returns their length, or nothing when a
// chunk is not one of a plain PNG's, out of order, or damaged.
std::optional<std::size_t> gatherImageData(unsigned char* file, std::size_t size) {
    enum { BeforeData, InData, AfterData } stage = BeforeData;
    std::size_t gathered = 0;
    std::size_t position = headerBytes;
    while (size - position >= 12) {
        quint32 const length = qFromBigEndian<quint32>(file + position);
        unsigned char const* type = file + position + 4;
        if (length > size - position - 12 || !checksumHolds(type, length))
            return std::nullopt;
        if (std::memcmp(type, "IDAT", 4) == 0) {
            if (stage == AfterData)
                return std::nullopt;
            stage = InData;
            std::memmove(file + gathered, type + 4, length);
            gathered += length;
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            // The end chunk ends the file too: anything else is left to Qt.
            bool const last = position + 12 == size;
            return stage != BeforeData && length == 0 && last ? std::optional(gathered) : std::nullopt;
        } else if (leavesPixelsAlone(type)) {
            if (stage == InData)
                stage = AfterData;
        } else {
            return std::nullopt;
        }
        position += 12 + std::size_t(length);
    }
    return std::nullopt;
}

struct FreeBytes {
    void operator()(unsigned char* bytes) const { std::free(bytes); }
};
using FileBytes = std::unique_ptr<unsigned char[], FreeBytes>;

// The whole file, or nothing when it cannot be read whole.
FileBytes readWhole(QFile& file, std::size_t size) {
    FileBytes bytes(static_cast<unsigned char*>(allocateForHugePages(size)));
    if (!bytes)
        return nullptr;
    std::size_t done = 0;
    while (done < size) {
        qint64 const got = file.read(reinterpret_cast<char*>(bytes.get() + done), qint64(size - done));
        if (got <= 0)
            return nullptr;
        done += std::size_t(got);
    }
    return bytes;
}

// The three bytes of the pixel at `bytes` in int lanes (the fourth is zero).
[[gnu::always_inline]] inline simd::Int4 pixelLanes(unsigned char const* bytes) {
    return simd::Int4{bytes[0], bytes[1], bytes[2], 0};
}

[[gnu::always_inline]] inline simd::Int4 absolute(simd::Int4 v) { return simd::select(v < 0, -v, v); }

// Paeth's choice of left, up and aboveLeft: the one nearest to
// left + up - aboveLeft, ties going to left, then up.
[[gnu::always_inline]] inline simd::Int4 paethPrediction(simd::Int4 left, simd::Int4 up, simd::Int4 aboveLeft) {
    simd::Int4 const fromLeft = absolute(up - aboveLeft);
    simd::Int4 const fromUp = absolute(left - aboveLeft);
    simd::Int4 const fromAboveLeft = absolute(left + up - aboveLeft - aboveLeft);
    return simd::select((fromLeft <= fromUp) & (fromLeft <= fromAboveLeft), left,
                        simd::select(fromUp <= fromAboveLeft, up, aboveLeft));
}

[[gnu::always_inline]] inline void storePixel(unsigned char* out, simd::Int4 value) {
    for (int k = 0; k < pixelBytes; ++k)
        out[k] = static_cast<unsigned char>(value[k]);
}

// The filters that predict a byte from the pixel to its left: 1 (the left
// pixel), 3 (the mean of left and above) and 4 (Paeth's choice of left,
// above and above-left). Each pixel waits for the one before it, so its
// three bytes are worked out side by side in lanes.
template <int filter>
[[gnu::always_inline]] inline void unfilterFromLeft(unsigned char const* in, unsigned char const* above,
                                                    unsigned char* out, int pixels) {
    simd::Int4 left{}, aboveLeft{};
    for (int column = 0; column < pixels; ++column) {
        std::size_t const at = std::size_t(column) * pixelBytes;
        simd::Int4 const up = pixelLanes(above + at);
        simd::Int4 predicted;
        if constexpr (filter == 1) {
            predicted = left;
        } else if constexpr (filter == 3) {
            predicted = (left + up) >> 1;
        } else {
            static_assert(filter == 4);
            predicted = paethPrediction(left, up, aboveLeft);
        }
        simd::Int4 const value = (pixelLanes(in + at) + predicted) & 0xFF;
        storePixel(out + at, value);
        left = value;
        aboveLeft = up;
    }
}

// Two rows filtered by Paeth, one under the other. A pixel of the lower row
// waits only for its left neighbour and the pixel above, so the two rows'
// chains run side by side (most rows of a photograph are filtered so).
[[gnu::always_inline]] inline void unfilterPaethPair(unsigned char const* upperIn, unsigned char const* lowerIn,
                                                     unsigned char const* above, unsigned char* upperOut,
                                                     unsigned char* lowerOut, int pixels) {
    simd::Int4 upperLeft{}, upperAboveLeft{}, lowerLeft{}, lowerAboveLeft{};
    for (int column = 0; column < pixels; ++column) {
        std::size_t const at = std::size_t(column) * pixelBytes;
        simd::Int4 const up = pixelLanes(above + at);
        simd::Int4 const upper = (pixelLanes(upperIn + at) + paethPrediction(upperLeft, up, upperAboveLeft)) & 0xFF;
        simd::Int4 const lower = (pixelLanes(lowerIn + at) + paethPrediction(lowerLeft, upper, lowerAboveLeft)) & 0xFF;
        storePixel(upperOut + at, upper);
        storePixel(lowerOut + at, lower);
        upperLeft = upper;
        upperAboveLeft = up;
        lowerLeft = lower;
        lowerAboveLeft = upper;
    }
}

// One row's bytes from its filtered bytes and the row above (zeros above the
// first row); false for an unknown filter.
bool unfilterRow(unsigned char filter, unsigned char const* in, unsigned char const* above, unsigned char* out,
                 int pixels) {
    std::size_t const bytes = std::size_t(pixels) * pixelBytes;
    switch (filter) {
        case 0:
            std::memcpy(out, in, bytes);
            return true;
        case 1:
            simd::run<unfilterFromLeft<1>>(in, above, out, pixels);
            return true;
        case 2:
            for (std::size_t k = 0; k < bytes; ++k)
                out[k] = static_cast<unsigned char>(in[k] + above[k]);
            return true;
        case 3:
            simd::run<unfilterFromLeft<3>>(in, above, out, pixels);
            return true;
        case 4:
            simd::run<unfilterFromLeft<4>>(in, above, out, pixels);
            return true;
        default:
            return false;
    }
}

// Opaque pixels from `count` red, green and blue bytes. Run through
// simd::run for the compiler's own AVX2 code; a byte shuffle of four pixels
// at a time was slower (see bench/README.md).
[[gnu::always_inline]] inline void rgb32OfRow(unsigned char const* rgb, int count, QRgb* out) {
    for (int column = 0; column < count; ++column, rgb += pixelBytes)
        out[column] = qRgb(rgb[0], rgb[1], rgb[2]);
}

struct DecompressorFree {
    void operator()(libdeflate_decompressor* decompressor) const { libdeflate_free_decompressor(decompressor); }
};

// The image from its compressed rows, or a null image when they do not fill
// it exactly. The rows are inflated into the end of the image's own pixels
// (they take less room than the pixels) and turned into pixels from the top:
// a pixel row never reaches the filtered rows still to be read.
QImage decodeRows(PlainHeader header, unsigned char const* data, std::size_t dataBytes) {
    QImage image = imageForHugePages(header.width, header.height, QImage::Format_RGB32);
    std::size_t const rowBytes = std::size_t(header.width) * pixelBytes;
    std::size_t const filteredBytes = std::size_t(header.height) * (1 + rowBytes);
    if (image.isNull() || image.bytesPerLine() != qsizetype(header.width) * 4)
        return QImage();
    unsigned char* filtered = image.bits() + (std::size_t(image.sizeInBytes()) - filteredBytes);

    std::unique_ptr<libdeflate_decompressor, DecompressorFree> const decompressor(libdeflate_alloc_decompressor());
    std::size_t read = 0, written = 0;
    if (!decompressor ||
        libdeflate_zlib_decompress_ex(decompressor.get(), data, dataBytes, filtered, filteredBytes, &read, &written) !=
            LIBDEFLATE_SUCCESS ||
        read != dataBytes || written != filteredBytes)
        return QImage();

    std::vector<unsigned char> rows(3 * rowBytes, 0);
    unsigned char* above = rows.data();
    unsigned char* current = rows.data() + rowBytes;
    unsigned char* next = rows.data() + 2 * rowBytes;
    auto pixelsOf = [&](unsigned char const* bytes, int row) {
        simd::run<rgb32OfRow>(bytes, header.width, reinterpret_cast<QRgb*>(image.scanLine(row)));
    };
    for (int row = 0; row < header.height;) {
        unsigned char const* in = filtered + std::size_t(row) * (1 + rowBytes);
        unsigned char const* below = in + (1 + rowBytes);
        // Both rows are read before either becomes pixels: the lower row's
        // pixels end before the filtered row under it begins.
        if (row + 1 < header.height && in[0] == 4 && below[0] == 4) {
            simd::run<unfilterPaethPair>(in + 1, below + 1, static_cast<unsigned char const*>(above), current, next,
                                         header.width);
            pixelsOf(current, row);
            pixelsOf(next, row + 1);
            std::swap(above, next);
            row += 2;
        } else {
            if (!unfilterRow(in[0], in + 1, above, current, header.width))
                return QImage();
            pixelsOf(current, row);
            std::swap(above, current);
            row += 1;
        }
    }
    return image;
}

}  // namespace

bool looksLikePlainPng(QString const& fileName) {
    if (!hasPngName(fileName))
        return false;
    QFile file(fileName);
    unsigned char bytes[headerBytes];
    return file.open(QIODevice::ReadOnly) && file.read(reinterpret_cast<char*>(bytes), headerBytes) == headerBytes &&
           plainHeader(bytes).has_value();
}

QImage readPlainPng(QString const& fileName, qint64 byteLimit) {
    if (!hasPngName(fileName))
        return QImage();
    QFile file(fileName);
    unsigned char start[headerBytes];
    if (!file.open(QIODevice::ReadOnly) || file.isSequential() ||
        file.read(reinterpret_cast<char*>(start), headerBytes) != headerBytes)
        return QImage();
    std::optional<PlainHeader> const header = plainHeader(start);
    if (!header)
        return QImage();
    qint64 const imageBytes = 4 * qint64(header->width) * header->height;
    // The whole file is held while it is decoded; a larger one is left to
    // Qt's reader, which streams it.
    qint64 const size = file.size();
    if ((byteLimit > 0 && imageBytes > byteLimit) || size > largestWholeFile || !file.seek(0))
        return QImage();
    FileBytes const bytes = readWhole(file, std::size_t(size));
    if (!bytes)
        return QImage();
    std::optional<std::size_t> const dataBytes = gatherImageData(bytes.get(), std::size_t(size));
    return dataBytes ? decodeRows(*header, bytes.get(), *dataBytes) : QImage();
}
