// Fuzzes the PNG decoder: the input bytes are a file named .png, read by
// readPlainPng. Whatever the decoder takes must be exactly what Qt's reader
// gives for it. (What it leaves goes to Qt's reader, which is not fuzzed
// here: libpng takes seconds under the sanitizers to refuse a chunk that
// claims a gigabyte.)
//
// Qt's reader reports libpng's warnings on stderr; scripts/fuzz.sh runs this
// target with -close_fd_mask=2 so that they do not flood the output.
#include "fuzz_support.h"
#include "image_file.h"
#include "png_file.h"

#include <QFile>
#include <QImage>
#include <QImageReader>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    fuzzsupport::initialise();
    QImageReader::setAllocationLimit(64);  // MiB, for both readers
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    QString const name = fuzzsupport::scratchDir() + QStringLiteral("/input.png");
    {
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(reinterpret_cast<char const*>(data), qint64(size)) != qint64(size))
            std::abort();
    }
    QImage const plain = readPlainPng(name, qint64(QImageReader::allocationLimit()) * 1024 * 1024);
    if (plain.isNull())
        return 0;
    if (plain != QImage(name) || plain.format() != QImage::Format_RGB32 || readImageFile(name, nullptr) != plain)
        std::abort();
    return 0;
}
