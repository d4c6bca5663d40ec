// Test rasters written through GDAL's API, and readers for what AVImport writes.
#pragma once

#include "importer.h"
#include "scenery_data.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace fixtures {

using HeightFunction = std::function<double(int column, int row)>;
using GeoTransform = std::array<double, 6>;

// A one-band raster (GeoTIFF unless the driver says otherwise) with the
// heights, georeferencing (none when gt is empty) and coordinate system
// (EPSG code, 0 for none); cells equal to `nodata` are marked missing.
void writeRaster(QString const& path, int width, int height, HeightFunction const& heights,
                 std::optional<GeoTransform> const& gt, int epsg, std::optional<double> nodata = std::nullopt,
                 char const* driver = "GTiff", int dataType = 7 /* GDT_Float64 */);

// A three-band 8-bit GeoTIFF whose texel (column, row) has colour(column, row).
void writeRgbImage(QString const& path, int width, int height, std::function<QRgb(int, int)> const& colour,
                   GeoTransform const& gt, int epsg);

// A netCDF file with two 2-D variables: a container without bands of its own.
void writeTwoVariableNetcdf(QString const& path);

// An SRTM tile: size x size big-endian int16 values, rows from the north.
void writeHgt(QString const& path, int size, HeightFunction const& heights);

// Runs the import and fails the test (returning nothing) on an error.
std::optional<ImportResult> import(ImportOptions const& options, QString* log = nullptr);

// The exit code and message of an import that is expected to fail.
struct Failure {
    int code = 0;
    QString message;
};
Failure importFailure(ImportOptions const& options);

// The scenery as AVRender reads it; fails the test when it is not accepted.
std::unique_ptr<SceneryData> readScenery(QString const& path);

// The signed 24-bit count of height-map pixel (column, row).
int countAt(QImage const& heightMap, int column, int row);

// Runs the AVImport program.
struct Run {
    int exitCode = -1;
    QByteArray standardOutput, standardError;
};
Run runAVImport(QStringList const& arguments, QString const& workingDir = QString());

}  // namespace fixtures
