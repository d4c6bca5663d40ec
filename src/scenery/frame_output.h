// Names and saves the frames of a flight.
//
// The output pattern (the scenery's AusDateiname plus a format's suffix) is a
// printf-style format for the frame number. It is used only after validation:
// literal text, "%%" and at most one integer conversion (d or i with optional
// flags "-+ 0#", a width and a precision of at most three digits each).
// Every file is written under a temporary name in its folder and renamed into
// place when complete, so an interrupted render never leaves a truncated frame.
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

#include <optional>

class SceneryData;
class QTextStream;

class FrameOutput {
public:
    static constexpr int maximumNameBytes = 1023;

    // True when `pattern` is safe to use as the frame-number format.
    static bool isValidPattern(QByteArray const& pattern);

    // The file name of frame `number` for the pattern, or nothing when the
    // pattern is invalid or the name would exceed maximumNameBytes.
    static std::optional<QString> fileName(QString const& pattern, int number);

    // The suffixes selected by the scenery, in writing order.
    static QStringList selectedSuffixes(SceneryData const& parameters);

    FrameOutput(SceneryData const& parameters, QTextStream& log, bool verbose);

    // Checks the pattern with every suffix for the frame numbers first ... last;
    // on failure returns false with the message in `error`.
    bool validate(long long firstNumber, long long lastNumber, QString& error) const;

    // Saves the frame (already reduced when needed) in every selected format.
    void write(QImage const& frame, int number);

    // Files that could not be written so far.
    int failures() const { return failures_; }

private:
    bool save(QImage const& frame, QString const& name, QString const& suffix, QString& error) const;

    QString pattern_;
    QStringList suffixes_;
    QTextStream& log_;
    bool verbose_;
    int failures_ = 0;
};
