// The render run: derives sizes and light, creates the camera, loads the
// images, runs the flight and saves its frames.
#include "frame_output.h"
#include "png_file.h"
#include "progress_display.h"
#include "render_run.h"
#include "scenery_data.h"
#include "scenery_text.h"
#include "video_encoder.h"

#include <QImageReader>
#include <QPluginLoader>
#include <QTextStream>

#include <cmath>
#include <exception>
#include <thread>

using scenery::tr;

namespace {

// The rasteriser takes screen positions within +-16384 only, so no frame
// buffer side beyond that could be drawn completely.
constexpr int maximumFrameSide = 16384;

// Grid cells along one axis.
constexpr int maximumGridCells = 65536;

// Whether the two images may be decoded on two threads at once. The TGA
// reader writes its refusals straight to standard error, so a file that goes
// to it, or that no reader takes (it ends with a message), is decoded in
// turn, keeping the messages in order. A plain PNG file needs no reader (and
// no format plug-in: loading them is a few milliseconds of start-up).
bool decodableSideBySide(QString const& textureFile, QString const& elevationFile) {
    QPluginLoader::staticInstances();
    for (QString const& file : {textureFile, elevationFile}) {
        if (file.isEmpty())
            return false;
        if (looksLikePlainPng(file))
            continue;
        QByteArray const format = QImageReader(file).format();
        if (format.isEmpty() || format == "tga")
            return false;
    }
    return true;
}

}  // namespace

RenderRun::RenderRun(RenderSource const& source)
    : parameters_(source.parameters), log_(source.log), verbose_(source.verbose), options_(source.options) {}

RenderRun::~RenderRun() { releaseRenderObjects(); }

bool RenderRun::render(Flight const& fly) {
    setError(QString());
    if (!checkRenderParameters())
        return false;
    setUpCamera();
    bool result = false;
    if (!options_.cameraPathFile.isEmpty()) {
        result = writeCameraPath(fly);
    } else {
        // The texture lives for this call only; the camera and the flight point to it.
        TextureImage texture;
        result = loadInputImages(texture) &&
                 (options_.previewFile.isEmpty() ? allocateFrameImage() && renderFlight(texture, fly)
                                                 : writePreview(texture, fly));
    }
    releaseRenderObjects();
    return result;
}

// The run's sizes, light and camera from the record.
void RenderRun::setUpCamera() {
    SceneryData const& p = parameters_;
    renderScale = p.renderQuality == 2 ? 2.0 : 1.0;
    gridResolutionX = p.gridResolutionXSetting;
    gridResolutionY = p.gridResolutionYSetting;
    lightDirection = C4Vector(p.lightX, p.lightY, p.lightZ, 0.0);
    normalise3(lightDirection);
    renderWidth = static_cast<int>(p.outputWidth * renderScale);
    renderHeight = static_cast<int>(p.outputHeight * renderScale);
    camera = std::make_unique<Transformation>(nullptr, lightDirection, renderWidth, renderHeight);
}

