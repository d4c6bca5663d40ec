// Light from a given sun: the scenery's light direction, and the shadows the
// terrain casts, baked into the texture so that they agree with the
// renderer's shading of the same terrain.
#pragma once

#include <QDateTime>
#include <QImage>

#include <array>
#include <optional>
#include <vector>

struct ElevationModel;
struct TextureLayout;

struct SunPosition {
    double azimuth = 0.0;    // degrees clockwise from north
    double elevation = 0.0;  // degrees above the horizon, above 0
};

// Where the sun stands at `when` (a moment with a known offset from UTC) seen
// from longitude and latitude (degrees, east and north positive), by
// libnova's solar theory; no refraction.
SunPosition sunAt(QDateTime const& when, double longitude, double latitude);

// The longitude and latitude of the model's centre; none for a model
// without coordinates.
std::optional<std::array<double, 2>> centreLongitudeLatitude(ElevationModel const& model);

// The direction the sunlight travels in world coordinates (x east, y north,
// z up): the scenery's LichtX, LichtY, LichtZ.
std::array<double, 3> lightDirection(SunPosition const& sun);

// For every cell of the model (row by row from the north), the share of the
// sun's disk (0.53 degrees across) that the terrain toward the sun leaves in
// view: 1 in full sun, 0 in shadow, between at the soft edge. The heights are
// exaggerated as the renderer draws them.
std::vector<float> sunlitShare(ElevationModel const& model, SunPosition const& sun, double exaggeration);

// Darkens the texture (made 8-bit RGB) where the share is below 1, down to
// the sky light alone in full shadow; each texel takes the share at its
// place on the grid.
void darkenShadows(QImage& texture, std::vector<float> const& sunlit, ElevationModel const& model,
                   TextureLayout const& layout);
