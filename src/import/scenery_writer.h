// The starter scenery file: the height map and texture with their scales,
// and a straight flight across the terrain.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>

struct SceneryLayout {
    QString heightMapName = QStringLiteral("heightmap.png");
    QString textureName = QStringLiteral("texture.png");
    QString framePattern = QStringLiteral("frames/frame%04d");
    int cellsX = 0;  // height-map size
    int cellsY = 0;
    double scaleX = 1.0;  // HDateiSkalaX/Y: world units (texels) per cell
    double scaleY = 1.0;
    double zScale = 1.0;  // HDateiSkalaZA/ZE: world units per height count
    // Terrain heights in world units.
    double lowest = 0.0, highest = 0.0, mean = 0.0;
    int frameWidth = 640;
    int frameHeight = 480;
    std::array<double, 3> light{1, -1, -1};  // LichtX/Y/Z: the direction the light travels
};

struct StraightFlight {
    double startX = 0, startY = 0, endX = 0, endY = 0;
    double altitude = 0;  // world units, the same at both ends
    double heading = 0;   // degrees, 0 north (+y), 90 east (+x)
    double tilt = -20;    // degrees
    double focalLength = 0;
    double fog = 0;
    int gridX = 1, gridY = 1;  // AusAuflX/Y
};

// The flight: along the middle of the terrain's longer axis, level, looking
// ahead 20 degrees down. Its height above the highest point lies between a
// quarter and one and a half times the height range (at least 2 % of the
// terrain's diagonal); within that, as low as lets the view's centre meet the
// mean height a third of the terrain's length ahead, so that terrain rather
// than background fills the frames. It starts 5 % into the terrain and ends
// where the view still meets terrain ahead (between 50 % and 95 %). Focal
// length 0.9 x frame width, fog 0.6 x the terrain's diagonal, one grid cell
// per 6 x 6 texels.
StraightFlight planFlight(SceneryLayout const& layout);

// The file's text: "[Param]" first, one key=value line each, numbers in
// plain decimal, no empty line (the reader stops at the first).
// With `curvedFlight` lines (a track's flight) those replace the straight
// flight's frame count and range and follow the other lines.
QByteArray sceneryText(SceneryLayout const& layout, StraightFlight const& flight, QStringList const& curvedFlight = {});

// A number in plain decimal notation (never an exponent) with up to
// `significant` significant digits and no trailing zeros.
QString plainDecimal(double value, int significant = 10);
