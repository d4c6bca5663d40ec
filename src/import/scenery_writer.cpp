#include "scenery_writer.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

double roundTo(double value, double step) { return std::round(value / step) * step; }

// How far a ray from (x, y) inside the terrain runs in direction (dx, dy)
// before it leaves [0, extentX] x [0, extentY].
double distanceToLeave(double x, double y, double dx, double dy, double extentX, double extentY) {
    double distance = std::numeric_limits<double>::infinity();
    if (dx > 0)
        distance = std::min(distance, (extentX - x) / dx);
    if (dx < 0)
        distance = std::min(distance, -x / dx);
    if (dy > 0)
        distance = std::min(distance, (extentY - y) / dy);
    if (dy < 0)
        distance = std::min(distance, -y / dy);
    return distance;
}

// The unit direction of a heading in degrees (0 north = +y, 90 east = +x).
std::array<double, 2> headingDirection(double degrees) {
    double const radians = degrees * std::numbers::pi / 180.0;
    return {std::sin(radians), std::cos(radians)};
}

// Edge distances at least this many fog distances away show as fog: the
// unlit rim where the terrain ends takes 86 % of the fog's grey.
constexpr double edgeFogDistances = 2.0;

}  // namespace

double distanceToEdgeInView(double x, double y, double heading, double halfAngle, double extentX, double extentY) {
    // Along each side the distance grows away from the foot of the
    // perpendicular, so the nearest point in the view is a foot that lies
    // within it or a point on one of the view's two bounding rays.
    auto const [leftX, leftY] = headingDirection(heading - halfAngle);
    auto const [rightX, rightY] = headingDirection(heading + halfAngle);
    double nearest = std::min(distanceToLeave(x, y, leftX, leftY, extentX, extentY),
                              distanceToLeave(x, y, rightX, rightY, extentX, extentY));
    struct Side {
        double normalHeading, distance;
    };
    for (Side const side : {Side{0, extentY - y}, Side{90, extentX - x}, Side{180, y}, Side{270, x}}) {
        double const off = std::remainder(side.normalHeading - heading, 360.0);
        if (std::fabs(off) <= halfAngle)
            nearest = std::min(nearest, side.distance);
    }
    return nearest;
}

double focalLengthFor(int frameWidth) { return std::round(0.9 * frameWidth); }

double viewHalfAngle(int frameWidth) {
    return std::atan(0.5 * frameWidth / focalLengthFor(frameWidth)) * 180.0 / std::numbers::pi;
}

double fogHidingTheEdge(double edgeDistance, double diagonal) {
    return std::max(1.0, std::round(std::min(0.6 * diagonal, edgeDistance / edgeFogDistances)));
}

QString plainDecimal(double value, int significant) {
    if (!std::isfinite(value))
        return QStringLiteral("0");
    if (value == 0)
        return QStringLiteral("0");
    int const magnitude = static_cast<int>(std::floor(std::log10(std::fabs(value))));
    int const decimals = std::clamp(significant - 1 - magnitude, 0, 30);
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    if (text == QLatin1String("-0"))
        text = QStringLiteral("0");
    return text;
}

