// The terrain texture: its size and placement on the elevation grid, and
// its pixels, either the user's image draped onto the grid or a relief
// texture made from the heights.
//
// Placement. The renderer puts elevation cell (column c, row r) at world
// point (c * scaleX, (H - 1 - r) * scaleY) and texel (u, v) (v counting rows
// upwards from the bottom) at world square [u, u + 1) x [v, v + 1). The
// texture therefore spans the elevation raster's extent shifted by half a
// cell east and north: its west edge runs through the centres of the
// western cells, its north edge half a cell beyond the northern cells.
#pragma once

#include "gdal_support.h"
#include "sun_light.h"

#include <QImage>
#include <QString>

#include <array>
#include <optional>
#include <vector>

class QTextStream;
struct ElevationModel;

struct TextureLayout {
    qint64 width = 0;  // texels
    qint64 height = 0;
    // Texels (world units) per elevation cell along x and y: HDateiSkalaX/Y.
    double scaleX = 1.0;
    double scaleY = 1.0;
    // Metric size of a texel, taken along the axis with the finer cells.
    double metresPerTexel = 1.0;
};

// Square texels in metres: along the axis whose cells are finer in metres
// a cell gets texelsPerCell texels; along the other axis as many as keep the
// texels square, rounded so the texture has a whole number of texels (the
// scale is then texture size / cell count exactly).
TextureLayout layoutTexture(ElevationModel const& model, double texelsPerCell);

// Throws ImportError (OutputError) when the texture's width * height * 4
// bytes exceed the limit, or when it is too large for an image at all.
void checkTextureMemory(TextureLayout const& layout, qint64 limit);

// The georeferencing of the texture from that of the elevation grid (see the
// placement above).
std::array<double, 6> textureGeoTransform(std::array<double, 6> const& cells, double cellsX, double cellsY,
                                          double texelsX, double texelsY);

// The user's image, opened and reduced to three 8-bit bands (paletted images
// expanded, grey repeated, wider types scaled to 0..255).
struct DrapeImage {
    QString fileName;
    gdal::DatasetPtr source;
    gdal::DatasetPtr rgb;  // reads through `source`, so declared after it
    bool georeferenced = false;
    std::array<double, 6> geoTransform{};
    QByteArray srsWkt;
    bool stretched = false;  // placed by stretching over the terrain, not by coordinates
};

// Opens the image and checks that it overlaps the part of the terrain that
// has heights (the rectangle through the outer cell centres); warns when it
// covers only part of it. Throws ImportError (InputError) when it cannot be
// read, has no band, or does not overlap the elevation model.
DrapeImage openDrapeImage(QString const& fileName, ElevationModel const& model, QTextStream& log);

// The draped texture: the image warped (bilinear) onto the texture grid in
// the elevation model's coordinate system, or stretched over it when either
// side lacks georeferencing. Texels the image does not cover stay grey.
QImage drapeTexture(DrapeImage& image, ElevationModel const& model, TextureLayout const& layout);

// The starter scenery's light without a given sun: from the north-west,
// 35.26 degrees up (the direction 1, -1, -1).
constexpr double reliefLightAzimuth = 315.0;
constexpr double reliefLightAltitude = 35.26438968;

// How a relief texture is lit and coloured.
struct ReliefStyle {
    SunPosition light{reliefLightAzimuth, reliefLightAltitude};
    std::vector<float> sunlit;       // per cell, the share of the sun seen; empty: all of it
    std::optional<double> seaLevel;  // metres; below it a bathymetric ramp
};

// A texture from the heights alone: GDAL's colour relief (a hypsometric
// tint from the lowest cell, or the sea level, to the highest; blues below
// the sea level) multiplied by its hill shading under the style's light,
// the direct light taken by the share of the sun each cell sees, then
// resampled to the texture grid.
QImage reliefTexture(ElevationModel const& model, TextureLayout const& layout, double exaggeration,
                     ReliefStyle const& style = {});
