// The straight flight: every quantity blends from its start to its end value
// along one shared ease-in/ease-out curve.
#include "scenery_delegate.h"

#include <cmath>
#include <numbers>

double SceneryDelegate::GetSmoothedValue(double t, double start, double end, double inertia) {
    if (inertia == 0)
        return start + t * (end - start);
    double const c = 1 / (1 - std::exp(-0.5 / inertia));
    double s;
    if (t < 0.5) {
        s = c * t * (1 - std::exp(-t / inertia));
    } else {
        double const u = 1 - t;
        s = 1 - c * u * (1 - std::exp(-u / inertia));
    }
    return start + s * (end - start);
}

bool SceneryDelegate::straightFlight(TextureImage* texture) {
    SceneryData const& p = *parameters;
    if (p.firstFrame > p.lastFrame)
        return true;
    // Straight down has no horizontal view direction to build the camera from.
    double const tiltStart = p.tiltStart == -90 ? -89.999 : p.tiltStart;
    double const tiltEnd = p.tiltEnd == -90 ? -89.999 : p.tiltEnd;
    double const scale = run_->renderScale;

    // Every frame's view follows from its index alone.
    FramePlan const plan = [&p, tiltStart, tiltEnd, scale](long long i) {
        double const t = p.frameCount > 1 ? static_cast<double>(i) / (p.frameCount - 1) : 0.0;
        auto smooth = [&](double start, double end) { return GetSmoothedValue(t, start, end, p.inertia); };
        FrameView view;
        view.number = static_cast<int>(i + p.frameNumberOffset);
        view.observer = C4Vector(smooth(p.observerXStart, p.observerXEnd), smooth(p.observerYStart, p.observerYEnd),
                                 smooth(p.observerZStart, p.observerZEnd), 1.0);
        view.heading = smooth(p.headingStart, p.headingEnd) / 180 * std::numbers::pi;
        view.tilt = smooth(tiltStart, tiltEnd) / 180 * std::numbers::pi;
        view.focalLength = smooth(p.focalLengthStart, p.focalLengthEnd) * scale;
        view.bank = smooth(p.bankStart, p.bankEnd) / 180 * std::numbers::pi;
        view.zScale = smooth(p.zScaleStart, p.zScaleEnd);
        view.fogDistance = p.fogEnd != 0 ? smooth(p.fogStart, p.fogEnd) : p.fogStart;
        return view;
    };
    run_->renderFrames(p.firstFrame, p.lastFrame, plan, texture);
    return true;
}
