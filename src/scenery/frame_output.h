// Names and saves the frames of a flight.
//
// The output pattern (the scenery's AusDateiname plus a format's suffix) is a
// printf-style format for the frame number. It is used only after validation:
// literal text, "%%" and at most one integer conversion (d, i, o, u, x or X
// with optional flags "-+ 0#", a width and a precision of at most three
// digits each).
// Every file is written under a temporary name in its folder and renamed into
// place when complete, so an interrupted render never leaves a truncated frame.
#pragma once

#include <QFileDevice>
#include <QImage>
#include <QString>
#include <QStringList>

#include <optional>

#include <sys/types.h>

class ProgressDisplay;
class SceneryData;

// One frame file, written under a temporary name and waiting to be renamed
// into place.
struct EncodedFrameFile {
    QString name;
    QString temporaryName;
    int slot = -1;  // of the temporary among the files removed on interrupt
    QString error;  // set when the frame could not be written
};

class FrameOutput {
  public:
    static constexpr int maximumNameBytes = 1023;

    // True when `pattern` is safe to use as the frame-number format.
    static bool isValidPattern(QByteArray const& pattern);
    // The conversion character of a valid pattern ('\0' when it has none),
    // nothing for an invalid one.
    static std::optional<char> conversionOf(QByteArray const& pattern);

    // The file name of frame `number` for the pattern, or nothing when the
    // pattern is invalid or the name would exceed maximumNameBytes.
    static std::optional<QString> fileName(QString const& pattern, int number);

    // The suffixes selected by the scenery, in writing order.
    static QStringList selectedSuffixes(SceneryData const& parameters);

    // Messages (verbose names, warnings) go to `console`.
    FrameOutput(SceneryData const& parameters, ProgressDisplay& console, bool verbose);

    // Checks the pattern with every suffix for the frame numbers first ... last;
    // on failure returns false with the message in `error`.
    bool validate(long long firstNumber, long long lastNumber, QString& error) const;

    // Saving a frame (already reduced when needed) in every selected format,
    // in two halves: encoding writes each file under a temporary name and
    // may run on any thread; committing renames the files into place and
    // reports them, and must happen in frame order, once for every encoding.
    QList<EncodedFrameFile> encode(QImage const& frame, int number) const;
    // A frame's PPM file into `device`; false when a write failed.
    static bool writePpm(QImage const& frame, QIODevice& device);
    void commit(QList<EncodedFrameFile> const& files);

    // True when every selected file of frame `number` exists already.
    bool allFilesExist(int number) const;

    // Files that could not be written so far.
    int failures() const { return failures_; }

  private:
    static QString writeImage(QImage const& frame, QString const& suffix, QFileDevice& device);
    QString writeTemporary(EncodedFrameFile& file, QImage const& frame, QString const& suffix) const;

    QString pattern_;
    QStringList suffixes_;
    ProgressDisplay& console_;
    bool verbose_;
    mode_t fileMode_ = 0644;
    int failures_ = 0;
};
