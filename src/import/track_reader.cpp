#include "track_reader.h"

#include "coordinates.h"

#include "elevation_model.h"
#include "gdal_support.h"
#include "import_error.h"

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include <cmath>
#include <memory>

namespace {

struct FeatureDeleter {
    void operator()(void* feature) const { OGR_F_Destroy(feature); }
};
using FeaturePtr = std::unique_ptr<void, FeatureDeleter>;

// Appends the points of a geometry: a line's vertices, a point, or the parts
// of a multi-geometry one after the other.
void appendPoints(OGRGeometryH geometry, std::vector<TrackVertex>& out) {
    OGRwkbGeometryType const type = wkbFlatten(OGR_G_GetGeometryType(geometry));
    if (type == wkbMultiLineString || type == wkbGeometryCollection || type == wkbMultiPoint) {
        for (int k = 0; k < OGR_G_GetGeometryCount(geometry); ++k)
            appendPoints(OGR_G_GetGeometryRef(geometry, k), out);
        return;
    }
    if (type != wkbLineString && type != wkbPoint)
        return;
    bool const hasZ = OGR_G_Is3D(geometry);
    for (int k = 0; k < OGR_G_GetPointCount(geometry); ++k) {
        TrackVertex vertex{OGR_G_GetX(geometry, k), OGR_G_GetY(geometry, k), std::nullopt};
        if (hasZ)
            vertex.altitude = OGR_G_GetZ(geometry, k);
        out.push_back(vertex);
    }
}

// The file's first line, in whichever layer it lies (a GPX file lists its
// waypoints before its tracks); without any line, the points of the first
// layer that has some, in order.
std::vector<TrackVertex> firstTrack(GDALDatasetH dataset, OGRSpatialReferenceH& srs) {
    std::vector<TrackVertex> points;
    OGRSpatialReferenceH pointsSrs = nullptr;
    for (int layerIndex = 0; layerIndex < GDALDatasetGetLayerCount(dataset); ++layerIndex) {
        OGRLayerH const layer = GDALDatasetGetLayer(dataset, layerIndex);
        std::vector<TrackVertex> layerPoints;
        OGR_L_ResetReading(layer);
        while (FeaturePtr feature{OGR_L_GetNextFeature(layer)}) {
            OGRGeometryH const geometry = OGR_F_GetGeometryRef(feature.get());
            if (!geometry)
                continue;
            if (wkbFlatten(OGR_G_GetGeometryType(geometry)) == wkbPoint) {
                appendPoints(geometry, layerPoints);
                continue;
            }
            std::vector<TrackVertex> line;
            appendPoints(geometry, line);
            if (!line.empty()) {
                srs = OGR_L_GetSpatialRef(layer);
                return line;
            }
        }
        if (points.empty() && !layerPoints.empty()) {
            points = std::move(layerPoints);
            pointsSrs = OGR_L_GetSpatialRef(layer);
        }
    }
    srs = pointsSrs;
    return points;
}

}  // namespace

std::vector<TrackVertex> readTrack(QString const& fileName, ElevationModel const& model) {
    gdal::initialise();
    // CSV: columns named lon/lat/alt (or x/y/z), or the first three of a file without a header.
    gdal::ArgumentList options{"X_POSSIBLE_NAMES=lon*,x,field_1", "Y_POSSIBLE_NAMES=lat*,y,field_2",
                               "Z_POSSIBLE_NAMES=alt*,ele*,z,field_3", "HEADERS=AUTO"};
    // GPX elevations become the lines' z values (a setting of the GPX driver,
    // for this thread while the track is read).
    CPLSetThreadLocalConfigOption("GPX_ELE_AS_25D", "YES");
    struct Restore {
        ~Restore() { CPLSetThreadLocalConfigOption("GPX_ELE_AS_25D", nullptr); }
    } const restore;
    gdal::clearError();
    gdal::DatasetPtr const dataset(
        GDALOpenEx(fileName.toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, options.data(), nullptr));
    if (!dataset)
        throw inputError(QStringLiteral("Cannot read the track %1: %2")
                             .arg(quoted(fileName), gdal::lastError(QStringLiteral("no vector driver reads it"))));
    OGRSpatialReferenceH trackSrs = nullptr;
    std::vector<TrackVertex> track = firstTrack(dataset.get(), trackSrs);
    if (track.empty())
        throw inputError(QStringLiteral("The track %1 holds no line and no points").arg(quoted(fileName)));
    // A track without a coordinate system (a CSV file, say) holds longitudes
    // and latitudes, as GPS receivers give them.
    SpatialReference const wgs84 = SpatialReference::fromUserInput("EPSG:4326");
    if (!trackSrs) {
        trackSrs = wgs84.handle();
        for (TrackVertex const& vertex : track)
            if (!(std::fabs(vertex.x) <= 180 && std::fabs(vertex.y) <= 90))
                throw inputError(QStringLiteral("The track %1 names no coordinate system and its numbers are no "
                                                "longitudes and latitudes (%2, %3)")
                                     .arg(quoted(fileName))
                                     .arg(vertex.x)
                                     .arg(vertex.y));
    }
    if (model.srsWkt.isEmpty())
        throw inputError(QStringLiteral("The track %1 has coordinates, but the elevation model has none to place "
                                        "it in")
                             .arg(quoted(fileName)));
    // Placed as drapes and regions are: longitudes past 180 included.
    SpatialReference const from = SpatialReference::copyOf(trackSrs);
    SpatialReference const to(placementWkt(model.srsWkt, boxOf(model.geoTransform, model.width, model.height)));
    CoordinateTransform const transform(from.handle(), to.handle());
    for (TrackVertex& vertex : track)
        if (!transform(vertex.x, vertex.y))
            throw inputError(QStringLiteral("The track %1 cannot be placed in the elevation model's coordinates")
                                 .arg(quoted(fileName)));
    return track;
}
