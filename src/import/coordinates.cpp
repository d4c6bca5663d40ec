#include "coordinates.h"

#include <cpl_conv.h>

#include <algorithm>
#include <cmath>
#include <utility>

double Box::area() const { return std::max(0.0, maxX - minX) * std::max(0.0, maxY - minY); }

Box boxOf(std::array<double, 6> const& gt, double width, double height) {
    Box box{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (double const column : {0.0, width})
        for (double const row : {0.0, height}) {
            double const x = gt[0] + gt[1] * column + gt[2] * row;
            double const y = gt[3] + gt[4] * column + gt[5] * row;
            box = {std::min(box.minX, x), std::min(box.minY, y), std::max(box.maxX, x), std::max(box.maxY, y)};
        }
    return box;
}

Box intersection(Box const& a, Box const& b) {
    return {std::max(a.minX, b.minX), std::max(a.minY, b.minY), std::min(a.maxX, b.maxX), std::min(a.maxY, b.maxY)};
}

QString describe(Box const& box) {
    return QStringLiteral("x %1 .. %2, y %3 .. %4")
        .arg(box.minX, 0, 'f', 6)
        .arg(box.maxX, 0, 'f', 6)
        .arg(box.minY, 0, 'f', 6)
        .arg(box.maxY, 0, 'f', 6);
}

SpatialReference::SpatialReference(QByteArray const& wkt) {
    if (wkt.isEmpty())
        return;
    handle_ = OSRNewSpatialReference(wkt.constData());
    if (handle_)
        OSRSetAxisMappingStrategy(handle_, OAMS_TRADITIONAL_GIS_ORDER);
}

SpatialReference SpatialReference::fromUserInput(QByteArray const& definition) {
    SpatialReference srs;
    srs.handle_ = OSRNewSpatialReference(nullptr);
    if (OSRSetFromUserInput(srs.handle_, definition.constData()) != OGRERR_NONE) {
        OSRDestroySpatialReference(srs.handle_);
        srs.handle_ = nullptr;
        return srs;
    }
    OSRSetAxisMappingStrategy(srs.handle_, OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

SpatialReference SpatialReference::copyOf(OGRSpatialReferenceH srs) {
    SpatialReference copy;
    copy.handle_ = srs ? OSRClone(srs) : nullptr;
    if (copy.handle_)
        OSRSetAxisMappingStrategy(copy.handle_, OAMS_TRADITIONAL_GIS_ORDER);
    return copy;
}

SpatialReference::~SpatialReference() {
    if (handle_)
        OSRDestroySpatialReference(handle_);
}

SpatialReference::SpatialReference(SpatialReference&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

SpatialReference& SpatialReference::operator=(SpatialReference&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
}

CoordinateTransform::CoordinateTransform(OGRSpatialReferenceH from, OGRSpatialReferenceH to)
    : handle_(from && to ? OCTNewCoordinateTransformation(from, to) : nullptr) {}

CoordinateTransform::~CoordinateTransform() {
    if (handle_)
        OCTDestroyCoordinateTransformation(handle_);
}

bool CoordinateTransform::operator()(double& x, double& y) const {
    return handle_ && OCTTransform(handle_, 1, &x, &y, nullptr);
}

QByteArray placementWkt(QByteArray const& modelWkt, Box const& modelExtent) {
    SpatialReference const srs(modelWkt);
    if (!srs || !OSRIsGeographic(srs.handle()) || modelExtent.maxX <= 180.0)
        return modelWkt;
    char* proj4 = nullptr;
    if (OSRExportToProj4(srs.handle(), &proj4) != OGRERR_NONE) {
        CPLFree(proj4);
        return modelWkt;
    }
    QByteArray const wrapped = QByteArray(proj4) + " +lon_wrap=180";
    CPLFree(proj4);
    SpatialReference const wrappedSrs = SpatialReference::fromUserInput(wrapped);
    char* wkt = nullptr;
    QByteArray result = modelWkt;
    if (wrappedSrs && OSRExportToWkt(wrappedSrs.handle(), &wkt) == OGRERR_NONE)
        result = wkt;
    CPLFree(wkt);
    return result;
}

std::optional<Box> transformBox(Box const& box, OGRSpatialReferenceH from, OGRSpatialReferenceH to) {
    if (!from || !to)
        return std::nullopt;
    if (OSRIsSame(from, to))
        return box;
    CoordinateTransform const transform(from, to);
    Box out{};
    if (!transform || !OCTTransformBounds(transform.handle(), box.minX, box.minY, box.maxX, box.maxY, &out.minX,
                                          &out.minY, &out.maxX, &out.maxY, 21))
        return std::nullopt;
    return out;
}
