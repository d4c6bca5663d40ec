#include "frame_output.h"

#include "progress_display.h"
#include "scenery_data.h"
#include "scenery_text.h"
#include "simd.h"
#include "temporary_files.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QImageWriter>
#include <QTemporaryFile>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Skips at most three digits; false when there are more.
bool skipDigits(QByteArray const& text, qsizetype& i) {
    int count = 0;
    while (i < text.size() && isDigit(text[i])) {
        ++i;
        if (++count > 3)
            return false;
    }
    return true;
}

using scenery::tr;

}  // namespace

std::optional<char> FrameOutput::conversionOf(QByteArray const& pattern) {
    char conversion = '\0';
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '\0')
            return std::nullopt;
        if (pattern[i] != '%')
            continue;
        ++i;
        if (i < pattern.size() && pattern[i] == '%')
            continue;
        while (i < pattern.size() && QByteArrayView("-+ 0#").contains(pattern[i]))
            ++i;
        if (!skipDigits(pattern, i))
            return std::nullopt;
        if (i < pattern.size() && pattern[i] == '.') {
            ++i;
            if (!skipDigits(pattern, i))
                return std::nullopt;
        }
        if (i >= pattern.size() || !QByteArrayView("diouxX").contains(pattern[i]) || conversion != '\0')
            return std::nullopt;
        conversion = pattern[i];
    }
    return conversion;
}

bool FrameOutput::isValidPattern(QByteArray const& pattern) { return conversionOf(pattern).has_value(); }

std::optional<QString> FrameOutput::fileName(QString const& pattern, int number) {
    QByteArray const format = pattern.toUtf8();
    std::optional<char> const conversion = conversionOf(format);
    if (!conversion)
        return std::nullopt;
    char name[maximumNameBytes + 1];
    // The pattern holds at most one integer conversion, checked above; the
    // unsigned ones get the number's bits as an unsigned int, as they expect.
    bool const isUnsigned = QByteArrayView("ouxX").contains(*conversion);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int const length = isUnsigned ? std::snprintf(name, sizeof name, format.constData(), static_cast<unsigned>(number))
                                  : std::snprintf(name, sizeof name, format.constData(), number);
#pragma GCC diagnostic pop
    if (length < 0 || length > maximumNameBytes)
        return std::nullopt;
    return QString::fromUtf8(name, length);
}

QStringList FrameOutput::selectedSuffixes(SceneryData const& parameters) {
    QStringList suffixes;
    if (parameters.writeTga)
        suffixes << QStringLiteral(".tga");
    if (parameters.writePng)
        suffixes << QStringLiteral(".png");
    if (parameters.writeJpg)
        suffixes << QStringLiteral(".jpg");
    if (parameters.writePpm)
        suffixes << QStringLiteral(".ppm");
    return suffixes;
}

FrameOutput::FrameOutput(SceneryData const& parameters, ProgressDisplay& console, bool verbose)
    : pattern_(parameters.outputFileName),
      suffixes_(selectedSuffixes(parameters)),
      console_(console),
      verbose_(verbose) {
    // umask can only be read by setting it; this runs before any frame is written.
    mode_t const mask = ::umask(0);
    ::umask(mask);
    fileMode_ = 0666 & ~mask;
}

bool FrameOutput::validate(long long firstNumber, long long lastNumber, QString& error) const {
    for (QString const& suffix : suffixes_) {
        QString const pattern = pattern_ + suffix;
        // The longest names come from the numbers with the most digits and a
        // sign, which are at the ends of the range.
        for (long long number : {firstNumber, lastNumber}) {
            if (number < INT_MIN || number > INT_MAX || !fileName(pattern, static_cast<int>(number))) {
                error = tr("Invalid output file name pattern: %1").arg(pattern);
                return false;
            }
        }
    }
    return true;
}

namespace {

// The red, green and blue bytes of `count` pixels. Where a pixel's word
// lies in memory blue byte first (every little-endian machine) four pixels
// are taken apart by one byte shuffle.
// Vector gain: see "PPM rows by byte shuffles" in bench/README.md.
[[gnu::always_inline]] inline void rgbOfRow(QRgb const* pixels, int count, char* out) {
    int column = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; column + 4 <= count; column += 4) {
            simd::Bytes16 const words = simd::load<simd::Bytes16>(pixels + column);
            simd::Bytes16 const rgb = simd::shuffle<2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, 0, 0, 0, 0>(words, words);
            std::memcpy(out + 3 * column, &rgb, 12);
        }
    }
    for (; column < count; ++column) {
        out[3 * column] = static_cast<char>(qRed(pixels[column]));
        out[3 * column + 1] = static_cast<char>(qGreen(pixels[column]));
        out[3 * column + 2] = static_cast<char>(qBlue(pixels[column]));
    }
}

}  // namespace

