// Where a pixel's colour is decided: the shade of its interpolated normal
// under the light, the fog over it, and how both turn the texel seen through
// the pixel (or plain white ground, without a texture) into the colour
// written. The rasteriser calls these for every pixel; the texel itself
// comes from the camera's lookups (FarbeImDreieck1 and FarbeImDreieck2).
#pragma once

#include "simd.h"

#include <cmath>
#include <cstdint>

namespace pixelcolour {

// The sum of two converted values, wrapping like the machine's addition
// (both may be INT_MIN when the fog or the shade is not a number).
inline unsigned int wrappingSum(int a, int b) { return static_cast<unsigned int>(a) + static_cast<unsigned int>(b); }

// An opaque grey of the level's low byte.
inline unsigned int grey(unsigned int level) {
    unsigned int const byte = level & 0xFFu;
    return 0xFF000000u | byte << 16 | byte << 8 | byte;
}

// The fog of one triangle: the grey it adds (fog amount f times the
// brightness of level ground, as a level) and the share of the lit colour
// that shows through it (1 - f).
struct Fog {
    int level;
    double clearShare;
};
inline Fog fogOf(double amount, double flatBrightness) {
    return {simd::truncate(255 * flatBrightness * amount), 1 - amount};
}

// The shade of a pixel normal under the light L (pointing from the light to
// the scene): -(n . L) / |n|, with a zero-length normal unlit.
[[gnu::always_inline]] inline double shadeOf(double nx, double ny, double nz, double nw, double lx, double ly,
                                             double lz, double lw) {
    double const length = std::sqrt(nx * nx + ny * ny + nz * nz);
    double const s = -(nx * lx + ny * ly + nz * lz + nw * lw) / length;
    return length == 0 ? 0.0 : s;
}

// shadeOf for four pixels at once, in packed lanes: each lane exactly the
// scalar's operations.
[[gnu::always_inline]] inline simd::Double4 shadeOfFour(simd::Double4 nx, simd::Double4 ny, simd::Double4 nz, double nw,
                                                        double lx, double ly, double lz, double lw) {
    simd::Double4 const length = simd::sqrt(nx * nx + ny * ny + nz * nz);
    simd::Double4 const s = -(nx * lx + ny * ly + nz * lz + nw * lw) / length;
    return simd::select(length == 0.0, simd::Double4{}, s);
}

// One channel of a texel under the shade s (not negative) and the fog:
// trunc(k * s * (1 - f)) + g, kept to its byte. Out of range, the truncation
// gives INT_MIN, and the sum wraps.
[[gnu::always_inline]] inline unsigned int litChannel(unsigned int texel, int shift, double shade, Fog const& fog) {
    double const channel = static_cast<double>(texel >> shift & 0xFFu);
    return (wrappingSum(simd::truncate(channel * shade * fog.clearShare), fog.level) & 0xFFu) << shift;
}

// The colour of a pixel whose normal faces away from the light (negative
// shade): only the fog shows.
inline unsigned int unlit(Fog const& fog) { return grey(static_cast<unsigned int>(fog.level)); }

// The colour of a pixel with this texel and shade (not negative); the
// texel's own alpha is dropped.
[[gnu::always_inline]] inline unsigned int lit(unsigned int texel, double shade, Fog const& fog) {
    return 0xFF000000u | litChannel(texel, 16, shade, fog) | litChannel(texel, 8, shade, fog) |
           litChannel(texel, 0, shade, fog);
}

// lit() of four pixels, each lane exactly the scalar's operations.
[[gnu::always_inline]] inline simd::UInt4 litChannelOfFour(simd::UInt4 texels, std::uint32_t shift,
                                                           simd::Double4 shade, Fog const& fog) {
    simd::Int4 const byte = simd::reinterpret<simd::Int4>((texels >> shift) & 0xFFu);
    simd::Double4 const channel = simd::convert<simd::Double4>(byte);
    simd::UInt4 const product = simd::reinterpret<simd::UInt4>(simd::truncate(channel * shade * fog.clearShare));
    return ((product + static_cast<std::uint32_t>(fog.level)) & 0xFFu) << shift;
}
[[gnu::always_inline]] inline simd::UInt4 litFour(simd::UInt4 texels, simd::Double4 shade, Fog const& fog) {
    return 0xFF000000u | litChannelOfFour(texels, 16, shade, fog) | litChannelOfFour(texels, 8, shade, fog) |
           litChannelOfFour(texels, 0, shade, fog);
}

// The colour of a pixel of untextured (white) ground with this shade (not negative).
[[gnu::always_inline]] inline unsigned int litWhite(double shade, Fog const& fog) {
    return grey(wrappingSum(simd::truncate(shade * 255 * fog.clearShare), fog.level));
}

// The colour a frame is cleared to when no background is asked for: the
// grey of level ground under the light, 256 |L.z| kept to 255.
inline unsigned int levelGroundGrey(double lightZ) {
    double const level = 256 * std::fabs(lightZ);
    unsigned int const byte = level > 255 ? 255u : static_cast<unsigned int>(simd::truncate(level)) & 0xFFu;
    return 0xFF000000u | byte * 0x010101u;
}

}  // namespace pixelcolour
