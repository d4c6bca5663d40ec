#include "qtga_handler.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QStringList>
#include <initializer_list>
#include <memory>

#include "qtga_plugin.h"
#include "test_support.h"

namespace {

// Collects qWarning texts while alive instead of printing them.
class WarningCapture {
  public:
    WarningCapture() : previous_(qInstallMessageHandler(&WarningCapture::collect)) { messages().clear(); }
    ~WarningCapture() { qInstallMessageHandler(previous_); }
    QStringList taken() const { return messages(); }

  private:
    static QStringList& messages() {
        static QStringList list;
        return list;
    }
    static void collect(QtMsgType, QMessageLogContext const&, QString const& text) { messages() << text; }
    QtMessageHandler previous_;
};

// What the code under test writes straight to standard error while f runs.
template <class F>
QByteArray directOutput(F f) {
    testing::internal::CaptureStderr();
    f();
    return QByteArray::fromStdString(testing::internal::GetCapturedStderr());
}

// A buffer that accepts a fixed number of bytes, like a full disk.
class LimitedSink : public QBuffer {
  public:
    explicit LimitedSink(qint64 capacity) : capacity_(capacity) { open(WriteOnly); }

  protected:
    qint64 writeData(char const* data, qint64 n) override {
        n = qMin(n, capacity_);
        capacity_ -= n;
        return QBuffer::writeData(data, n);
    }

  private:
    qint64 capacity_;
};

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QByteArray tgaFile(int width, int height, int bits, int descriptor, QByteArray const& pixels, QByteArray const& id = {},
                   int colourMapType = 0, int imageType = 2) {
    QByteArray out = bytes({int(id.size()), colourMapType, imageType, 0, 0, 0, 0, 0, 0, 0, 0, 0, width & 0xFF,
                            width >> 8, height & 0xFF, height >> 8, bits, descriptor});
    return out + id + pixels;
}

QImage imageOf(int width, int height, QImage::Format format, std::initializer_list<QRgb> pixels) {
    QImage image(width, height, format);
    auto it = pixels.begin();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, *it++);
    return image;
}

void expectSamePixels(QImage const& actual, QImage const& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    EXPECT_EQ(actual.format(), expected.format());
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            EXPECT_EQ(actual.pixel(x, y), expected.pixel(x, y)) << "pixel " << x << "," << y;
}

// A handler reading from a buffer that holds data.
struct Reader {
    explicit Reader(QByteArray const& data) {
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        handler.setDevice(&buffer);
    }
    QBuffer buffer;
    QTgaHandler handler;
};

// 2 x 2 pixels stored as B,G,R; the colours they decode to are kA..kD.
QByteArray const kPixels24 = bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
QRgb const kA = 0xFF030201, kB = 0xFF060504, kC = 0xFF090807, kD = 0xFF0C0B0A;

}  // namespace

TEST(QTgaHandlerRead, DecodesValidFiles) {
    struct Case {
        char const* name;
        QByteArray file;
        QImage expected;
    };
    QImage::Format const rgb = QImage::Format_RGB32;
    Case const cases[] = {
        {"top down", tgaFile(2, 2, 24, 0x20, kPixels24), imageOf(2, 2, rgb, {kA, kB, kC, kD})},
        {"bottom up", tgaFile(2, 2, 24, 0x00, kPixels24), imageOf(2, 2, rgb, {kC, kD, kA, kB})},
        {"mirrored top down", tgaFile(2, 2, 24, 0x30, kPixels24), imageOf(2, 2, rgb, {kB, kA, kD, kC})},
        {"mirrored bottom up", tgaFile(2, 2, 24, 0x10, kPixels24), imageOf(2, 2, rgb, {kD, kC, kB, kA})},
        {"identification field", tgaFile(2, 2, 24, 0x20, kPixels24, "xyz"), imageOf(2, 2, rgb, {kA, kB, kC, kD})},
        {"32-bit keeps alpha", tgaFile(2, 1, 32, 0x20, bytes({1, 2, 3, 0x80, 4, 5, 6, 0})),
         imageOf(2, 1, QImage::Format_ARGB32, {0x80030201, 0x00060504})},
        // The stored (bottom) row: attribute bit set on the first pixel; channels 1, 10, 17
        // widen to 8, 82, 140. Two rows, so that a decoder running past a row shows.
        {"16-bit bottom up", tgaFile(2, 2, 16, 0x00, bytes({0x00, 0xFC, 0x51, 0x05, 0x1F, 0x00, 0xE0, 0x03})),
         imageOf(2, 2, rgb, {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0xFF08528C})},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        Reader reader(c.file);
        QImage image;
        ASSERT_TRUE(reader.handler.read(&image));
        expectSamePixels(image, c.expected);
    }
}

