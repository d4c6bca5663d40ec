// The camera path: instead of rendering, each frame's view as one CSV row,
// the values the renderer would take, with enough digits that reading a row
// back gives the same doubles.
#include "render_run.h"
#include "scenery_data.h"
#include "scenery_text.h"

#include <QSaveFile>

#include <charconv>
#include <climits>

using scenery::tr;

namespace {

// The shortest text that reads back as the same double.
void appendNumber(QByteArray& row, double value) {
    char digits[32];
    char const* const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    row.append(digits, end - digits);
}

}  // namespace

// The file is written in full or not at all: it takes the place of an
// existing one only when every row is written.
bool RenderRun::writeCameraPath(Flight const& fly) {
    SceneryData const& p = parameters_;
    if (p.firstFrame <= p.lastFrame) {
        long long const first = static_cast<long long>(p.firstFrame) + p.frameNumberOffset;
        long long const last = static_cast<long long>(p.lastFrame) + p.frameNumberOffset;
        if (first < INT_MIN || last > INT_MAX) {
            setError(tr("Frame numbers %1 to %2 lie outside %3 to %4").arg(first).arg(last).arg(INT_MIN).arg(INT_MAX));
            return false;
        }
    }
    QSaveFile file(options_.cameraPathFile);
    auto cannotWrite = [&] {
        setError(tr("Cannot write the camera path \"%1\": %2").arg(options_.cameraPathFile, file.errorString()));
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return cannotWrite();
    file.write("frame,x,y,z,heading,tilt,bank,focal,fog,zscale\n");
    cameraPath_ = &file;
    bool const flown = fly(nullptr);
    cameraPath_ = nullptr;
    if (!flown)
        return false;  // the file is discarded
    return file.commit() || cannotWrite();
}

void RenderRun::writeCameraRows(long long first, long long last, FramePlan const& plan) {
    QByteArray row;
    for (long long i = first; i <= last; ++i) {
        FrameView const view = plan(i);
        row.setNum(view.number);
        for (double value : {view.observer.x, view.observer.y, view.observer.z, view.heading, view.tilt, view.bank,
                             view.focalLength, view.fogDistance, view.zScale}) {
            row.append(',');
            appendNumber(row, value);
        }
        row.append('\n');
        cameraPath_->write(row);
    }
}
