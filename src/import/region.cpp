#include "region.h"

#include "gdal_support.h"
#include "import_error.h"

#include <gdal.h>
#include <ogr_api.h>

#include <QTextStream>

#include <algorithm>
#include <cmath>

namespace {

QString describeRegion(RegionRequest const& region) {
    if (region.box)
        return QStringLiteral("--bbox %1,%2,%3,%4")
            .arg(region.box->minX)
            .arg(region.box->minY)
            .arg(region.box->maxX)
            .arg(region.box->maxY);
    if (region.centre)
        return QStringLiteral("--center %1,%2 --radius %3")
            .arg((*region.centre)[0])
            .arg((*region.centre)[1])
            .arg(region.radiusKm);
    return QStringLiteral("--region %1").arg(quoted(region.file));
}

SpatialReference longitudeLatitude() { return SpatialReference::fromUserInput("EPSG:4326"); }

// The extent of every shape in the file, in the model's coordinates; shapes
// without a coordinate system hold longitudes and latitudes.
Box fileExtent(QString const& fileName, OGRSpatialReferenceH model) {
    gdal::initialise();
    gdal::clearError();
    gdal::DatasetPtr const dataset(
        GDALOpenEx(fileName.toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!dataset)
        throw inputError(QStringLiteral("Cannot read the region %1: %2")
                             .arg(quoted(fileName), gdal::lastError(QStringLiteral("no vector driver reads it"))));
    std::optional<Box> extent;
    for (int k = 0; k < GDALDatasetGetLayerCount(dataset.get()); ++k) {
        OGRLayerH const layer = GDALDatasetGetLayer(dataset.get(), k);
        OGREnvelope envelope;
        if (OGR_L_GetFeatureCount(layer, TRUE) == 0 || OGR_L_GetExtent(layer, &envelope, TRUE) != OGRERR_NONE)
            continue;
        OGRSpatialReferenceH const own = OGR_L_GetSpatialRef(layer);
        SpatialReference const layerSrs = own ? SpatialReference::copyOf(own) : longitudeLatitude();
        std::optional<Box> const moved =
            transformBox({envelope.MinX, envelope.MinY, envelope.MaxX, envelope.MaxY}, layerSrs.handle(), model);
        if (!moved)
            throw inputError(QStringLiteral("The region %1 cannot be placed in the elevation model's coordinates")
                                 .arg(quoted(fileName)));
        extent = extent ? Box{std::min(extent->minX, moved->minX), std::min(extent->minY, moved->minY),
                              std::max(extent->maxX, moved->maxX), std::max(extent->maxY, moved->maxY)}
                        : *moved;
    }
    if (!extent)
        throw inputError(QStringLiteral("The region %1 holds no shape").arg(quoted(fileName)));
    return *extent;
}

// A square 2 x radius on a side around the centre, measured on the ground
// (an azimuthal equidistant projection around it), in the model's coordinates.
std::optional<Box> squareAround(std::array<double, 2> const& centre, double radiusKm, OGRSpatialReferenceH model) {
    SpatialReference const local = SpatialReference::fromUserInput(
        QStringLiteral("+proj=aeqd +lat_0=%1 +lon_0=%2 +x_0=0 +y_0=0 +datum=WGS84 +units=m +no_defs")
            .arg(centre[1], 0, 'g', 17)
            .arg(centre[0], 0, 'g', 17)
            .toUtf8());
    double const r = radiusKm * 1000.0;
    return transformBox({-r, -r, r, r}, local.handle(), model);
}

// The region in the model's coordinates.
Box regionBox(RegionRequest const& region, RasterPlacement const& raster, Box const& extent) {
    QString const what = describeRegion(region);
    if (region.box && region.boxCrs == "model")
        return *region.box;
    SpatialReference const model(placementWkt(raster.srsWkt, extent));
    if (!model)
        throw inputError(QStringLiteral("%1 names no coordinate system to place %2 in: give the box in its own "
                                        "coordinates with --bbox W,S,E,N --bbox-crs model")
                             .arg(quoted(raster.fileName), what));
    if (!region.file.isEmpty())
        return fileExtent(region.file, model.handle());
    std::optional<Box> moved;
    if (region.centre) {
        moved = squareAround(*region.centre, region.radiusKm, model.handle());
    } else {
        SpatialReference const from =
            region.boxCrs.isEmpty() ? longitudeLatitude() : SpatialReference::fromUserInput(region.boxCrs);
        moved = transformBox(*region.box, from.handle(), model.handle());
    }
    if (!moved)
        throw inputError(QStringLiteral("%1 cannot be placed in the coordinates of %2: %3")
                             .arg(what, quoted(raster.fileName), gdal::lastError(QStringLiteral("transform failed"))));
    return *moved;
}

}  // namespace

PixelWindow regionWindow(RegionRequest const& region, RasterPlacement const& raster, QTextStream& log) {
    if (!raster.georeferenced)
        throw inputError(QStringLiteral("%1 carries no georeferencing, so %2 cannot be placed on it")
                             .arg(quoted(raster.fileName), describeRegion(region)));
    Box const extent = boxOf(raster.geoTransform, raster.width, raster.height);
    Box const box = regionBox(region, raster, extent);
    auto const& gt = raster.geoTransform;
    // Cell columns and rows of the box's corners, outward to whole cells.
    double const c0 = (box.minX - gt[0]) / gt[1], c1 = (box.maxX - gt[0]) / gt[1];
    double const r0 = (box.minY - gt[3]) / gt[5], r1 = (box.maxY - gt[3]) / gt[5];
    double const first = std::floor(std::min(c0, c1)), last = std::ceil(std::max(c0, c1));
    double const top = std::floor(std::min(r0, r1)), bottom = std::ceil(std::max(r0, r1));
    double const clippedFirst = std::max(first, 0.0), clippedLast = std::min(last, double(raster.width));
    double const clippedTop = std::max(top, 0.0), clippedBottom = std::min(bottom, double(raster.height));
    if (!(clippedLast > clippedFirst && clippedBottom > clippedTop))
        throw inputError(QStringLiteral("%1 lies outside the elevation model %2: the region covers %3, the model %4 "
                                        "(in the model's coordinates)")
                             .arg(describeRegion(region), quoted(raster.fileName), describe(box), describe(extent)));
    PixelWindow const window{int(clippedFirst), int(clippedTop), int(clippedLast - clippedFirst),
                             int(clippedBottom - clippedTop)};
    if (window.width < 2 || window.height < 2)
        throw inputError(QStringLiteral("%1 covers only %2 x %3 cells of %4; a terrain needs at least 2 x 2")
                             .arg(describeRegion(region))
                             .arg(window.width)
                             .arg(window.height)
                             .arg(quoted(raster.fileName)));
    if (first < 0 || top < 0 || last > raster.width || bottom > raster.height)
        log << QStringLiteral(
                   "Note: %1 reaches beyond the elevation model; clipped to the %2 x %3 cells it shares "
                   "with it.\n")
                   .arg(describeRegion(region))
                   .arg(window.width)
                   .arg(window.height);
    return window;
}
