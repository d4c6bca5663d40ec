// The centre of the program: the scenery file's device and its reader, and
// the flights that plan the frames of the render run it owns.
#pragma once

#include "control_point.h"
#include "elevation_image.h"
#include "geometry.h"
#include "render_run.h"
#include "scenery_data.h"
#include "terrain_scanner.h"
#include "texture_image.h"
#include "transformation.h"
#include "waypoint.h"

#include <QFile>
#include <QList>
#include <QString>

#include <memory>

class QTextStream;

// The scenery-file flags whose value is not simply stored in the record.
enum class SceneryFlagKey { ObsoleteYuv, AlsoPng, Round };

class SceneryDelegate : public QFile {
    Q_OBJECT

  public:
    // Results of readValueFromKey.
    enum KeyResult { NoMatch = 0, ValueRead = 1, Malformed = 2 };

    // The longest scenery-file line accepted; anything longer is not a scenery file.
    static constexpr qsizetype maximumLineLength = 1024 * 1024;
    // Point numbers above this would grow a list to absurd sizes from a single line.
    static constexpr int maximumPointNumber = 9999;

    SceneryDelegate(QTextStream& log, bool verbose);
    ~SceneryDelegate() override;

    // Reads the scenery file; true when it opened and every line was understood.
    // On false the reason is in errorString().
    bool open(QString const& fileName);
    using QFile::open;

    // Renders the scenery read by open(); false with the reason in
    // renderErrorString(), which may be empty (the curved flight reports its
    // refusals on the log stream).
    bool renderFinal();
    // The reason of the last failed renderFinal, without the device's
    // "Unknown error" stand-in for an empty message.
    QString renderErrorString() const { return run_->errorString(); }

    // Removes blanks and tabs before the first "=".
    static void compactLine(QString& line);

    // Applies one compacted line to the record or the point lists.
    bool processLineLoad(QString const& line);

    // Each reads the value of `key` from `line` when the line carries that key.
    int readValueFromKey(QString const& line, QString const& key, QString& value);
    int readValueFromKey(QString const& line, QString const& key, unsigned int& colour);
    int readValueFromKey(QString const& line, QString const& key, bool& flag);
    int readValueFromKey(QString const& line, QString const& key, int& value);
    int readValueFromKey(QString const& line, QString const& key, int& first, int& second);
    int readValueFromKey(QString const& line, QString const& key, int& first, int& second, int& third);
    int readValueFromKey(QString const& line, QString const& key, double& value);

    // The smoothing curve that blends start and end values of a flight:
    // linear for inertia 0, an ease-in/ease-out otherwise.
    static double GetSmoothedValue(double t, double start, double end, double inertia);

    // Plan the views of the flight's frames and hand them to the run, which
    // renders them (within renderFinal); false when the flight refuses its input.
    bool straightFlight(TextureImage* texture);
    bool curvedFlight(TextureImage* texture);

    // Draws the terrain of the current view into the run's frameImage.
    void Scan(TextureImage* texture, bool useBackground, unsigned int background, int exactMode);

    // The render run, with its sizes, camera, images and frame log.
    RenderRun& run() { return *run_; }
    RenderRun const& run() const { return *run_; }

    QTextStream* log;
    bool verbose;
    RenderOptions options;
    SceneryData* parameters;
    QList<ControlPoint> controlPoints;
    QList<Waypoint> waypoints;

  private:
    // Finds where the value text of `key` starts in `line`: the result of the
    // match, and on ValueRead the value text.
    int matchKey(QString const& line, QString const& key, QString& valueText);
    // The result of matchKey, or on ValueRead that of take(value text).
    template <class Take>
    int readWith(QString const& line, QString const& key, Take take) {
        QString text;
        int const match = matchKey(line, key, text);
        return match == ValueRead ? take(text) : match;
    }
    // Records the reason of a malformed line; returns Malformed.
    int malformed(QString const& message);
    int processScalarLine(QString const& line);
    int processFlagKey(QString const& line, QString const& key, SceneryFlagKey kind);
    int processWaypointLine(QString const& line);
    int processControlPointLine(QString const& line);
    bool checkPointNumber(int number, QString const& line);
    void normalisePointLists();
    void writeLog(QString const& text);

    std::unique_ptr<RenderRun> run_;
};
