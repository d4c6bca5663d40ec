// Rendering the frames of a flight: one after the other, several frames at
// once on several threads, or one frame split into horizontal bands.
//
// Whatever the way, every frame's pixels and files are identical: each
// thread has its own render context (camera, height-map object, texture
// object with its block cache, frame buffer, scan state) over the shared,
// read-only image data, and the files are written strictly in frame order.
#include "frame_output.h"
#include "progress_display.h"
#include "render_run.h"
#include "scenery_data.h"

#include <QImageReader>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

int reduced(int side, int reduction) { return std::max(side / reduction, 1); }

// Everything one thread needs to draw a frame. Created on the calling thread
// (the constructors read the settings store); used by one thread at a time.
// It draws into the frame buffer it is given, or into one of its own. A
// reduced context (a preview's) draws at 1 / reduction of the frame's width
// and height over a grid as much coarser, so that a cell covers as many
// pixels as in the full frame.
class RenderContext {
  public:
    RenderContext(RenderRun const& run, TextureImage const& sharedTexture, TextureImage* sharedFrame, int reduction = 1)
        : camera(nullptr, run.lightDirection, reduced(run.renderWidth, reduction),
                 reduced(run.renderHeight, reduction)),
          elevation(*run.elevation),
          texture(sharedTexture) {
        int const width = reduced(run.renderWidth, reduction), height = reduced(run.renderHeight, reduction);
        if (!sharedFrame)
            ownFrame_ = std::make_unique<TextureImage>(width, height, QImage::Format_RGB32);
        frame = sharedFrame ? sharedFrame : ownFrame_.get();
        texture.setBackgroundColor(sharedTexture.backgroundColor);
        camera.SetzeTexturDatei(&texture);
        ScanSetup setup = run.scanSetup(&camera, &elevation, frame);
        if (reduction > 1) {
            setup.renderWidth = width;
            setup.renderHeight = height;
            setup.gridResolutionX = std::max(1.0, std::floor(setup.gridResolutionX / reduction));
            setup.gridResolutionY = std::max(1.0, std::floor(setup.gridResolutionY / reduction));
        }
        scanner.setUp(setup);
    }

    // False when its own frame buffer could not be allocated.
    bool usable() const { return !frame->isNull(); }

    void render(FrameView const& view, SceneryData const& p) {
        camera.SetView(view.observer, view.heading, view.tilt, view.focalLength, view.bank);
        elevation.setZScale(view.zScale);
        scanner.setFogDistance(view.fogDistance);
        scanner.Scan(&texture, p.useBackgroundColor, p.backgroundArgb, p.renderQuality);
    }

    Transformation camera;
    ElevationImage elevation;
    TextureImage texture;
    TextureImage* frame;
    TerrainScanner scanner;

  private:
    std::unique_ptr<TextureImage> ownFrame_;
};

// Up to `count` contexts, the first drawing into the run's frame buffer
// and each further one into its own. Their frame buffers together stay within
// the memory the image system may allocate (set at start-up from the
// machine's memory); when an allocation fails all the same, the render goes
// on with the contexts it could make.
std::vector<std::unique_ptr<RenderContext>> makeContexts(RenderRun const& run, TextureImage const& texture, int count) {
    qint64 const frameBytes = qint64(run.renderWidth) * run.renderHeight * 4;
    qint64 const budget = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
    if (budget > 0 && frameBytes > 0)
        count = static_cast<int>(std::clamp<qint64>(budget / frameBytes, 1, count));
    std::vector<std::unique_ptr<RenderContext>> contexts;
    for (int k = 0; k < count; ++k) {
        auto context = std::make_unique<RenderContext>(run, texture, k == 0 ? run.frameImage.get() : nullptr);
        if (!context->usable())
            break;
        contexts.push_back(std::move(context));
    }
    return contexts;
}

// Finished frames wait here until every earlier one is written; whichever
// thread hands in the next frame in order writes it and every later one that
// is ready, so no thread waits for another to finish rendering. At most
// `limit` frames wait at a time (a thread with a later frame waits when that
// many do), but the next frame in order is always taken.
class InOrderWriter {
  public:
    struct Frame {
        FrameJob job;
        QImage output;
        QList<EncodedFrameFile> files;
    };
    using Write = std::function<void(Frame&)>;

    InOrderWriter(long long first, std::size_t limit, Write write)
        : next_(first), limit_(limit), write_(std::move(write)) {}

    void hand(long long index, Frame&& frame) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return index == next_ || waiting_.size() < limit_; });
        waiting_.emplace(index, std::move(frame));
        while (!writing_ && !waiting_.empty() && waiting_.begin()->first == next_) {
            Frame ready = std::move(waiting_.begin()->second);
            waiting_.erase(waiting_.begin());
            writing_ = true;
            lock.unlock();
            write_(ready);
            ready = Frame{};  // the frame buffer it shared is free again before the lock is taken
            lock.lock();
            writing_ = false;
            ++next_;
        }
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<long long, Frame> waiting_;
    bool writing_ = false;
    long long next_;
    std::size_t limit_;
    Write write_;
};

}  // namespace

void RenderRun::renderFrames(long long first, long long last, FramePlan const& plan, TextureImage* texture) {
    if (first > last)
        return;
    if (cameraPath_) {
        writeCameraRows(first, last, plan);
        return;
    }
    if (preview_) {
        collectPreviewViews(first, last, plan);
        return;
    }
    long long const frames = last - first + 1;
    if (options_.jobs <= 1)
        renderSequentially(first, last, plan, texture);
    else if (frames < options_.jobs)
        renderInBands(first, last, plan, texture);
    else
        renderInParallel(first, last, plan, texture);
    progress_->finish();
}

