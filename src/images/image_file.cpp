#include "image_file.h"

#include "machine.h"

#include <QImageReader>

QImage readImageFile(QString const& fileName, char const* format) {
    QImageReader reader(fileName, format);
    QImage image;
    // Readers decode into an image of their size and format when given one,
    // so the pixels can be advised before the decoder first writes them.
    // Only within the reader's allocation limit, which it would otherwise
    // enforce itself.
    QSize const size = reader.size();
    QImage::Format const decoded = reader.imageFormat();
    qint64 const bytes = 4 * qint64(size.width()) * size.height();
    qint64 const limit = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
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
