#include "png_file.h"

#include "image_file.h"
#include "test_support.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QtEndian>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

// CRC-32 of the PNG format, bit by bit: independent of the decoder's.
quint32 crc32(QByteArray const& bytes) {
    quint32 crc = 0xFFFFFFFFu;
    for (char byte : bytes) {
        crc ^= static_cast<unsigned char>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

QByteArray bigEndian(quint32 value) {
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray chunk(char const* type, QByteArray const& contents) {
    QByteArray const typed = QByteArray(type) + contents;
    return bigEndian(quint32(contents.size())) + typed + bigEndian(crc32(typed));
}

// An 8-bit RGB image of random bytes with flat stretches (so that Paeth's
// ties occur), as rows of red, green, blue.
std::vector<QByteArray> randomRows(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<QByteArray> rows;
    for (int row = 0; row < height; ++row) {
        QByteArray bytes(3 * width, '\0');
        for (int k = 0; k < bytes.size(); ++k)
            bytes[k] = (row + k / 9) % 4 == 0 ? char(200) : static_cast<char>(random() & 0xFFu);
        rows.push_back(bytes);
    }
    return rows;
}

int paeth(int left, int above, int aboveLeft) {
    int const p = left + above - aboveLeft;
    int const pa = std::abs(p - left), pb = std::abs(p - above), pc = std::abs(p - aboveLeft);
    return pa <= pb && pa <= pc ? left : pb <= pc ? above : aboveLeft;
}

// A row filtered with `filter` (0-4) against the unfiltered row above.
QByteArray filtered(int filter, QByteArray const& row, QByteArray const& above) {
    QByteArray out(1, char(filter));
    for (int k = 0; k < row.size(); ++k) {
        int const x = static_cast<unsigned char>(row[k]);
        int const a = k >= 3 ? static_cast<unsigned char>(row[k - 3]) : 0;
        int const b = static_cast<unsigned char>(above[k]);
        int const c = k >= 3 ? static_cast<unsigned char>(above[k - 3]) : 0;
        int const predicted = filter == 1   ? a
                              : filter == 2 ? b
                              : filter == 3 ? (a + b) / 2
                              : filter == 4 ? paeth(a, b, c)
                                            : 0;
        out.append(static_cast<char>((x - predicted) & 0xFF));
    }
    return out;
}

// The parts of a PNG file, to be changed by a case before assembly.
struct PngParts {
    int width = 0, height = 0;
    QByteArray header;                 // IHDR contents
    QByteArray stream;                 // the zlib stream of the filtered rows
    int dataChunks = 1;                // the stream split over this many IDAT chunks
    QByteArray beforeData, afterData;  // whole chunks around the data
    QByteArray trailer;                // after the IEND chunk

    QByteArray assemble() const {
        QByteArray file("\x89PNG\r\n\x1A\n", 8);
        file += chunk("IHDR", header) + beforeData;
        qsizetype const part = (stream.size() + dataChunks - 1) / dataChunks;
        for (qsizetype at = 0; at < stream.size(); at += part)
            file += chunk("IDAT", stream.mid(at, part));
        return file + afterData + chunk("IEND", {}) + trailer;
    }
};

// Rows filtered by 0, 1, 2, 3, 4, 4, 4 in turn, so every filter meets every
// other above it and Paeth rows come alone, in pairs and in threes.
PngParts plainParts(int width, int height, unsigned seed) {
    std::vector<QByteArray> const rows = randomRows(width, height, seed);
    QByteArray raw;
    QByteArray above(3 * width, '\0');
    for (int row = 0; row < height; ++row) {
        constexpr int filters[] = {0, 1, 2, 3, 4, 4, 4};
        raw += filtered(filters[row % 7], rows[row], above);
        above = rows[row];
    }
    PngParts parts;
    parts.width = width;
    parts.height = height;
    parts.header = bigEndian(quint32(width)) + bigEndian(quint32(height)) + QByteArray("\x08\x02\x00\x00\x00", 5);
    parts.stream = qCompress(raw).mid(4);  // without Qt's length prefix: a zlib stream
    return parts;
}

QString writeFile(QString const& path, QByteArray const& bytes) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

struct Case {
    char const* name;
    bool plain;  // taken by the PNG decoder, or left to Qt's reader
    std::function<void(PngParts&)> change;
};

// Whatever the file, the program's reader gives what Qt's reader gives; the
// PNG decoder takes exactly the plain files, whose every filter, chunk split
// and width (vector groups and their remainders) it must decode alike.
TEST(PlainPngFile, SamePixelsAsQtOrLeftToQt) {
    auto dir = testsupport::makeTempDir();
    std::vector<Case> const cases = {
        {"every filter", true, [](PngParts&) {}},
        {"data over many chunks", true, [](PngParts& p) { p.dataChunks = 7; }},
        {"text, time and pixel size", true,
         [](PngParts& p) {
             p.beforeData = chunk("tEXt", QByteArray("Title\0terrain", 13)) + chunk("pHYs", QByteArray(9, '\1'));
             p.afterData = chunk("tIME", QByteArray(7, '\1'));
         }},
        {"gamma", false, [](PngParts& p) { p.beforeData = chunk("gAMA", bigEndian(100000)); }},
        {"transparent colour", false, [](PngParts& p) { p.beforeData = chunk("tRNS", QByteArray(6, '\0')); }},
        {"damaged text chunk", false,
         [](PngParts& p) {
             p.beforeData = chunk("tEXt", QByteArray("Title\0terrain", 13));
             p.beforeData[p.beforeData.size() - 1] = char(p.beforeData.back() ^ 1);
         }},
        {"damaged data checksum", false,
         [](PngParts& p) { p.stream[p.stream.size() - 1] = char(p.stream.back() ^ 1); }},
        {"data short", false, [](PngParts& p) { p.stream.chop(40); }},
        {"data chunks apart", false,
         [](PngParts& p) {
             QByteArray const rest = p.stream.mid(p.stream.size() / 2);
             p.stream.truncate(p.stream.size() / 2);
             p.afterData = chunk("tEXt", QByteArray("a\0b", 3)) + chunk("IDAT", rest);
         }},
        {"bytes after the end", false, [](PngParts& p) { p.trailer = "junk"; }},
        {"unknown filter", false,
         [](PngParts& p) {
             QByteArray raw = qUncompress(bigEndian(quint32(p.height * (1 + 3 * p.width))) + p.stream);
             raw[0] = 5;
             p.stream = qCompress(raw).mid(4);
         }},
        {"interlaced", false, [](PngParts& p) { p.header[12] = 1; }},
        {"16 bits", false, [](PngParts& p) { p.header[8] = 16; }},
        {"grey", false, [](PngParts& p) { p.header[9] = 0; }},
    };
    for (auto [width, height] :
         {std::array{37, 23}, std::array{1, 1}, std::array{4, 5}, std::array{3, 2}, std::array{250, 60}}) {
        for (Case const& c : cases) {
            PngParts parts = plainParts(width, height, 7u * width + height);
            c.change(parts);
            QString const file = writeFile(dir->path() + QStringLiteral("/case.png"), parts.assemble());
            QImage const plain = readPlainPng(file, 0);
            SCOPED_TRACE(std::string(c.name) + " " + std::to_string(width) + " x " + std::to_string(height));
            EXPECT_EQ(!plain.isNull(), c.plain);
            if (c.plain) {
                EXPECT_EQ(plain, QImage(file));
            }
            EXPECT_EQ(readImageFile(file, nullptr), QImage(file));
        }
    }
}

// Files written by Qt's writer (its filters chosen per row, data in many
// chunks, a pixel-size chunk) decode as Qt reads them; a plain file under
// another name, over the byte limit or too large to hold is left to Qt's
// reader.
TEST(PlainPngFile, QtWrittenFilesAndRefusals) {
    auto dir = testsupport::makeTempDir();
    QImage image(301, 77, QImage::Format_RGB32);
    for (int row = 0; row < image.height(); ++row)
        for (int column = 0; column < image.width(); ++column)
            image.setPixel(column, row,
                           qRgb((column * 7 + row) & 0xFF, (row * row + column) & 0xFF, (column ^ row) & 0xFF));
    QString const path = dir->path() + QStringLiteral("/written.PNG");
    ASSERT_TRUE(image.save(path, "png"));
    QImage const plain = readPlainPng(path, 0);
    EXPECT_EQ(plain, image);
    EXPECT_EQ(plain.format(), QImage::Format_RGB32);
    EXPECT_TRUE(looksLikePlainPng(path));

    EXPECT_TRUE(readPlainPng(path, 4 * 301 * 77 - 1).isNull());
    EXPECT_FALSE(readPlainPng(path, 4 * 301 * 77).isNull());
    QString const renamed = dir->path() + QStringLiteral("/written.dat");
    ASSERT_TRUE(QFile::copy(path, renamed));
    EXPECT_FALSE(looksLikePlainPng(renamed));
    EXPECT_TRUE(readPlainPng(renamed, 0).isNull());
    EXPECT_EQ(readImageFile(renamed, nullptr), image);
    EXPECT_FALSE(looksLikePlainPng(dir->path() + QStringLiteral("/missing.png")));
    EXPECT_TRUE(readImageFile(dir->path() + QStringLiteral("/missing.png"), nullptr).isNull());

    // A file of more than 32 MiB (held whole while decoding) is left to Qt.
    PngParts large;
    large.width = 3400;
    large.height = 3300;
    large.header = bigEndian(3400) + bigEndian(3300) + QByteArray("\x08\x02\x00\x00\x00", 5);
    QByteArray raw(3300 * (1 + 3 * 3400), '\0');
    char* const bytes = raw.data();
    for (qsizetype k = 0; k < raw.size(); ++k)
        bytes[k] = static_cast<char>(k % (1 + 3 * 3400) == 0 ? 0 : k % 251);
    large.stream = qCompress(raw, 0).mid(4);
    QString const largeFile = writeFile(dir->path() + QStringLiteral("/large.png"), large.assemble());
    ASSERT_GT(QFile(largeFile).size(), qint64{32} << 20);
    EXPECT_TRUE(readPlainPng(largeFile, 0).isNull());
    QImage const byQt(largeFile);
    EXPECT_FALSE(byQt.isNull());
    EXPECT_EQ(readImageFile(largeFile, nullptr), byQt);
    // Beyond the reader's allocation limit Qt refuses an image, and so does
    // the program, through either decoder.
    QImage wide(700, 400, QImage::Format_RGB32);
    wide.fill(0xFF336699u);
    QString const widePath = dir->path() + QStringLiteral("/wide.png");
    ASSERT_TRUE(wide.save(widePath));
    EXPECT_EQ(readImageFile(widePath, nullptr), wide);
    int const limit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(1);  // MiB: 700 x 400 needs 1.07
    EXPECT_TRUE(readImageFile(widePath, nullptr).isNull());
    QImageReader::setAllocationLimit(40);  // the large image needs 42.8
    EXPECT_TRUE(readImageFile(largeFile, nullptr).isNull());
    QImageReader::setAllocationLimit(limit);
}

}  // namespace
