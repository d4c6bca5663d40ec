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
    double fogStart = 0, fogEnd = 0;  // NebelA/E
    int gridX = 1, gridY = 1;         // AusAuflX/Y
};

// The flight: along the middle of the terrain's longer axis, level, looking
// ahead 20 degrees down. Its height above the highest point lies between a
// quarter and one and a half times the height range (at least 2 % of the
// terrain's diagonal); within that, as low as lets the view's centre meet the
// mean height a third of the terrain's length ahead, so that terrain rather
// than background fills the frames. It starts 5 % into the terrain and ends
// (between 50 % and 95 %) far enough from the edge ahead that the fog hiding
// the edge leaves the view's centre clear. Focal length 0.9 x frame width,
// one grid cell per 6 x 6 texels. The fog at each end is the thinner of 0.6
// x the terrain's diagonal and what hides the nearest edge in view.
StraightFlight planFlight(SceneryLayout const& layout);

// The starter flights' focal length, 0.9 x the frame width, and the angle
// (degrees) either side of straight ahead that a frame shows with it.
double focalLengthFor(int frameWidth);
double viewHalfAngle(int frameWidth);

// The distance from (x, y) inside the terrain [0, extentX] x [0, extentY] to
// the nearest point of its edge that a camera at heading `heading` (degrees,
// 0 north = +y, 90 east = +x) sees within `halfAngle` degrees either side.
double distanceToEdgeInView(double x, double y, double heading, double halfAngle, double extentX, double extentY);

// The fog distance (whole world units) that hides an edge this far away:
// it lies at least two fog distances out, where the renderer's fog covers
// 86 % of it; at most 0.6 x the terrain's diagonal.
double fogHidingTheEdge(double edgeDistance, double diagonal);

// The file's text: "[Param]" first, one key=value line each, numbers in
// plain decimal, no empty line (the reader stops at the first).
// With `curvedFlight` lines (a track's flight) those replace the straight
// flight's frame count and range and follow the other lines.
QByteArray sceneryText(SceneryLayout const& layout, StraightFlight const& flight, QStringList const& curvedFlight = {});

// A number in plain decimal notation (never an exponent) with up to
// `significant` significant digits and no trailing zeros.
QString plainDecimal(double value, int significant = 10);
