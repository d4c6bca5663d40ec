// Reading a GPS track (GPX track or route, KML or GeoJSON line string, CSV
// of lon,lat[,alt] rows) through GDAL's vector drivers, in the elevation
// model's coordinate system.
#pragma once

#include <QString>

#include <optional>
#include <vector>

struct ElevationModel;

struct TrackVertex {
    double x = 0.0, y = 0.0;         // the model's coordinates
    std::optional<double> altitude;  // metres, where the track has them
};

// The vertices of the file's first line (or, for a file of points, its
// points in order); a file that names no coordinate system holds longitudes
// and latitudes (WGS 84). Throws ImportError (InputError) naming the file when it
// cannot be read, holds no line or points, or cannot be placed in the
// model's coordinates.
std::vector<TrackVertex> readTrack(QString const& fileName, ElevationModel const& model);
