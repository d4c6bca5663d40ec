// The centre of the program: the scenery file's device, its reader, and the
// render run that turns the scenery into frame files.
#pragma once

#include "control_point.h"
#include "elevation_image.h"
#include "frame_output.h"
#include "geometry.h"
#include "scenery_data.h"
#include "terrain_scanner.h"
#include "texture_image.h"
#include "transformation.h"
#include "waypoint.h"

#include <QFile>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

class FrameOutput;
class ProgressDisplay;
class VideoEncoder;
class QTextStream;

// The view of one rendered frame, as handed to the camera.
struct FrameView {
    int number;
    C4Vector observer;
    double heading, tilt, focalLength, bank;  // radians, pixels
    double zScale, fogDistance;
};

// How a render run uses the machine; the defaults are the plain sequential run.
struct RenderOptions {
    int jobs = 1;               // threads rendering frames (or bands of one frame)
    bool skipExisting = false;  // skip frames whose every selected file exists
    bool progress = false;      // show the progress line on the log stream
    QString videoFile;          // also encode the frames into this video (.mp4, .webm, .gif)
    int videoFps = 25;
};

// The view of every frame index of a flight.
using FramePlan = std::function<FrameView(long long index)>;

// One frame to handle: its view, whether its files are written, and whether
// it is rendered at all.
struct FrameJob {
    FrameView view;
    bool writeFiles;
    bool render;
};

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
    QString renderErrorString() const { return renderError_; }

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

    // Render the frames of the flight; false when the flight refuses its input.
    bool straightFlight(TextureImage* texture);
    bool curvedFlight(TextureImage* texture);

    // What a scanner needs to draw with a camera, a height map and a frame
    // buffer, with the run's sizes, grid, light and current fog distance.
    ScanSetup scanSetup(Transformation* view, ElevationImage* heights, TextureImage* frame) const;

    // Draws the terrain of the current view into frameImage.
    void Scan(TextureImage* texture, bool useBackground, unsigned int background, int exactMode);

    QTextStream* log;
    bool verbose;
    RenderOptions options;
    SceneryData* parameters;
    QList<ControlPoint> controlPoints;
    QList<Waypoint> waypoints;

    // Render run state, set by renderFinal.
    double renderScale = 1.0;
    double gridResolutionX = 0.0;
    double gridResolutionY = 0.0;
    C4Vector lightDirection;
    int renderWidth = 0;
    int renderHeight = 0;
    std::unique_ptr<Transformation> camera;
    std::unique_ptr<ElevationImage> elevation;
    std::unique_ptr<TextureImage> frameImage;
    double terrainExtentX = 0.0;
    double terrainExtentY = 0.0;
    double fogDistance = 0.0;
    // The back-to-front scan with its per-frame scratch state.
    TerrainScanner scanner;
    // When set, receives the view of every rendered frame in order.
    QList<FrameView>* frameLog = nullptr;

  private:
    // Finds where the value text of `key` starts in `line`: the result of the
    // match, and on ValueRead the value text.
    int matchKey(QString const& line, QString const& key, QString& valueText);
    int processScalarLine(QString const& line);
    int processFlagKey(QString const& line, QString const& key, SceneryFlagKey kind);
    int processWaypointLine(QString const& line);
    int processControlPointLine(QString const& line);
    bool checkPointNumber(int number, QString const& line);
    void normalisePointLists();
    void writeLog(QString const& text);

    // Render driver steps.
    bool checkRenderParameters();
    void setUpCamera();
    bool loadInputImages(TextureImage& texture);
    bool allocateFrameImage();
    bool renderFrames(TextureImage& texture);
    bool checkFrameNumbers();
    bool startVideo();
    void releaseRenderObjects();
    // Renders and saves frames first ... last of a flight.
    void renderFrames(long long first, long long last, FramePlan const& plan, TextureImage* texture);
    void renderSequentially(long long first, long long last, FramePlan const& plan, TextureImage* texture);
    void renderInParallel(long long first, long long last, FramePlan const& plan, TextureImage* texture);
    void renderInBands(long long first, long long last, FramePlan const& plan, TextureImage* texture);
    FrameJob prepareFrame(long long index, FramePlan const& plan) const;
    QImage outputImage(QImage const& frame) const;
    // Encodes the frame's files (any thread), then writes them and hands the
    // frame to the video (in frame order).
    QList<EncodedFrameFile> encodeFrame(FrameJob const& job, QImage const& output) const;
    void commitFrame(FrameJob const& job, QImage const& output, QList<EncodedFrameFile> const& files);

    void setRenderError(QString const& message);

    std::unique_ptr<ProgressDisplay> progress_;
    std::unique_ptr<VideoEncoder> video_;
    std::unique_ptr<FrameOutput> frameOutput_;
    QString renderError_;
};
