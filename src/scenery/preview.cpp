// The preview: instead of the flight's frames, one picture of the texture
// seen from above with the camera path over it, beside a contact sheet of
// nine evenly spaced frames drawn small. It shows where a flight goes before
// hours of rendering.
#include "render_run.h"
#include "scenery_data.h"
#include "scenery_text.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

using scenery::tr;

// What a flight's plan gives the preview: the path sampled at most
// pathSamples times (a flight may have millions of frames), the views marked
// on it, and the views of the contact sheet.
struct RenderRun::PreviewViews {
    static constexpr long long pathSamples = 4096;
    static constexpr long long marks = 24;
    static constexpr int sheetFrames = 9;
    QList<FrameView> path, marked, sheet;
};

namespace {

constexpr int longestMapSide = 2048;
constexpr int sheetColumns = 3;
constexpr int gap = 6;
QRgb const backdrop = qRgb(40, 40, 40);

// One colour per contact-sheet frame: its place on the map and its frame's border.
QColor sheetColour(int k) { return QColor::fromHsv(k * 40, 220, 255); }

// Every `step`-th index of first ... last, and always the last one.
template <class Add>
void everyStep(long long first, long long last, long long step, Add add) {
    for (long long i = first; i <= last; i += step) {
        add(i);
        if (i > last - step && i != last)
            add(last);
    }
}

// The texture seen from above, at most longestMapSide pixels on its longer
// side, with the path, the view direction at the marked frames and the place
// of each contact-sheet frame. World x runs right and y up in the texture
// (texel (u, v) covers world [u, u + 1) x [v, v + 1), v from the bottom row).
QImage pathMap(QImage const& texture, RenderRun::PreviewViews const& views) {
    QImage map = std::max(texture.width(), texture.height()) > longestMapSide
                     ? texture.scaled(longestMapSide, longestMapSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                     : texture;
    map = map.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    double const sx = double(map.width()) / texture.width(), sy = double(map.height()) / texture.height();
    auto place = [&](FrameView const& v) { return QPointF(v.observer.x * sx, (texture.height() - v.observer.y) * sy); };
    // Line widths and marks grow with the map, and stay visible on a small one.
    double const side = std::max(map.width(), map.height());
    auto measure = [side](double share, double least) { return std::max(side * share, least); };
    QPainter painter(&map);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    for (FrameView const& v : views.path)
        path.elementCount() == 0 ? path.moveTo(place(v)) : path.lineTo(place(v));
    painter.strokePath(path,
                       QPen(QColor(0, 0, 0, 160), measure(1.0 / 150, 3), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.strokePath(path, QPen(Qt::white, measure(1.0 / 300, 1.5), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    // Heading 0 looks along +y (up in the map), 90 degrees along +x.
    painter.setPen(QPen(Qt::yellow, measure(1.0 / 400, 1), Qt::SolidLine, Qt::RoundCap));
    for (FrameView const& v : views.marked) {
        QPointF const from = place(v);
        painter.drawLine(from, from + QPointF(std::sin(v.heading), -std::cos(v.heading)) * measure(1.0 / 40, 8));
    }
    for (qsizetype k = 0; k < views.sheet.size(); ++k) {
        painter.setPen(QPen(Qt::black, measure(1.0 / 800, 1)));
        painter.setBrush(sheetColour(int(k)));
        painter.drawEllipse(place(views.sheet[k]), measure(1.0 / 150, 4), measure(1.0 / 150, 4));
    }
    return map;
}

// The thumbnails three to a row, each framed in its colour on the map.
QImage contactSheet(QList<QImage> const& thumbnails) {
    QSize const cell = thumbnails.front().size() + QSize(2 * gap, 2 * gap);
    int const rows = int((thumbnails.size() + sheetColumns - 1) / sheetColumns);
    QImage sheet(cell.width() * sheetColumns, cell.height() * rows, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(backdrop);
    QPainter painter(&sheet);
    for (qsizetype k = 0; k < thumbnails.size(); ++k) {
        QPoint const corner(int(k % sheetColumns) * cell.width(), int(k / sheetColumns) * cell.height());
        painter.fillRect(QRect(corner + QPoint(gap / 2, gap / 2), cell - QSize(gap, gap)), sheetColour(int(k)));
        painter.drawImage(corner + QPoint(gap, gap), thumbnails[k]);
    }
    return sheet;
}

}  // namespace

void RenderRun::collectPreviewViews(long long first, long long last, FramePlan const& plan) {
    long long const frames = last - first + 1;
    everyStep(first, last, std::max(1LL, frames / PreviewViews::pathSamples),
              [&](long long i) { preview_->path.append(plan(i)); });
    everyStep(first, last, std::max(1LL, frames / PreviewViews::marks),
              [&](long long i) { preview_->marked.append(plan(i)); });
    // Nine frames evenly spread from the first to the last, or every frame of a shorter range.
    int const sheet = static_cast<int>(std::min<long long>(frames, PreviewViews::sheetFrames));
    for (int k = 0; k < sheet; ++k)
        preview_->sheet.append(plan(first + (sheet > 1 ? (frames - 1) * k / (sheet - 1) : 0)));
}

bool RenderRun::writePreview(TextureImage& texture, Flight const& fly) {
    PreviewViews views;
    preview_ = &views;
    bool const flown = fly(&texture);
    preview_ = nullptr;
    if (!flown)
        return false;
    if (views.sheet.isEmpty()) {
        setError(tr("The frame range is empty: there is nothing to preview"));
        return false;
    }
    QList<QImage> const thumbnails = renderThumbnails(views.sheet, texture);
    if (thumbnails.isEmpty()) {
        setError(tr("Cannot allocate the preview's frames"));
        return false;
    }
    QImage const map = pathMap(texture, views);
    QImage const sheet = contactSheet(thumbnails);
    QImage picture(map.width() + sheet.width(), std::max(map.height(), sheet.height()), QImage::Format_RGB32);
    picture.fill(backdrop);
    QPainter painter(&picture);
    painter.drawImage(0, 0, map);
    painter.drawImage(map.width(), 0, sheet);
    painter.end();

    QSaveFile file(options_.previewFile);
    QImageWriter writer(&file, QFileInfo(options_.previewFile).suffix().toLatin1());
    writer.setQuality(80);  // PNG: zlib level 1, quick; JPEG: good enough to judge a path
    if (!file.open(QIODevice::WriteOnly) || !writer.write(picture) || !file.commit()) {
        QString const reason = file.error() != QFileDevice::NoError ? file.errorString() : writer.errorString();
        setError(tr("Cannot write the preview \"%1\": %2").arg(options_.previewFile, reason));
        return false;
    }
    return true;
}
