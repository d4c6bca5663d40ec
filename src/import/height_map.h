// The renderer's height map: one pixel per elevation cell, north row at the
// top, each pixel a signed 24-bit count of the count unit in red (most
// significant), green and blue.
#pragma once

#include <QImage>

struct ElevationModel;

constexpr int largestCount = 8388607;    //  2^23 - 1
constexpr int smallestCount = -8388608;  // -2^23

// The count of a height: metres / unitMetres rounded half away from zero.
long long heightToCount(double metres, double unitMetres);

// Throws ImportError (InputError) when heights from `lowest` to `highest`
// metres do not fit the counts at `unitMetres`, suggesting a unit that does.
void checkCountRange(double lowest, double highest, double unitMetres);

// The smallest whole number of centimetres whose counts hold the range.
long long smallestFittingUnitCm(double lowest, double highest);

// The height map of the model as an RGB image (call checkCountRange first).
QImage encodeHeightMap(ElevationModel const& model, double unitMetres);