// A frame as binary PPM, laid out as Qt's writer lays it out ("P6", the
// width and height, 255, then each pixel's red, green and blue, row by row),
// encoded and written a few hundred kilobytes at a time: the encoded frame
// is never held whole (at 3840 x 2160 it is 24 MB a frame).
bool FrameOutput::writePpm(QImage const& frame, QIODevice& device) {
    QImage const image = frame.format() == QImage::Format_RGB32 || frame.format() == QImage::Format_ARGB32
                             ? frame
                             : frame.convertToFormat(QImage::Format_RGB32);
    int const width = image.width(), height = image.height();
    QByteArray const header = "P6\n" + QByteArray::number(width) + ' ' + QByteArray::number(height) + "\n255\n";
    if (device.write(header) != header.size())
        return false;
    qsizetype const rowBytes = 3 * qsizetype(width);
    qsizetype const chunkBytes = 256 * 1024;
    int const rowsPerChunk =
        static_cast<int>(std::clamp<qsizetype>(chunkBytes / std::max<qsizetype>(rowBytes, 1), 1, std::max(height, 1)));
    std::vector<char> chunk(static_cast<std::size_t>(rowBytes * rowsPerChunk));
    for (int first = 0; first < height; first += rowsPerChunk) {
        int const rows = std::min(rowsPerChunk, height - first);
        for (int k = 0; k < rows; ++k)
            simd::run<rgbOfRow>(reinterpret_cast<QRgb const*>(image.constScanLine(first + k)), width,
                                chunk.data() + k * rowBytes);
        if (device.write(chunk.data(), rows * rowBytes) != rows * rowBytes)
            return false;
    }
    return true;
}

// Each file is written at once under a hidden temporary name beside it; the
// commit renames it into place, in frame order.
QList<EncodedFrameFile> FrameOutput::encode(QImage const& frame, int number) const {
    QList<EncodedFrameFile> files;
    for (QString const& suffix : suffixes_) {
        EncodedFrameFile file;
        file.name = fileName(pattern_ + suffix, number).value_or(QString());
        file.error = writeTemporary(file, frame, suffix);
        files.append(file);
    }
    return files;
}

// The frame in the format of `suffix` into `device`; returns the error, or
// nothing.
QString FrameOutput::writeImage(QImage const& frame, QString const& suffix, QFileDevice& device) {
    QString writerError;
    if (suffix == QLatin1String(".ppm") && !frame.isNull()) {
        if (writePpm(frame, device))
            return {};
    } else {
        QImageWriter writer(&device, suffix.mid(1).toLatin1());
        if (writer.write(frame))
            return {};
        // Writers that give no reason (the TGA writer for images beyond its
        // 65535-pixel limit, say) would only say "Unknown error".
        if (writer.error() != QImageWriter::UnknownError)
            writerError = writer.errorString();
        else
            writerError = tr("the %1 writer cannot write this %2 x %3 image")
                              .arg(suffix.mid(1).toUpper())
                              .arg(frame.width())
                              .arg(frame.height());
    }
    // A write cut short (a full disk, a file size limit) leaves the file
    // without a reason, or without an error at all: one more byte, flushed,
    // is refused with the system's reason. The file is discarded anyway.
    device.write("", 1);
    if (!device.flush() || writerError.isEmpty())
        return device.errorString();
    return writerError;
}

// Writes the file under a hidden temporary name beside it, so that a failed
// or interrupted write never leaves a partial file under the frame's name;
// the temporary name is remembered for removal if the run is interrupted
// until the commit renames it. New files get the permissions a plain file
// would (0666 less the umask). Returns the error, or nothing.
QString FrameOutput::writeTemporary(EncodedFrameFile& file, QImage const& frame, QString const& suffix) const {
    QFileInfo const target(file.name);
    QTemporaryFile temporary(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                             QStringLiteral(".XXXXXX"));
    int const slot = temporaryfiles::openRemembered(temporary);
    if (slot == temporaryfiles::notOpened)
        return temporary.errorString();
    QString error = writeImage(frame, suffix, temporary);
    if (error.isEmpty() && (!temporary.flush() || ::fchmod(temporary.handle(), fileMode_) != 0))
        error = temporary.errorString();
    if (!error.isEmpty()) {
        temporaryfiles::forget(slot);
        return error;  // the temporary file goes with its object
    }
    temporary.setAutoRemove(false);
    file.temporaryName = temporary.fileName();
    file.slot = slot;
    return {};
}

void FrameOutput::commit(QList<EncodedFrameFile> const& files) {
    for (EncodedFrameFile const& file : files) {
        QString error = file.error;
        if (error.isEmpty()) {
            QByteArray const temporaryName = QFile::encodeName(file.temporaryName);
            if (::rename(temporaryName.constData(), QFile::encodeName(file.name).constData()) != 0) {
                error = QString::fromLocal8Bit(std::strerror(errno));
                ::unlink(temporaryName.constData());
            }
            temporaryfiles::forget(file.slot);
        }
        if (error.isEmpty()) {
            if (verbose_)
                console_.message(file.name + QLatin1Char('\n'));
        } else {
            ++failures_;
            console_.message(tr("Warning: Cannot write frame file \"%1\": %2").arg(file.name, error) +
                             QLatin1Char('\n'));
        }
    }
}

bool FrameOutput::allFilesExist(int number) const {
    for (QString const& suffix : suffixes_) {
        std::optional<QString> const name = fileName(pattern_ + suffix, number);
        if (!name || !QFileInfo::exists(*name))
            return false;
    }
    return true;
}
