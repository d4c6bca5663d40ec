#include "track_flight.h"

#include "elevation_model.h"
#include "import_error.h"
#include "scenery_writer.h"
#include "texture_builder.h"
#include "track_planner.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double degree = std::numbers::pi / 180.0;
// Control points are whole world units; this many units between them keep
// the rounding's effect on the ground speed near 2 %.
constexpr double leastControlSpacing = 20.0;
constexpr int mostControlPoints = 9999;
// The curved flight's limit on its frames.
constexpr int mostFrames = 1'000'000;
constexpr double defaultSpeed = 40.0;  // metres a second
constexpr double angleTolerance = 0.5 * degree;

// Model coordinates to world units and back to fractional cells: cell
// (c, r) lies at world (c * scaleX, (H - 1 - r) * scaleY), its value being
// the height at the cell's centre.
struct WorldMapping {
    ElevationModel const& model;
    TextureLayout const& layout;
    double worldZPerMetre;

    PlanePoint toWorld(TrackVertex const& v) const {
        auto const& gt = model.geoTransform;
        double const column = (v.x - gt[0]) / gt[1] - 0.5, row = (v.y - gt[3]) / gt[5] - 0.5;
        return {column * layout.scaleX, (model.height - 1 - row) * layout.scaleY};
    }
    bool inside(PlanePoint const& p) const {
        return p.x >= 0 && p.y >= 0 && p.x <= (model.width - 1) * layout.scaleX &&
               p.y <= (model.height - 1) * layout.scaleY;
    }
    // The terrain's height in world units under a world point, bilinear.
    double groundAt(PlanePoint const& p) const {
        return model.heightAt(p.x / layout.scaleX, model.height - 1 - p.y / layout.scaleY) * worldZPerMetre;
    }
};

// The path with ceil(units) more points one unit apart on a straight line:
// before its start against its first direction, or after its end along its
// last one.
std::vector<PlanePoint> extendedStraight(std::vector<PlanePoint> const& path, double units, bool atStart) {
    int const added = static_cast<int>(std::ceil(units));
    PlanePoint const from = atStart ? path[0] : path.back(), next = atStart ? path[1] : path[path.size() - 2];
    double const length = std::hypot(from.x - next.x, from.y - next.y);
    double const dx = (from.x - next.x) / length, dy = (from.y - next.y) / length;
    std::vector<PlanePoint> extension;
    for (int k = 1; k <= added; ++k)
        extension.push_back({from.x + dx * k, from.y + dy * k});
    std::vector<PlanePoint> result = path;
    if (atStart)
        result.insert(result.begin(), extension.rbegin(), extension.rend());
    else
        result.insert(result.end(), extension.begin(), extension.end());
    return result;
}

// The track's altitudes at 1001 evenly spaced shares of its length in world
// units; throws when a vertex has none.
std::vector<double> altitudesAlong(std::vector<TrackVertex> const& track, std::vector<PlanePoint> const& line,
                                   QString const& fileName) {
    std::vector<double> along{0.0};
    for (std::size_t k = 1; k < line.size(); ++k)
        along.push_back(along.back() + std::hypot(line[k].x - line[k - 1].x, line[k].y - line[k - 1].y));
    for (TrackVertex const& vertex : track)
        if (!vertex.altitude)
            throw inputError(QStringLiteral("The track %1 has points without an altitude, which --track-altitude "
                                            "needs")
                                 .arg(quoted(fileName)));
    std::vector<double> altitudes;
    std::size_t segment = 1;
    for (int k = 0; k <= 1000; ++k) {
        double const at = along.back() * k / 1000;
        while (segment + 1 < line.size() && along[segment] < at)
            ++segment;
        double const span = along[segment] - along[segment - 1];
        double const share = span > 0 ? std::clamp((at - along[segment - 1]) / span, 0.0, 1.0) : 0.0;
        altitudes.push_back(*track[segment - 1].altitude +
                            share * (*track[segment].altitude - *track[segment - 1].altitude));
    }
    return altitudes;
}

std::vector<double> coordinate(std::vector<std::array<long long, 3>> const& points, int axis) {
    std::vector<double> values;
    for (auto const& point : points)
        values.push_back(double(point[std::size_t(axis)]));
    return values;
}

}  // namespace

std::vector<PlanePoint> trackInWorld(std::vector<TrackVertex> const& track, ElevationModel const& model,
                                     TextureLayout const& layout) {
    WorldMapping const world{model, layout, 1.0};
    std::vector<PlanePoint> line;
    for (TrackVertex const& vertex : track)
        line.push_back(world.toWorld(vertex));
    return line;
}

