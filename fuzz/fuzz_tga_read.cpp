// Fuzzes the TGA reader: the input bytes are a TGA file, read through the
// handler from a random-access buffer and from a sequential device (which
// cannot announce its size, so the reader's early size check does not
// apply), and through Qt's image system with the format named.
//
// The handler reports some refusals with fputs on stderr; scripts/fuzz.sh
// runs this target with -close_fd_mask=2 so that they do not flood the
// output (libFuzzer and the sanitizers keep reporting on a copy of stderr).
#include "fuzz_support.h"
#include "qtga_handler.h"

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// A read-only device that delivers its bytes like a pipe.
class PipeDevice : public QIODevice {
  public:
    explicit PipeDevice(QByteArray const& data) : data_(data) { open(ReadOnly); }
    bool isSequential() const override { return true; }

  protected:
    qint64 readData(char* out, qint64 maximum) override {
        qint64 const n = std::min(maximum, data_.size() - offset_);
        std::copy_n(data_.constData() + offset_, n, out);
        offset_ += n;
        return n;
    }
    qint64 writeData(char const*, qint64) override { return -1; }

  private:
    QByteArray const& data_;
    qint64 offset_ = 0;
};

// The width and height a header announces, or an invalid size for a short input.
QSize announcedSize(QByteArray const& bytes) {
    if (bytes.size() < 18)
        return {};
    auto const byte = [&](int i) { return static_cast<unsigned char>(bytes[i]); };
    return {byte(12) | (byte(13) << 8), byte(14) | (byte(15) << 8)};
}

void checkDecoded(QImage const& image, QByteArray const& bytes) {
    // A successful read yields exactly the announced picture.
    if (image.isNull() || image.size() != announcedSize(bytes))
        std::abort();
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    fuzzsupport::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    QByteArray const bytes(reinterpret_cast<char const*>(data), static_cast<qsizetype>(size));

    QImage fromBuffer;
    {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QTgaHandler handler;
        handler.setDevice(&buffer);
        if (handler.read(&fromBuffer))
            checkDecoded(fromBuffer, bytes);
    }

    {
        PipeDevice pipe(bytes);
        QTgaHandler handler;
        handler.setDevice(&pipe);
        QImage fromPipe;
        if (handler.read(&fromPipe))
            checkDecoded(fromPipe, bytes);
        // Both devices deliver the same bytes: the same verdict and the same picture.
        if (fromPipe.isNull() != fromBuffer.isNull() || fromPipe != fromBuffer)
            std::abort();
    }

    {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "tga");
        (void)reader.size();
        QImage image = reader.read();
        (void)image;
    }

    // Qt's image system hands the named format to the plug-in, so to the same
    // reader. Content detection stays off: with it, a plug-in that recognises
    // the bytes (a GIF, say) may claim them before ours, and that is Qt's choice.
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "tga");
    reader.setAutoDetectImageFormat(false);
    QImage const image = reader.read();
    if (image != fromBuffer)
        std::abort();
    return 0;
}