// One frame after the other in one rendering context, the one that draws
// into the run's frame buffer.
void RenderRun::renderSequentially(long long first, long long last, FramePlan const& plan, TextureImage* texture) {
    SceneryData const& p = parameters_;
    std::vector<std::unique_ptr<RenderContext>> const contexts = makeContexts(*this, *texture, 1);
    for (long long i = first; i <= last; ++i) {
        FrameJob const job = prepareFrame(i, plan);
        if (job.render) {
            contexts.front()->render(job.view, p);
            QImage const output = outputImage(*contexts.front()->frame);
            commitFrame(job, output, encodeFrame(job, output));
        }
        progress_->frameDone();
    }
}

// Several frames at once: each thread takes the next frame index, renders and
// encodes it, and hands it to the in-order writer, so files and messages
// appear in frame order. A frame waiting to be written keeps its encoded
// files; only with a video does it keep its image too (then the thread's next
// frame is drawn into a fresh copy of the frame buffer).
void RenderRun::renderInParallel(long long first, long long last, FramePlan const& plan, TextureImage* texture) {
    SceneryData const& p = parameters_;
    std::vector<std::unique_ptr<RenderContext>> const contexts = makeContexts(*this, *texture, options_.jobs);
    std::atomic<long long> nextIndex{first};
    InOrderWriter writer(first, contexts.size(), [this](InOrderWriter::Frame& frame) {
        if (frame.job.render)
            commitFrame(frame.job, frame.output, frame.files);
        progress_->frameDone();
    });
    bool const keepImages = video_ != nullptr;
    auto work = [&](RenderContext& context) {
        for (long long i = nextIndex++; i <= last; i = nextIndex++) {
            InOrderWriter::Frame frame{prepareFrame(i, plan), QImage(), {}};
            if (frame.job.render) {
                context.render(frame.job.view, p);
                frame.output = outputImage(*context.frame);
                frame.files = encodeFrame(frame.job, frame.output);
                if (!keepImages)
                    frame.output = QImage();  // the context's frame buffer is unshared again
            }
            writer.hand(i, std::move(frame));
        }
    };
    std::vector<std::thread> threads;
    for (auto& context : contexts)
        threads.emplace_back(work, std::ref(*context));
    for (std::thread& thread : threads)
        thread.join();
}

// Fewer frames than threads: every thread runs the whole scan of a frame but
// writes only its own band of rows, which keeps painter's order inside each
// band and so gives the same pixels as one full scan.
void RenderRun::renderInBands(long long first, long long last, FramePlan const& plan, TextureImage* texture) {
    SceneryData const& p = parameters_;
    std::vector<std::unique_ptr<RenderContext>> const contexts =
        makeContexts(*this, *texture, std::min(options_.jobs, std::max(renderHeight, 1)));
    int const bands = static_cast<int>(contexts.size());
    auto bandStart = [&](int k) { return renderHeight * k / bands; };
    for (int k = 0; k < bands; ++k)
        contexts[k]->scanner.setRowBand(bandStart(k), bandStart(k + 1) - 1);

    for (long long i = first; i <= last; ++i) {
        FrameJob const job = prepareFrame(i, plan);
        if (job.render) {
            std::vector<std::thread> threads;
            for (auto const& context : contexts)
                threads.emplace_back([&job, &p, &context] { context->render(job.view, p); });
            for (std::thread& thread : threads)
                thread.join();
            // The first band was drawn into the run's frame buffer; gather the others.
            for (int k = 1; k < bands; ++k)
                for (int row = bandStart(k); row < bandStart(k + 1); ++row)
                    std::copy_n(contexts[k]->frame->constScanLine(row), frameImage->bytesPerLine(),
                                frameImage->scanLine(row));
            QImage const output = outputImage(*frameImage);
            commitFrame(job, output, encodeFrame(job, output));
        }
        progress_->frameDone();
    }
}

// The preview's frames, drawn at a quarter of the frame's width and height
// (and focal length), on up to as many threads as the run may use.
QList<QImage> RenderRun::renderThumbnails(QList<FrameView> const& views, TextureImage const& texture) {
    int const reduction = 4;
    int const threads = static_cast<int>(std::clamp<qsizetype>(options_.jobs, 1, std::max<qsizetype>(views.size(), 1)));
    std::vector<std::unique_ptr<RenderContext>> contexts;
    for (int k = 0; k < threads; ++k) {
        contexts.push_back(std::make_unique<RenderContext>(*this, texture, nullptr, reduction));
        if (!contexts.back()->usable())
            return {};
    }
    QList<QImage> thumbnails(views.size());
    auto work = [&](int thread) {
        for (qsizetype k = thread; k < views.size(); k += threads) {
            FrameView view = views[k];
            view.focalLength /= reduction;
            contexts[thread]->render(view, parameters_);
            thumbnails[k] = outputImage(*contexts[thread]->frame).copy();
        }
    };
    std::vector<std::thread> workers;
    for (int k = 1; k < threads; ++k)
        workers.emplace_back(work, k);
    work(0);
    for (std::thread& worker : workers)
        worker.join();
    return thumbnails;
}
