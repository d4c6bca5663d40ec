// A curved flight along a GPS track: control points for an even ground
// speed at a height above the terrain, and waypoint angles that look ahead
// along the way.
#pragma once

#include "track_planner.h"
#include "track_reader.h"

#include <QColor>
#include <QImage>
#include <QStringList>

#include <array>
#include <limits>
#include <optional>
#include <vector>

struct ElevationModel;
struct TextureLayout;

struct TrackFlightOptions {
    double heightAbove = 150.0;  // metres above the terrain under the camera
    double smooth = 30.0;        // metres: the Gaussian that takes GPS noise out of the track
    double lookAhead = 300.0;    // metres along the path to the point the camera looks at
    std::optional<double> tilt;  // degrees; default: toward the ground at the look-ahead point
    double duration = 0.0;       // seconds; 0: the track at 40 m/s
    int fps = 25;
    bool trackAltitude = false;  // fly at the track's own altitudes instead
    double followBehind = 0.0;   // metres; above 0: the camera trails the track position, looking at it
    double viewHalfAngle = 0.0;  // degrees either side of straight ahead that the frames show
};

struct TrackFlight {
    std::vector<std::array<long long, 3>> controlPoints;  // world units
    std::vector<std::array<long long, 2>> waypoints;      // world units, with their angles:
    std::vector<double> headings, tilts;                  // radians
    int frames = 0;                                       // Bildanzahl
    double lengthMetres = 0.0;
    // World units from the camera to the nearest edge of the terrain in
    // view, and the frame where that is.
    double nearestEdge = std::numeric_limits<double>::infinity();
    int nearestEdgeFrame = 0;
};

// Plans the flight over the model (world units from the texture layout;
// heights exaggerated as the scenery's height scale has them). Throws
// ImportError (InputError) naming `fileName` when the track lies outside the
// model or has fewer than two distinct points.
TrackFlight planTrackFlight(std::vector<TrackVertex> const& track, QString const& fileName, ElevationModel const& model,
                            TextureLayout const& layout, double exaggeration, TrackFlightOptions const& options);

// The track's vertices in world units (x east, y north; texel (u, v) covers
// world [u, u + 1) x [v, v + 1), v from the texture's bottom row).
std::vector<PlanePoint> trackInWorld(std::vector<TrackVertex> const& track, ElevationModel const& model,
                                     TextureLayout const& layout);

// Paints the track into the texture with Qt's painter: an anti-aliased line
// `widthMetres` wide with round joins, in `colour`.
void drawTrack(QImage& texture, std::vector<PlanePoint> const& world, TextureLayout const& layout, QColor const& colour,
               double widthMetres);

// The scenery lines of the curved flight (Rundflug, frame range, control
// points, waypoints and their angles, HoeheUeberBoden, Voraussicht).
QStringList trackFlightLines(TrackFlight const& flight, TrackFlightOptions const& options);
