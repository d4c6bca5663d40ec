// Rendering the frames of a flight: one after the other, several frames at
// once on several threads, or one frame split into horizontal bands.
//
// Whatever the way, every frame's pixels and files are identical: each
// thread has its own render context (camera, height-map object, texture
// object with its block cache, frame buffer, scan state) over the shared,
// read-only image data, and the files are written strictly in frame order.
#include "frame_output.h"
#include "progress_display.h"
#include "scenery_delegate.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Everything one thread needs to draw a frame. Created on the calling thread
// (the constructors read the settings store); used by one thread at a time.
struct RenderContext {
    RenderContext(SceneryDelegate const& delegate, TextureImage const& sharedTexture)
        : camera(nullptr, delegate.lightDirection, delegate.renderWidth, delegate.renderHeight),
          elevation(*delegate.elevation),
          texture(sharedTexture),
          frame(delegate.renderWidth, delegate.renderHeight, QImage::Format_RGB32) {
        texture.setBackgroundColor(sharedTexture.backgroundColor);
        camera.SetzeTexturDatei(&texture);
        delegate.configureScanner(scanner, &camera, &elevation, &frame);
    }

    void render(FrameView const& view, SceneryData const& p) {
        camera.SetView(view.observer, view.heading, view.tilt, view.focalLength, view.bank);
        elevation.setZScale(view.zScale);
        scanner.fogDistance = view.fogDistance;
        scanner.Scan(&texture, p.useBackgroundColor, p.backgroundArgb, p.renderQuality);
    }

    Transformation camera;
    ElevationImage elevation;
    TextureImage texture;
    TextureImage frame;
    TerrainScanner scanner;
};

// Lets threads take their turn in frame order.
class FrameTurns {
public:
    explicit FrameTurns(long long first) : next_(first) {}

    void waitFor(long long index) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return next_ == index; });
    }
    void done(long long index) {
        {
            std::lock_guard lock(mutex_);
            next_ = index + 1;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    long long next_;
};

}  // namespace

void SceneryDelegate::renderFrames(long long first, long long last, FramePlan const& plan, TextureImage* texture) {
    if (first > last)
        return;
    long long const frames = last - first + 1;
    if (options.jobs <= 1)
        renderSequentially(first, last, plan, texture);
    else if (frames < options.jobs)
        renderInBands(first, last, plan, texture);
    else
        renderInParallel(first, last, plan, texture);
    progress_->finish();
}

// The plain run on the delegate's own camera, height map and frame buffer.
void SceneryDelegate::renderSequentially(long long first, long long last, FramePlan const& plan,
                                         TextureImage* texture) {
    SceneryData const& p = *parameters;
    for (long long i = first; i <= last; ++i) {
        FrameView const view = plan(i);
        if (!skipFrame(view.number)) {
            camera->SetView(view.observer, view.heading, view.tilt, view.focalLength, view.bank);
            elevation->setZScale(view.zScale);
            fogDistance = view.fogDistance;
            if (frameLog)
                frameLog->append(view);
            Scan(texture, p.useBackgroundColor, p.backgroundArgb, p.renderQuality);
            QImage const output = outputImage(*frameImage);
            commitFrame(output, encodeFrame(output, view.number));
        }
        progress_->frameDone();
    }
}

// Several frames at once: each thread takes the next frame index, renders and
// encodes it, then waits for its turn to write, so files and messages appear
// in frame order and at most one frame per thread is in flight.
void SceneryDelegate::renderInParallel(long long first, long long last, FramePlan const& plan,
                                       TextureImage* texture) {
    SceneryData const& p = *parameters;
    std::vector<std::unique_ptr<RenderContext>> contexts;
    for (int k = 0; k < options.jobs; ++k)
        contexts.push_back(std::make_unique<RenderContext>(*this, *texture));

    std::atomic<long long> nextIndex{first};
    FrameTurns turns(first);
    auto work = [&](RenderContext& context) {
        for (long long i = nextIndex++; i <= last; i = nextIndex++) {
            FrameView const view = plan(i);
            bool const skip = skipFrame(view.number);
            QList<EncodedFrameFile> files;
            QImage output;
            if (!skip) {
                context.render(view, p);
                output = outputImage(context.frame);
                files = encodeFrame(output, view.number);
            }
            turns.waitFor(i);
            if (!skip) {
                if (frameLog)
                    frameLog->append(view);
                commitFrame(output, files);
            }
            output = QImage();  // the context's frame buffer is unshared again
            progress_->frameDone();
            turns.done(i);
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
void SceneryDelegate::renderInBands(long long first, long long last, FramePlan const& plan, TextureImage* texture) {
    SceneryData const& p = *parameters;
    int const bands = std::min(options.jobs, std::max(renderHeight, 1));
    std::vector<std::unique_ptr<RenderContext>> contexts;
    for (int k = 0; k < bands; ++k) {
        contexts.push_back(std::make_unique<RenderContext>(*this, *texture));
        contexts.back()->scanner.setRowBand(renderHeight * k / bands, renderHeight * (k + 1) / bands - 1);
    }
    for (long long i = first; i <= last; ++i) {
        FrameView const view = plan(i);
        if (!skipFrame(view.number)) {
            std::vector<std::thread> threads;
            for (auto& context : contexts)
                threads.emplace_back([&view, &p, &context] { context->render(view, p); });
            for (std::thread& thread : threads)
                thread.join();
            // Gather the bands into the delegate's frame buffer.
            for (int k = 0; k < bands; ++k)
                for (int row = renderHeight * k / bands; row < renderHeight * (k + 1) / bands; ++row)
                    std::copy_n(contexts[k]->frame.constScanLine(row), frameImage->bytesPerLine(),
                                frameImage->scanLine(row));
            if (frameLog)
                frameLog->append(view);
            QImage const output = outputImage(*frameImage);
            commitFrame(output, encodeFrame(output, view.number));
        }
        progress_->frameDone();
    }
}
