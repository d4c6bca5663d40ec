// Rectangles in a raster's coordinates, coordinate systems, and moving
// rectangles between them: what placing a drape or a region on the
// elevation model needs.
#pragma once

#include <ogr_srs_api.h>

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

struct Box {
    double minX, minY, maxX, maxY;
    double area() const;
};

// The bounding box of a raster's four corners (rotated rasters included).
Box boxOf(std::array<double, 6> const& gt, double width, double height);
Box intersection(Box const& a, Box const& b);
// "x 1.000000 .. 2.000000, y 3.000000 .. 4.000000"
QString describe(Box const& box);

// An owned coordinate system with x as easting or longitude, whatever axis
// order its definition has; null when the definition is unusable.
class SpatialReference {
  public:
    SpatialReference() = default;
    explicit SpatialReference(QByteArray const& wkt);
    // Any definition GDAL accepts: EPSG:4326, WKT, a PROJ string, ...
    static SpatialReference fromUserInput(QByteArray const& definition);
    static SpatialReference copyOf(OGRSpatialReferenceH srs);
    ~SpatialReference();
    SpatialReference(SpatialReference&& other) noexcept;
    SpatialReference& operator=(SpatialReference&& other) noexcept;

    OGRSpatialReferenceH handle() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

  private:
    OGRSpatialReferenceH handle_ = nullptr;
};

// Carries points from one coordinate system into another (x easting or
// longitude); unusable (false) when either system is null or the two cannot
// be transformed.
class CoordinateTransform {
  public:
    CoordinateTransform(OGRSpatialReferenceH from, OGRSpatialReferenceH to);
    ~CoordinateTransform();
    CoordinateTransform(CoordinateTransform const&) = delete;
    CoordinateTransform& operator=(CoordinateTransform const&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    OGRCoordinateTransformationH handle() const { return handle_; }
    // The point moved in place; false when it cannot be.
    bool operator()(double& x, double& y) const;

  private:
    OGRCoordinateTransformationH handle_ = nullptr;
};

// The model's coordinate system as things are placed in it. Geographic
// longitudes that run past 180 (0 to 360, as some global models have them)
// need PROJ's lon_wrap, or a place given in another system would land 360
// degrees away from them.
QByteArray placementWkt(QByteArray const& modelWkt, Box const& modelExtent);

// The box `box` in `from` carried into `to` (its edges densified, so curved
// edges are enclosed); nothing when the systems cannot be transformed.
std::optional<Box> transformBox(Box const& box, OGRSpatialReferenceH from, OGRSpatialReferenceH to);