TEST(QTgaHandlerRead, RejectsHostileFilesAndLeavesImageUntouched) {
    struct Case {
        char const* name;
        QByteArray file;
        QStringList warnings;
        QByteArray direct;
    };
    QString const header = QStringLiteral("QTgaHandler::read(): Cannot read TGAFILEHEADER");
    QString const notRgb = QStringLiteral("QTgaHandler::read(): TGA file is not uncompressed RGB");
    QByteArray const noData = "QTgaHandler::read(): Cannot read from file";
    Case const cases[] = {
        {"empty", {}, {header}, {}},
        {"short header", tgaFile(1, 1, 24, 0x20, {}).left(17), {header}, {}},
        {"truncated pixels", tgaFile(2, 2, 24, 0x20, kPixels24.left(11)), {}, noData},
        {"zero width", tgaFile(0, 5, 24, 0x20, kPixels24), {}, {}},
        {"zero height", tgaFile(5, 0, 24, 0x20, kPixels24), {}, {}},
        // No allocation may be attempted: the allocation limit would add its own warning.
        {"huge without data", tgaFile(65535, 65535, 24, 0x20, kPixels24), {}, noData},
        {"identification past end", tgaFile(1, 1, 24, 0x20, bytes({1, 2, 3}), QByteArray(1, 'x')).left(20), {}, noData},
        {"colour map", tgaFile(2, 2, 24, 0x20, kPixels24, {}, 1), {notRgb}, {}},
        {"run length encoded", tgaFile(2, 2, 24, 0x20, kPixels24, {}, 0, 10), {notRgb}, {}},
        {"8-bit depth", tgaFile(2, 2, 8, 0x20, kPixels24), {notRgb}, {}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        Reader reader(c.file);
        QImage const original = imageOf(1, 1, QImage::Format_RGB32, {0xFF123456});
        QImage image = original;
        WarningCapture warnings;
        EXPECT_EQ(directOutput([&] { EXPECT_FALSE(reader.handler.read(&image)); }), c.direct);
        EXPECT_EQ(warnings.taken(), c.warnings);
        EXPECT_EQ(image, original);
    }
}

TEST(QTgaHandlerWrite, ReportsEveryFailure) {
    QImage const image = imageOf(2, 1, QImage::Format_RGB32, {0xFF112233, 0xFF445566});
    QTgaHandler handler;
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        handler.setDevice(&buffer);
        QImage wide(65536, 1, QImage::Format_RGB32);
        wide.fill(0);
        WarningCapture warnings;
        EXPECT_FALSE(handler.write(wide));
        EXPECT_EQ(warnings.taken(), QStringList{"QTgaHandler::write(): Image too large for TGA"});
        EXPECT_TRUE(buffer.data().isEmpty());
    }
    {
        LimitedSink sink(10);
        handler.setDevice(&sink);
        WarningCapture warnings;
        EXPECT_FALSE(handler.write(image));
        EXPECT_EQ(warnings.taken(), QStringList{"QTgaHandler::write(): Cannot write TGAFILEHEADER"});
    }
    {
        LimitedSink sink(20);
        handler.setDevice(&sink);
        EXPECT_EQ(directOutput([&] { EXPECT_FALSE(handler.write(image)); }),
                  QByteArray("QTgaHandler::write(): Cannot write to file"));
    }
    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    handler.setDevice(&readOnly);
    WarningCapture warnings;
    EXPECT_FALSE(handler.write(image));
    EXPECT_TRUE(warnings.taken().isEmpty());
}

