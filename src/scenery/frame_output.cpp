#include "frame_output.h"

#include "scenery_data.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>

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

QString tr(char const* text) { return QCoreApplication::translate("SceneryDelegate", text); }

}  // namespace

bool FrameOutput::isValidPattern(QByteArray const& pattern) {
    int conversions = 0;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '\0')
            return false;
        if (pattern[i] != '%')
            continue;
        ++i;
        if (i < pattern.size() && pattern[i] == '%')
            continue;
        while (i < pattern.size() && QByteArrayView("-+ 0#").contains(pattern[i]))
            ++i;
        if (!skipDigits(pattern, i))
            return false;
        if (i < pattern.size() && pattern[i] == '.') {
            ++i;
            if (!skipDigits(pattern, i))
                return false;
        }
        if (i >= pattern.size() || (pattern[i] != 'd' && pattern[i] != 'i'))
            return false;
        if (++conversions > 1)
            return false;
    }
    return true;
}

std::optional<QString> FrameOutput::fileName(QString const& pattern, int number) {
    QByteArray const format = pattern.toUtf8();
    if (!isValidPattern(format))
        return std::nullopt;
    char name[maximumNameBytes + 1];
    // The pattern holds at most one integer conversion, checked above.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int const length = std::snprintf(name, sizeof name, format.constData(), number);
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

FrameOutput::FrameOutput(SceneryData const& parameters, QTextStream& log, bool verbose)
    : pattern_(parameters.outputFileName), suffixes_(selectedSuffixes(parameters)), log_(log), verbose_(verbose) {}

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

void FrameOutput::write(QImage const& frame, int number) {
    for (QString const& suffix : suffixes_) {
        QString const name = fileName(pattern_ + suffix, number).value_or(QString());
        QString error;
        if (save(frame, name, suffix, error)) {
            if (verbose_) {
                log_ << name << Qt::endl;
            }
        } else {
            ++failures_;
            log_ << tr("Warning: Cannot write frame file \"%1\": %2").arg(name, error) << Qt::endl;
        }
    }
}

bool FrameOutput::save(QImage const& frame, QString const& name, QString const& suffix, QString& error) const {
    if (name.isEmpty()) {
        error = tr("empty file name");
        return false;
    }
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    QImageWriter writer(&file, suffix.mid(1).toLatin1());
    if (!writer.write(frame)) {
        error = writer.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}