// Decodes the texture into `texture` and the height map into `elevation`.
// For large images decoding is most of the start-up time, so the height map
// is decoded on a second thread meanwhile, when that cannot change what the
// run prints.
bool RenderRun::loadInputImages(TextureImage& texture) {
    SceneryData const& p = parameters_;
    std::exception_ptr elevationFailure;
    std::thread elevationLoader;
    if (decodableSideBySide(p.textureFileName, p.elevationFileName)) {
        elevationLoader = std::thread([this, &p, &elevationFailure] {
            try {
                elevation = std::make_unique<ElevationImage>(p.elevationFileName, p.elevationScaleX, p.elevationScaleY,
                                                             nullptr);
                // Its height range too, while the texture is still being decoded.
                double low = 0.0, high = 0.0;
                if (!elevation->isNull())
                    elevation->heightBounds(low, high);
            } catch (...) {
                elevationFailure = std::current_exception();
            }
        });
    }
    // An empty name is refused without being opened (Qt would print its own warnings).
    if (!p.textureFileName.isEmpty())
        texture = TextureImage(p.textureFileName, nullptr);
    if (elevationLoader.joinable())
        elevationLoader.join();
    if (elevationFailure)
        std::rethrow_exception(elevationFailure);
    if (texture.isNull()) {
        setError(tr("Could not open texture file \"%1\"").arg(p.textureFileName));
        return false;
    }
    texture.setBackgroundColor(p.backgroundArgb);
    camera->SetzeTexturDatei(&texture);

    if (!elevation)
        elevation =
            p.elevationFileName.isEmpty()
                ? std::make_unique<ElevationImage>()
                : std::make_unique<ElevationImage>(p.elevationFileName, p.elevationScaleX, p.elevationScaleY, nullptr);
    if (elevation->isNull()) {
        setError(tr("Could not open elevation file \"%1\"").arg(p.elevationFileName));
        return false;
    }
    // The range of the stored heights, found once (here, or already by the
    // loading thread): the render contexts' copies of the height map share it.
    double lowestHeight = 0.0, highestHeight = 0.0;
    elevation->heightBounds(lowestHeight, highestHeight);
    terrainExtentX = elevation->width() * p.elevationScaleX;
    terrainExtentY = elevation->height() * p.elevationScaleY;
    return true;
}

bool RenderRun::allocateFrameImage() {
    SceneryData const& p = parameters_;
    frameImage = std::make_unique<TextureImage>(renderWidth, renderHeight, QImage::Format_RGB32);
    if (!frameImage->isNull())
        return true;
    setError(tr("Cannot allocate a frame buffer of %1 x %2 pixels (AusBreite=%3, AusHoehe=%4)")
                 .arg(renderWidth)
                 .arg(renderHeight)
                 .arg(p.outputWidth)
                 .arg(p.outputHeight));
    return false;
}

// Flies the flight, writing each frame and the video; false with the reason
// set when a frame file or the video could not be written.
bool RenderRun::renderFlight(TextureImage& texture, Flight const& fly) {
    SceneryData const& p = parameters_;
    long long const frames = p.firstFrame <= p.lastFrame ? static_cast<long long>(p.lastFrame) - p.firstFrame + 1 : 0;
    progress_ = std::make_unique<ProgressDisplay>(log_, options_.progress, frames);
    frameOutput_ = std::make_unique<FrameOutput>(p, *progress_, verbose_);
    bool result = checkFrameNumbers() && startVideo();
    if (result)
        result = fly(&texture);
    if (result && frameOutput_->failures() > 0) {
        setError(tr("%1 frame files could not be written").arg(frameOutput_->failures()));
        result = false;
    }
    if (result && video_) {
        QString error;
        result = video_->finish(error);
        if (!result)
            setError(error);
    }
    return result;
}

// Values that would make the grid, the terrain or the frame buffer
// meaningless are refused before anything is loaded.
bool RenderRun::checkRenderParameters() {
    SceneryData const& p = parameters_;
    auto refuse = [this](char const* key, QString const& value, QString const& rule) {
        setError(tr("Invalid value of %1: %2 (%3)").arg(QLatin1String(key), value, rule));
        return false;
    };
    QString const atLeastOne = tr("must be at least 1");
    QString const positive = tr("must be a positive number");
    // Far more cells than any frame has pixels only make a render (typo or
    // not) run for days.
    QString const atMost = tr("must be at most %1").arg(maximumGridCells);
    if (p.gridResolutionXSetting < 1)
        return refuse("AusAuflX", QString::number(p.gridResolutionXSetting), atLeastOne);
    if (p.gridResolutionXSetting > maximumGridCells)
        return refuse("AusAuflX", QString::number(p.gridResolutionXSetting), atMost);
    if (p.gridResolutionYSetting < 1)
        return refuse("AusAuflY", QString::number(p.gridResolutionYSetting), atLeastOne);
    if (p.gridResolutionYSetting > maximumGridCells)
        return refuse("AusAuflY", QString::number(p.gridResolutionYSetting), atMost);
    if (!(p.elevationScaleX > 0) || !std::isfinite(p.elevationScaleX))
        return refuse("HDateiSkalaX", QString::number(p.elevationScaleX), positive);
    if (!(p.elevationScaleY > 0) || !std::isfinite(p.elevationScaleY))
        return refuse("HDateiSkalaY", QString::number(p.elevationScaleY), positive);
    int const largest = maximumFrameSide / (p.renderQuality == 2 ? 2 : 1);
    QString const sizeRule = tr("must be between 1 and %1").arg(largest);
    if (p.outputWidth < 1 || p.outputWidth > largest)
        return refuse("AusBreite", QString::number(p.outputWidth), sizeRule);
    if (p.outputHeight < 1 || p.outputHeight > largest)
        return refuse("AusHoehe", QString::number(p.outputHeight), sizeRule);
    return true;
}