void drawTrack(QImage& texture, std::vector<PlanePoint> const& world, TextureLayout const& layout, QColor const& colour,
               double widthMetres) {
    QImage canvas = texture.convertToFormat(QImage::Format_RGB32);
    QPainterPath path;
    for (PlanePoint const& p : world) {
        QPointF const at(p.x, texture.height() - p.y);
        path.elementCount() == 0 ? path.moveTo(at) : path.lineTo(at);
    }
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.strokePath(path,
                       QPen(colour, widthMetres / layout.metresPerTexel, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.end();
    texture = canvas.convertToFormat(texture.format());
}

TrackFlight planTrackFlight(std::vector<TrackVertex> const& track, QString const& fileName, ElevationModel const& model,
                            TextureLayout const& layout, double exaggeration, TrackFlightOptions const& options) {
    WorldMapping const world{model, layout, exaggeration / layout.metresPerTexel};
    double const metres = layout.metresPerTexel;  // per world unit, across the ground
    std::vector<PlanePoint> const line = trackInWorld(track, model, layout);
    for (PlanePoint const& p : line)
        if (!world.inside(p))
            throw inputError(QStringLiteral("The track %1 leaves the elevation model").arg(quoted(fileName)));
    std::vector<PlanePoint> const even = smoothAlong(resampleByLength(line, 1.0), 1.0, options.smooth / metres);
    double const length = lengthOf(even);
    if (even.size() < 2 || !(length > 0))
        throw inputError(QStringLiteral("The track %1 has fewer than two distinct points").arg(quoted(fileName)));

    // The points the camera looks at lie `ahead` units further along than
    // the camera: past the end the track runs on straight; following behind,
    // the camera starts that far before the start (on the track's first
    // direction) and looks at the track itself.
    bool const following = options.followBehind > 0;
    double const ahead = (following ? options.followBehind : options.lookAhead) / metres;
    std::vector<PlanePoint> const lookPath = extendedStraight(even, ahead, following);
    std::vector<PlanePoint> const camera(lookPath.begin(), lookPath.begin() + long(even.size()));
    double const lookOffset = following ? double(lookPath.size() - even.size()) : ahead;
    std::vector<double> const altitudes =
        options.trackAltitude ? altitudesAlong(track, line, fileName) : std::vector<double>();

    TrackFlight flight;
    flight.lengthMetres = length * metres;
    double const duration = options.duration > 0 ? options.duration : flight.lengthMetres / defaultSpeed;
    double const frames = std::round(duration * options.fps);
    if (frames > mostFrames)
        throw inputError(QStringLiteral("The flight along the track %1 would take %2 frames; a curved flight holds at "
                                        "most %3: give a shorter --duration")
                             .arg(quoted(fileName))
                             .arg(frames, 0, 'f', 0)
                             .arg(mostFrames));
    flight.frames = std::max(2, static_cast<int>(frames));

    // Control points at the Greville shares of the smoothed track, at the
    // height above the ground there, then raised wherever the curve between
    // them comes closer to the ground than half that height.
    double const spacing = std::max({leastControlSpacing, 2.0 * options.smooth / metres, length / mostControlPoints});
    int const count = std::max(4, static_cast<int>(std::lround(length / spacing)) + 1);
    double const above = options.heightAbove * world.worldZPerMetre;
    // At the track's own altitude the camera is only kept off the ground.
    double const clearance = options.trackAltitude ? 0.0 : above / 2;
    std::vector<double> const shares = grevilleShares(count);
    std::vector<double> heights;
    for (double share : shares) {
        PlanePoint const p = atShare(camera, share);
        flight.controlPoints.push_back({std::llround(p.x), std::llround(p.y), 0});
        heights.push_back(options.trackAltitude ? sampleAt(altitudes, share) * world.worldZPerMetre
                                                : world.groundAt(p) + above);
    }
    // Four samples a frame, but no more than 32 a control point span: the
    // curve and the terrain between control points are what can come close.
    int const samples = std::min(flight.frames * 4, count * 32) + 1;
    std::vector<double> const xs = curveValues(coordinate(flight.controlPoints, 0), samples);
    std::vector<double> const ys = curveValues(coordinate(flight.controlPoints, 1), samples);
    for (int round = 0; round < 100; ++round) {
        for (std::size_t k = 0; k < heights.size(); ++k)
            flight.controlPoints[k][2] = std::llround(std::ceil(heights[k]));
        std::vector<double> const zs = curveValues(coordinate(flight.controlPoints, 2), samples);
        // Each control point rises by the largest shortfall of the curve it shapes.
        std::vector<double> rise(heights.size(), 0.0);
        for (int s = 0; s < samples; ++s) {
            double const deficit =
                world.groundAt({xs[std::size_t(s)], ys[std::size_t(s)]}) + clearance - zs[std::size_t(s)];
            if (deficit > 0) {
                double const u = double(s) / (samples - 1) * (count - 3);
                int const first = std::clamp(static_cast<int>(u), 0, count - 4);
                for (int k = first; k < first + 4; ++k)
                    rise[std::size_t(k)] = std::max(rise[std::size_t(k)], deficit);
            }
        }
        if (*std::max_element(rise.begin(), rise.end()) == 0.0)
            break;
        for (std::size_t k = 0; k < heights.size(); ++k)
            heights[k] += rise[k];
    }

    // Heading toward the look-ahead point, tilt toward the ground there.
    std::vector<double> const fx = curveValues(coordinate(flight.controlPoints, 0), flight.frames + 1);
    std::vector<double> const fy = curveValues(coordinate(flight.controlPoints, 1), flight.frames + 1);
    std::vector<double> const fz = curveValues(coordinate(flight.controlPoints, 2), flight.frames + 1);
    std::vector<double> headings, tilts;
    for (int i = 0; i <= flight.frames; ++i) {
        double const index = double(i) / flight.frames * double(camera.size() - 1);
        PlanePoint const look = atIndex(lookPath, index + lookOffset);
        PlanePoint const here{fx[std::size_t(i)], fy[std::size_t(i)]};
        double const dx = look.x - here.x, dy = look.y - here.y;
        headings.push_back(std::atan2(dx, dy));
        double const edge = distanceToEdgeInView(here.x, here.y, headings.back() / degree, options.viewHalfAngle,
                                                 double(layout.width), double(layout.height));
        if (edge < flight.nearestEdge) {
            flight.nearestEdge = edge;
            flight.nearestEdgeFrame = std::min(i, flight.frames - 1);
        }
        tilts.push_back(options.tilt ? *options.tilt * degree
                                     : std::atan2(world.groundAt(look) - fz[std::size_t(i)], std::hypot(dx, dy)));
    }
    unwrapHeadings(headings);
    int const waypointCount =
        std::max(waypointCountFor(headings, angleTolerance), waypointCountFor(tilts, angleTolerance));
    flight.headings = waypointAngles(headings, waypointCount);
    flight.tilts = waypointAngles(tilts, waypointCount);
    for (double share : grevilleShares(waypointCount)) {
        PlanePoint const p = atShare(even, share);
        flight.waypoints.push_back({std::llround(p.x), std::llround(p.y)});
    }
    return flight;
}

QStringList trackFlightLines(TrackFlight const& flight, TrackFlightOptions const& options) {
    QStringList lines;
    lines << QStringLiteral("Rundflug=1") << QStringLiteral("Bildanzahl=%1").arg(flight.frames)
          << QStringLiteral("StartbildNr=0") << QStringLiteral("EndbildNr=%1").arg(flight.frames - 1);
    for (std::size_t k = 0; k < flight.controlPoints.size(); ++k)
        lines << QStringLiteral("cPunkt%1=%2,%3,%4")
                     .arg(k, 2, 10, QLatin1Char('0'))
                     .arg(flight.controlPoints[k][0])
                     .arg(flight.controlPoints[k][1])
                     .arg(flight.controlPoints[k][2]);
    for (std::size_t k = 0; k < flight.waypoints.size(); ++k) {
        QString const name = QStringLiteral("Punkt%1").arg(k, 2, 10, QLatin1Char('0'));
        lines << name + QStringLiteral("=%1,%2").arg(flight.waypoints[k][0]).arg(flight.waypoints[k][1])
              << name + QStringLiteral("_a=") + plainDecimal(flight.headings[k], 12)
              << name + QStringLiteral("_p=") + plainDecimal(flight.tilts[k], 12);
    }
    lines << QStringLiteral("HoeheUeberBoden=") + plainDecimal(options.heightAbove)
          << QStringLiteral("Voraussicht=") + plainDecimal(options.lookAhead);
    return lines;
}
