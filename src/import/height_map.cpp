#include "height_map.h"

#include "elevation_model.h"
#include "import_error.h"

#include <algorithm>
#include <cmath>

long long heightToCount(double metres, double unitMetres) { return std::llround(metres / unitMetres); }

long long smallestFittingUnitCm(double lowest, double highest) {
    double const centimetres = std::max(highest / largestCount, -lowest / -double(smallestCount)) * 100.0;
    long long unit = std::max(1LL, static_cast<long long>(std::ceil(centimetres)));
    // Rounding may still push an extreme over the edge at exactly that unit.
    while (heightToCount(highest, double(unit) / 100.0) > largestCount ||
           heightToCount(lowest, double(unit) / 100.0) < smallestCount)
        ++unit;
    return unit;
}

void checkCountRange(double lowest, double highest, double unitMetres) {
    long long const low = heightToCount(lowest, unitMetres);
    long long const high = heightToCount(highest, unitMetres);
    if (low >= smallestCount && high <= largestCount)
        return;
    throw inputError(QStringLiteral("Heights from %1 m to %2 m do not fit the height map's signed 24-bit counts at a "
                                    "count unit of %3 cm (%4 m to %5 m); choose a coarser unit, e.g. --unit-cm %6")
                         .arg(lowest, 0, 'f', 2)
                         .arg(highest, 0, 'f', 2)
                         .arg(unitMetres * 100.0)
                         .arg(smallestCount * unitMetres, 0, 'f', 2)
                         .arg(largestCount * unitMetres, 0, 'f', 2)
                         .arg(smallestFittingUnitCm(lowest, highest)));
}

QImage encodeHeightMap(ElevationModel const& model, double unitMetres) {
    QImage image(model.width, model.height, QImage::Format_RGB888);
    if (image.isNull())
        throw outputError(
            QStringLiteral("Not enough memory for a height map of %1 x %2 pixels").arg(model.width).arg(model.height));
    for (int row = 0; row < model.height; ++row) {
        uchar* out = image.scanLine(row);
        for (int column = 0; column < model.width; ++column) {
            auto const bits = static_cast<unsigned int>(heightToCount(model.at(column, row), unitMetres)) & 0xFFFFFFu;
            *out++ = static_cast<uchar>(bits >> 16);
            *out++ = static_cast<uchar>(bits >> 8);
            *out++ = static_cast<uchar>(bits);
        }
    }
    return image;
}
