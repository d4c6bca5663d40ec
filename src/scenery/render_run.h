// The render run: derives sizes and light from the scenery record, creates the
// camera, loads the images, renders the frames a flight plans and saves them.
#pragma once

#include "elevation_image.h"
#include "frame_output.h"
#include "geometry.h"
#include "terrain_scanner.h"
#include "texture_image.h"
#include "transformation.h"

#include <QIODevice>
#include <QImage>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

class ProgressDisplay;
class QTextStream;
class SceneryData;
class VideoEncoder;

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
    QString cameraPathFile;  // write each frame's view to this CSV file instead of rendering
    QString previewFile;     // write a preview picture of the flight to this file instead of rendering
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

// What a run reads from its owner. They are references because the owner may
// change the record and the options after the run is made, up to each render.
struct RenderSource {
    SceneryData const& parameters;
    QTextStream& log;
    bool const& verbose;
    RenderOptions const& options;
};

class RenderRun {
  public:
    // Flies the flight over the loaded texture, handing its plan to
    // renderFrames; false when the flight refuses its input.
    using Flight = std::function<bool(TextureImage* texture)>;

    explicit RenderRun(RenderSource const& source);
    ~RenderRun();
    RenderRun(RenderRun const&) = delete;
    RenderRun& operator=(RenderRun const&) = delete;

    // Renders the scenery with `fly`; false with the reason in errorString(),
    // which may be empty (a flight may report its refusals on the log stream).
    bool render(Flight const& fly);
    // The reason of the last failed render.
    QString errorString() const { return error_; }
    void setError(QString const& message) { error_ = message; }

    // Renders and saves frames first ... last of a flight.
    void renderFrames(long long first, long long last, FramePlan const& plan, TextureImage* texture);

    // What a scanner needs to draw with a camera, a height map and a frame
    // buffer, with the run's sizes, grid, light and current fog distance.
    ScanSetup scanSetup(Transformation* view, ElevationImage* heights, TextureImage* frame) const;

    // Draws the terrain of the current view into frameImage.
    void Scan(TextureImage* texture, bool useBackground, unsigned int background, int exactMode);

    // Run state, set by render.
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
    // Render driver steps.
    bool checkRenderParameters();
    void setUpCamera();
    bool loadInputImages(TextureImage& texture);
    bool allocateFrameImage();
    bool renderFlight(TextureImage& texture, Flight const& fly);
    bool checkFrameNumbers();
    bool startVideo();
    // The camera path instead of a render: the flight's rows into the file.
    bool writeCameraPath(Flight const& fly);
    void writeCameraRows(long long first, long long last, FramePlan const& plan);

  public:
    struct PreviewViews;

  private:
    // The preview instead of a render: the flight's path and a few small frames.
    bool writePreview(TextureImage& texture, Flight const& fly);
    void collectPreviewViews(long long first, long long last, FramePlan const& plan);
    QList<QImage> renderThumbnails(QList<FrameView> const& views, TextureImage const& texture);
    void releaseRenderObjects();
    void renderSequentially(long long first, long long last, FramePlan const& plan, TextureImage* texture);
    void renderInParallel(long long first, long long last, FramePlan const& plan, TextureImage* texture);
    void renderInBands(long long first, long long last, FramePlan const& plan, TextureImage* texture);
    FrameJob prepareFrame(long long index, FramePlan const& plan) const;
    QImage outputImage(QImage const& frame) const;
    // Encodes the frame's files (any thread), then writes them and hands the
    // frame to the video (in frame order).
    QList<EncodedFrameFile> encodeFrame(FrameJob const& job, QImage const& output) const;
    void commitFrame(FrameJob const& job, QImage const& output, QList<EncodedFrameFile> const& files);

    SceneryData const& parameters_;
    QTextStream& log_;
    bool const& verbose_;
    RenderOptions const& options_;

    std::unique_ptr<ProgressDisplay> progress_;
    std::unique_ptr<VideoEncoder> video_;
    std::unique_ptr<FrameOutput> frameOutput_;
    QIODevice* cameraPath_ = nullptr;  // set while a flight writes its camera path
    PreviewViews* preview_ = nullptr;  // set while a flight hands its views to a preview
    QString error_;
};
