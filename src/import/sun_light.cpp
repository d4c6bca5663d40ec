#include "sun_light.h"

#include "coordinates.h"

#include "elevation_model.h"
#include "texture_builder.h"

#include <libnova/julian_day.h>
#include <libnova/solar.h>
#include <libnova/transform.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

constexpr double degree = std::numbers::pi / 180.0;
// The sun's disk, seen from the earth.
constexpr double sunDiameter = 0.53 * degree;
// The light left in full shadow (from the sky), as a share of full sun.
constexpr double skyLight = 0.45;
// A horizon search takes at most this many samples per cell.
constexpr double mostSamples = 512.0;

// The share of the sun's disk above a horizon seen at `horizon` radians.
double visibleShare(double sunElevation, double horizon) {
    return std::clamp((sunElevation - horizon) / sunDiameter + 0.5, 0.0, 1.0);
}

}  // namespace

SunPosition sunAt(QDateTime const& when, double longitude, double latitude) {
    QDateTime const utc = when.toUTC();
    QDate const date = utc.date();
    QTime const time = utc.time();
    ln_date moment{date.year(), date.month(),  date.day(),
                   time.hour(), time.minute(), time.second() + time.msec() / 1000.0};
    double const julianDay = ln_get_julian_day(&moment);
    ln_equ_posn equatorial{};
    ln_get_solar_equ_coords(julianDay, &equatorial);
    ln_lnlat_posn observer{longitude, latitude};
    ln_hrz_posn horizontal{};
    ln_get_hrz_from_equ(&equatorial, &observer, julianDay, &horizontal);
    // libnova counts the azimuth from the south through the west.
    return {std::fmod(horizontal.az + 180.0, 360.0), horizontal.alt};
}

std::optional<std::array<double, 2>> centreLongitudeLatitude(ElevationModel const& model) {
    if (!model.georeferenced || model.srsWkt.isEmpty())
        return std::nullopt;
    auto const& gt = model.geoTransform;
    double x = gt[0] + gt[1] * model.width / 2.0, y = gt[3] + gt[5] * model.height / 2.0;
    SpatialReference const from(model.srsWkt), to = SpatialReference::fromUserInput("EPSG:4326");
    if (!CoordinateTransform(from.handle(), to.handle())(x, y))
        return std::nullopt;
    return std::array{x, y};
}

std::array<double, 3> lightDirection(SunPosition const& sun) {
    double const a = sun.azimuth * degree, e = sun.elevation * degree;
    return {-std::sin(a) * std::cos(e), -std::cos(a) * std::cos(e), -std::sin(e)};
}

// From each cell the search walks toward the sun in steps of half the finer
// cell size (longer steps where the walk is long), keeping the steepest
// terrain seen, and stops where even the highest point of the model would
// lie below the ray of the sun's lower edge, or at the model's edge.
std::vector<float> sunlitShare(ElevationModel const& model, SunPosition const& sun, double exaggeration) {
    double const a = sun.azimuth * degree, e = sun.elevation * degree;
    double const east = std::sin(a), north = std::cos(a);
    double const reach =
        std::max(model.maximum - model.minimum, 0.0) * exaggeration / std::tan(std::max(e - sunDiameter / 2, 1e-3));
    double const diagonal = std::hypot(model.width * model.cellMetresX, model.height * model.cellMetresY);
    double const walk = std::min(reach, diagonal);
    double const step = std::max(0.5 * std::min(model.cellMetresX, model.cellMetresY), walk / mostSamples);
    // Per step along the walk: the move in cells, and how far the ray of the
    // sun's lower edge rises (beyond it no terrain can reach the sun).
    double const stepColumns = east * step / model.cellMetresX, stepRows = -north * step / model.cellMetresY;
    double const lowerEdgeSlope = std::tan(std::max(e - sunDiameter / 2, 0.0));
    double const highest = model.maximum * exaggeration;
    std::vector<float> share(static_cast<std::size_t>(model.width) * model.height, 1.0f);
    for (int row = 0; row < model.height; ++row)
        for (int column = 0; column < model.width; ++column) {
            double const base = model.at(column, row) * exaggeration;
            double steepest = -std::numeric_limits<double>::infinity();  // the horizon's slope
            double c = column, r = row;
            for (double distance = step; distance <= walk + step / 2; distance += step) {
                c += stepColumns;
                r += stepRows;
                if (c < 0 || r < 0 || c > model.width - 1 || r > model.height - 1)
                    break;
                steepest = std::max(steepest, (model.heightAt(c, r) * exaggeration - base) / distance);
                if (highest - base < distance * lowerEdgeSlope)
                    break;
            }
            share[static_cast<std::size_t>(row) * model.width + column] = float(visibleShare(e, std::atan(steepest)));
        }
    return share;
}

// Texel (u, t) from the top has its centre at world (u + 0.5, height - t - 0.5),
// which is cell column x / scaleX and row (cells - 1) - y / scaleY (see the
// texture's placement).
void darkenShadows(QImage& texture, std::vector<float> const& sunlit, ElevationModel const& model,
                   TextureLayout const& layout) {
    ElevationModel shares;
    shares.width = model.width;
    shares.height = model.height;
    shares.metres.assign(sunlit.begin(), sunlit.end());
    if (texture.format() != QImage::Format_RGB888)
        texture = texture.convertToFormat(QImage::Format_RGB888);
    for (int t = 0; t < texture.height(); ++t) {
        uchar* const line = texture.scanLine(t);
        double const row = (model.height - 1) - (texture.height() - t - 0.5) / layout.scaleY;
        for (int u = 0; u < texture.width(); ++u) {
            double const lit = shares.heightAt((u + 0.5) / layout.scaleX, row);
            double const factor = skyLight + (1.0 - skyLight) * lit;
            for (int channel = 0; channel < 3; ++channel) {
                uchar& byte = line[3 * u + channel];
                byte = static_cast<uchar>(std::lround(byte * factor));
            }
        }
    }
}