StraightFlight planFlight(SceneryLayout const& layout) {
    StraightFlight flight;
    double const extentX = layout.cellsX * layout.scaleX;
    double const extentY = layout.cellsY * layout.scaleY;
    double const diagonal = std::hypot(extentX, extentY);
    double const range = layout.highest - layout.lowest;
    bool const alongX = extentX >= extentY;
    double const length = alongX ? extentX : extentY;
    flight.tilt = -20.0;
    double const slope = std::tan(-flight.tilt * std::numbers::pi / 180.0);

    // High enough to clear the highest point, low enough that the terrain
    // fills the frames: where possible the view's centre meets the mean
    // height a third of the terrain's length ahead.
    double const lowest = layout.highest + std::max(0.25 * range, 0.02 * diagonal);
    double const highest = layout.highest + std::max(1.5 * range, 0.02 * diagonal);
    flight.altitude = std::clamp(layout.mean + slope * length / 3, lowest, highest);

    // Ground distance at which the view's centre meets the mean height. The
    // flight ends early enough that the fog hiding the terrain's edge ahead
    // leaves that point clear (at most 39 % fog).
    double const lookAhead = (flight.altitude - layout.mean) / slope;
    double const viewCentre = std::hypot(lookAhead, flight.altitude - layout.mean);
    double const start = 0.05 * length;
    double const end = std::clamp(length - 2 * edgeFogDistances * viewCentre, 0.5 * length, 0.95 * length);
    if (alongX) {
        flight.heading = 90.0;
        flight.startX = start;
        flight.endX = end;
        flight.startY = flight.endY = extentY / 2;
    } else {
        flight.heading = 0.0;
        flight.startY = start;
        flight.endY = end;
        flight.startX = flight.endX = extentX / 2;
    }
    flight.focalLength = focalLengthFor(layout.frameWidth);
    // The fog thins or thickens along the flight with the distance to the
    // nearest edge in view, so the place where the terrain ends never shows.
    double const halfAngle = viewHalfAngle(layout.frameWidth);
    auto fogAt = [&](double x, double y) {
        return fogHidingTheEdge(distanceToEdgeInView(x, y, flight.heading, halfAngle, extentX, extentY), diagonal);
    };
    flight.fogStart = fogAt(flight.startX, flight.startY);
    flight.fogEnd = fogAt(flight.endX, flight.endY);
    flight.gridX = std::max(1, static_cast<int>(std::lround(extentX / 6.0)));
    flight.gridY = std::max(1, static_cast<int>(std::lround(extentY / 6.0)));
    return flight;
}

QByteArray sceneryText(SceneryLayout const& layout, StraightFlight const& flight, QStringList const& curvedFlight) {
    QStringList lines;
    auto add = [&lines](char const* key, QString const& value) {
        lines << QLatin1String(key) + QLatin1Char('=') + value;
    };
    auto number = [&add](char const* key, double value) { add(key, plainDecimal(value)); };
    auto position = [&add](char const* key, double value) { add(key, plainDecimal(roundTo(value, 0.01), 12)); };

    lines << QStringLiteral("[Param]");
    if (curvedFlight.isEmpty()) {
        number("Bildanzahl", 48);
        number("StartbildNr", 0);
        number("EndbildNr", 47);
    }
    number("Offset", 0);
    number("Traegheit", 1);
    for (bool const start : {true, false}) {
        position(start ? "BeobXA" : "BeobXE", start ? flight.startX : flight.endX);
        position(start ? "BeobYA" : "BeobYE", start ? flight.startY : flight.endY);
        position(start ? "BeobZA" : "BeobZE", flight.altitude);
        number(start ? "RichtungA" : "RichtungE", flight.heading);
        number(start ? "NeigungA" : "NeigungE", flight.tilt);
        number(start ? "BrennA" : "BrennE", flight.focalLength);
        number(start ? "VerkantenA" : "VerkantenE", 0);
    }
    number("NebelA", flight.fogStart);
    number("NebelE", flight.fogEnd);
    number("LichtX", layout.light[0]);
    number("LichtY", layout.light[1]);
    number("LichtZ", layout.light[2]);
    number("HintergrundVerwenden", 0);
    add("TDateiname", layout.textureName);
    add("HDateiname", layout.heightMapName);
    number("HDateiSkalaX", layout.scaleX);
    number("HDateiSkalaY", layout.scaleY);
    number("HDateiSkalaZA", layout.zScale);
    number("HDateiSkalaZE", layout.zScale);
    number("AusBreite", layout.frameWidth);
    number("AusHoehe", layout.frameHeight);
    number("AusAuflX", flight.gridX);
    number("AusAuflY", flight.gridY);
    number("GenauRechnen", 1);
    number("AusgabePNG", 1);
    add("AusDateiname", layout.framePattern);
    lines << curvedFlight;
    return lines.join(QLatin1Char('\n')).toUtf8() + '\n';
}
