#include "scenery_writer.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

double roundTo(double value, double step) { return std::round(value / step) * step; }

}  // namespace

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

    // Ground distance at which the view's centre meets the mean height.
    double const lookAhead = (flight.altitude - layout.mean) / slope;
    double const start = 0.05 * length;
    double const end = std::clamp(length - lookAhead, 0.5 * length, 0.95 * length);
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
    flight.focalLength = std::round(0.9 * layout.frameWidth);
    flight.fog = std::round(0.6 * diagonal);
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
    number("NebelA", flight.fog);
    number("NebelE", flight.fog);
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