// Frame numbers must fit the output pattern before the first frame is drawn.
bool RenderRun::checkFrameNumbers() {
    SceneryData const& p = parameters_;
    if (p.firstFrame > p.lastFrame)
        return true;
    QString error;
    if (!frameOutput_->validate(static_cast<long long>(p.firstFrame) + p.frameNumberOffset,
                                static_cast<long long>(p.lastFrame) + p.frameNumberOffset, error)) {
        setError(error);
        return false;
    }
    return true;
}

// The video gets the saved frames: the output size, reduced in double-size mode.
bool RenderRun::startVideo() {
    if (options_.videoFile.isEmpty())
        return true;
    QSize const size = outputImage(*frameImage).size();
    video_ = std::make_unique<VideoEncoder>();
    QString error;
    if (!video_->start(options_.videoFile, size.width(), size.height(), options_.videoFps, error)) {
        setError(error);
        return false;
    }
    return true;
}

void RenderRun::releaseRenderObjects() {
    video_.reset();
    frameOutput_.reset();
    progress_.reset();
    frameImage.reset();
    elevation.reset();
    camera.reset();
}

ScanSetup RenderRun::scanSetup(Transformation* view, ElevationImage* heights, TextureImage* frame) const {
    return {.camera = view,
            .elevation = heights,
            .frameImage = frame,
            .lightDirection = lightDirection,
            .renderWidth = renderWidth,
            .renderHeight = renderHeight,
            .terrainExtentX = terrainExtentX,
            .terrainExtentY = terrainExtentY,
            .gridResolutionX = gridResolutionX,
            .gridResolutionY = gridResolutionY,
            .fogDistance = fogDistance};
}

void RenderRun::Scan(TextureImage* texture, bool useBackground, unsigned int background, int exactMode) {
    scanner.setUp(scanSetup(camera.get(), elevation.get(), frameImage.get()));
    scanner.Scan(texture, useBackground, background, exactMode);
}

// The image saved for a frame: reduced to half size in the double-size mode.
QImage RenderRun::outputImage(QImage const& frame) const {
    if (parameters_.renderQuality == 2)
        return frame.scaled(frame.width() / 2, frame.height() / 2, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return frame;
}

// With --skip-existing a frame whose files all exist is neither written
// again nor, unless a video needs it, rendered.
FrameJob RenderRun::prepareFrame(long long index, FramePlan const& plan) const {
    FrameJob job{plan(index), true, true};
    if (options_.skipExisting && frameOutput_->allFilesExist(job.view.number)) {
        job.writeFiles = false;
        job.render = video_ != nullptr;
    }
    return job;
}

QList<EncodedFrameFile> RenderRun::encodeFrame(FrameJob const& job, QImage const& output) const {
    return job.writeFiles ? frameOutput_->encode(output, job.view.number) : QList<EncodedFrameFile>();
}

void RenderRun::commitFrame(FrameJob const& job, QImage const& output, QList<EncodedFrameFile> const& files) {
    if (frameLog)
        frameLog->append(job.view);
    frameOutput_->commit(files);
    if (video_)
        video_->addFrame(output);
}
