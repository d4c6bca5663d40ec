// Reading band 1 (or another) of an elevation raster into heights in metres
// on a north-up grid, with the metric size of its cells and its missing
// cells filled.
#pragma once

#include "region.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>
#include <vector>

class QTextStream;

// How a raster holds its heights: as the values of one band, or spread over
// red, green and blue as web map tiles do (Mapbox Terrain-RGB: -10000 m +
// 0.1 m x (R x 65536 + G x 256 + B); Terrarium: R x 256 + G + B / 256 -
// 32768 m).
enum class HeightEncoding { Band, TerrainRgb, Terrarium };

struct ElevationReadOptions {
    QString fileName;
    int band = 1;
    HeightEncoding encoding = HeightEncoding::Band;
    // Cell size in metres, replacing what the georeferencing says (needed
    // when the raster has none).
    std::optional<double> pixelSizeX, pixelSizeY;
    // Metres per raster value after the band's scale and offset; by default
    // taken from the band's unit (metres, feet, ...), else 1.
    std::optional<double> metresPerValue;
    // Reading is refused when the model would need more memory than this.
    qint64 memoryLimit = 0;
    // Only this part of the raster.
    RegionRequest region;
    // At most this many cells along the longer side: larger rasters (or
    // regions) are read averaged, from their overviews where they have some;
    // 0 reads every cell.
    int maxSize = 0;
};

struct ElevationModel {
    QString fileName;
    int width = 0;
    int height = 0;
    // Heights in metres, row by row from the northern row, west to east.
    std::vector<double> metres;

    // The raster's own placement, made north-up: x = gt[0] + column * gt[1],
    // y = gt[3] + row * gt[5] with gt[1] > 0 and gt[5] < 0, in the units of
    // the coordinate system srsWkt (empty when the raster names none).
    bool georeferenced = false;
    std::array<double, 6> geoTransform{0, 1, 0, 0, 0, -1};
    QByteArray srsWkt;
    bool geographic = false;
    double centreLatitude = 0.0;  // degrees, geographic models only

    // Metric distance between neighbouring cells along a row (x) and a column (y).
    double cellMetresX = 1.0;
    double cellMetresY = 1.0;

    qsizetype filledCells = 0;                        // cells without data that were filled in
    double minimum = 0.0, maximum = 0.0, mean = 0.0;  // metres

    double at(int column, int row) const { return metres[static_cast<std::size_t>(row) * width + column]; }
    // The height at a fractional column and row, bilinear between cells;
    // positions off the grid take the nearest edge cell.
    double heightAt(double column, double row) const;
};

// Throws ImportError: InputError for unreadable or unusable rasters,
// OutputError when the model would not fit the memory limit.
ElevationModel readElevationModel(ElevationReadOptions const& options, QTextStream& log);

// Rough working memory of an import per elevation cell (heights, mask,
// height map, and the relief texture's intermediate rasters).
constexpr qint64 bytesPerElevationCell = 32;

// Fills every cell whose valid flag is 0: in passes outward from the known
// cells, each missing cell next to known ones (of the eight around it) gets
// the mean of those; then a few relaxation passes set each filled cell to
// the mean of all its neighbours, smoothing the seams. Every step takes
// means, so a filled value always lies within the range of the known heights
// around the gap. Returns the number of cells filled, or -1 when no cell is
// valid (nothing can be filled).
qsizetype fillNodata(std::vector<double>& values, std::vector<unsigned char>& valid, int width, int height);

// Metres per degree of longitude and latitude at a latitude (degrees) on an
// ellipsoid with the given semi-major axis (metres) and inverse flattening
// (0 for a sphere).
struct MetresPerDegree {
    double longitude;
    double latitude;
};
MetresPerDegree metresPerDegree(double latitudeDegrees, double semiMajorAxis, double inverseFlattening);

// Metres per unit of a band's unit name ("m", "ft", "US survey foot", ...);
// nothing for an unknown name.
std::optional<double> metresPerUnitName(QString const& unit);
