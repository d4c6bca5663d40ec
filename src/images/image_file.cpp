#include "image_file.h"

#include "machine.h"
#include "png_file.h"

#include <QImageReader>

#include <cstdlib>
#include <limits>
#include <mutex>

namespace {

// Qt creates its image format plug-ins on first use without a lock; readers
// that may run on two threads at once choose their handlers one at a time.
std::mutex& handlerChoice() {
    static std::mutex mutex;
    return mutex;
}

QImage readWithQt(QString const& fileName, char const* format, qint64 limit) {
    QImageReader reader(fileName, format);
    QImage image;
    // Readers decode into an image of their size and format when given one,
    // so the pixels can be advised before the decoder first writes them.
    // Only within the reader's allocation limit, which it would otherwise
    // enforce itself.
    QSize size;
    QImage::Format decoded = QImage::Format_Invalid;
    {
        std::lock_guard const lock(handlerChoice());
        size = reader.size();
        decoded = reader.imageFormat();
    }
    qint64 const bytes = 4 * qint64(size.width()) * size.height();
    if ((decoded == QImage::Format_RGB32 || decoded == QImage::Format_ARGB32) && bytes > 0 &&
        (limit == 0 || bytes <= limit))
        image = imageForHugePages(size.width(), size.height(), decoded);
    if (!reader.read(&image))
        return QImage();
    return image;
}

}  // namespace

QImage readImageFile(QString const& fileName, char const* format) {
    qint64 const limit = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
    if (format == nullptr || qstricmp(format, "png") == 0) {
        QImage plain = readPlainPng(fileName, limit);
        if (!plain.isNull())
            return plain;
    }
    return readWithQt(fileName, format, limit);
}

QImage imageForHugePages(int width, int height, QImage::Format format) {
    int const depth = QImage::toPixelFormat(format).bitsPerPixel();
    if (width <= 0 || height <= 0 || depth <= 0)
        return QImage(width, height, format);
    // Rows as QImage lays them out: whole 32-bit words.
    qsizetype const bytesPerLine = ((qsizetype(width) * depth + 31) >> 5) << 2;
    if (bytesPerLine > std::numeric_limits<qsizetype>::max() / height)
        return QImage(width, height, format);
    std::size_t const bytes = std::size_t(bytesPerLine) * std::size_t(height);
    if (bytes < hugePageBytes)
        return QImage(width, height, format);
    void* const memory = allocateForHugePages(bytes);
    if (memory == nullptr)
        return QImage(width, height, format);
    QImage image(
        static_cast<uchar*>(memory), width, height, bytesPerLine, format, [](void* pixels) { std::free(pixels); },
        memory);
    if (image.isNull()) {
        std::free(memory);
        return QImage(width, height, format);
    }
    return image;
}