TEST(QTgaHandler, WarnsWithoutDevice) {
    QTgaHandler handler;
    QImage image;
    WarningCapture warnings;
    EXPECT_FALSE(handler.read(&image));
    EXPECT_FALSE(handler.write(image));
    EXPECT_FALSE(handler.canRead());
    EXPECT_FALSE(QTgaHandler::canRead(nullptr));
    EXPECT_EQ(
        warnings.taken(),
        (QStringList{"QTgaHandler::read() called with no device", "QTgaHandler::write() called with no device",
                     "QTgaHandler::canRead() called with no device", "QTgaHandler::canRead() called with no device"}));
}

TEST(QTgaHandler, AnswersOptions) {
    QTgaHandler handler;
    EXPECT_TRUE(handler.supportsOption(QImageIOHandler::Size));
    EXPECT_TRUE(handler.supportsOption(QImageIOHandler::CompressionRatio));
    EXPECT_FALSE(handler.supportsOption(QImageIOHandler::Quality));
    EXPECT_FALSE(handler.option(QImageIOHandler::Quality).isValid());

    EXPECT_EQ(handler.option(QImageIOHandler::CompressionRatio), QVariant(0));
    handler.setOption(QImageIOHandler::CompressionRatio, 7);
    handler.setOption(QImageIOHandler::CompressionRatio, QStringLiteral("9"));
    handler.setOption(QImageIOHandler::Quality, 5);
    EXPECT_EQ(handler.option(QImageIOHandler::CompressionRatio), QVariant(7));

    // Without a readable TGA header the size is the fixed default.
    EXPECT_EQ(handler.option(QImageIOHandler::Size), QVariant(QSize(400, 300)));
    Reader other(QByteArray(18, '\x01'));
    EXPECT_EQ(other.handler.option(QImageIOHandler::Size), QVariant(QSize(400, 300)));
    Reader tga(tgaFile(3, 258, 24, 0x20, {}));
    EXPECT_EQ(tga.handler.option(QImageIOHandler::Size), QVariant(QSize(3, 258)));
    EXPECT_EQ(tga.buffer.pos(), 0);
}

TEST(QTgaPlugin, CreatesHandlerForDeviceAndFormat) {
    QTgaPlugin plugin;
    QBuffer buffer;
    std::unique_ptr<QImageIOHandler> handler(plugin.create(&buffer, "tga"));
    ASSERT_NE(dynamic_cast<QTgaHandler*>(handler.get()), nullptr);
    EXPECT_EQ(handler->device(), &buffer);
    EXPECT_EQ(handler->format(), QByteArray("tga"));
}

TEST(QTgaImageSystem, SaveAndLoadByFileNameReachOurHandler) {
    auto const dir = testsupport::makeTempDir();
    QString const written = dir->filePath(QStringLiteral("frame.tga"));
    ASSERT_TRUE(imageOf(2, 1, QImage::Format_ARGB32, {0x80112233, 0xFF445566}).save(written));
    QFile file(written);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toHex(' '),
              QByteArray("00 00 02 00 00 00 00 00 00 00 00 00 02 00 01 00 18 20 33 22 11 66 55 44"));
    expectSamePixels(QImage(written), imageOf(2, 1, QImage::Format_RGB32, {0xFF112233, 0xFF445566}));

    // Only this handler offers a compression ratio for TGA and decodes 32-bit alpha as ARGB32.
    QString const withAlpha = dir->filePath(QStringLiteral("alpha.tga"));
    testsupport::writeFile(withAlpha, tgaFile(1, 3, 32, 0x20, bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})));
    QImageReader reader(withAlpha);
    EXPECT_TRUE(reader.supportsOption(QImageIOHandler::CompressionRatio));
    EXPECT_EQ(reader.size(), QSize(1, 3));
    EXPECT_TRUE(QImageWriter(written).supportsOption(QImageIOHandler::CompressionRatio));
    expectSamePixels(QImage(withAlpha), imageOf(1, 3, QImage::Format_ARGB32, {0x04030201, 0x08070605, 0x0C0B0A09}));
}
