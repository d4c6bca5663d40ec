#include "image_file.h"

#include "machine.h"
#include "png_file.h"

#include <QImageReader>

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
        (limit == 0 || bytes <= limit)) {
        image = QImage(size, decoded);
        if (!image.isNull())
            preferHugePages(image.constBits(), static_cast<std::size_t>(image.sizeInBytes()));
    }
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
