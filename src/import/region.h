// The part of an elevation model to import: a box in longitudes and
// latitudes (or another coordinate system), a square around a centre, or
// the extent of the shapes in a vector file, found as a window of the
// raster's cells.
#pragma once

#include "coordinates.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

class QTextStream;

struct RegionRequest {
    std::optional<Box> box;  // west, south, east, north
    // The box's coordinate system; empty: longitudes and latitudes (WGS 84);
    // "model": the elevation model's own.
    QByteArray boxCrs;
    std::optional<std::array<double, 2>> centre;  // longitude, latitude in degrees
    double radiusKm = 0.0;                        // half the side of the square around the centre
    QString file;                                 // a vector file: its shapes' extent
    bool given() const { return box || centre || !file.isEmpty(); }
};

// A rectangle of a raster's cells: first column and row, and its size.
struct PixelWindow {
    int column = 0, row = 0, width = 0, height = 0;
};

// The raster being cut: its size, placement and coordinate system.
struct RasterPlacement {
    QString fileName;
    int width = 0, height = 0;
    bool georeferenced = false;
    std::array<double, 6> geoTransform{};  // north-up, possibly flipped
    QByteArray srsWkt;
};

// The cells the region covers (every cell it touches), clipped to the
// raster with a note in `log`. Throws ImportError (InputError) when the
// region lies outside the raster, covers fewer than 2 x 2 of its cells, or
// cannot be placed on it (no georeferencing, no coordinate system, an
// unreadable file).
PixelWindow regionWindow(RegionRequest const& region, RasterPlacement const& raster, QTextStream& log);
