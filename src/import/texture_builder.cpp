#include "texture_builder.h"

#include "coordinates.h"
#include "elevation_model.h"
#include "import_error.h"

#include <cpl_conv.h>
#include <cpl_vsi.h>
#include <gdal_utils.h>
#include <ogr_srs_api.h>

#include <QTextStream>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <numbers>

namespace {

constexpr uchar uncoveredGrey = 128;

// The model's extent in its own coordinates.
Box modelExtent(ElevationModel const& model) { return boxOf(model.geoTransform, model.width, model.height); }

// The image's extent in the elevation model's coordinates; false when it
// cannot be transformed.
bool imageBoxInModelCoordinates(DrapeImage const& image, ElevationModel const& model, Box& box) {
    int const width = GDALGetRasterXSize(image.source.get());
    int const height = GDALGetRasterYSize(image.source.get());
    box = boxOf(image.geoTransform, width, height);
    if (image.srsWkt.isEmpty() || model.srsWkt.isEmpty())
        return true;
    SpatialReference const from(image.srsWkt), to(placementWkt(model.srsWkt, modelExtent(model)));
    std::optional<Box> const moved = transformBox(box, from.handle(), to.handle());
    if (moved)
        box = *moved;
    return moved.has_value();
}

// Reduces the image to three 8-bit bands in a virtual dataset.
gdal::DatasetPtr threeByteBands(GDALDatasetH source, QString const& fileName) {
    int const bands = GDALGetRasterCount(source);
    GDALRasterBandH const first = GDALGetRasterBand(source, 1);
    gdal::ArgumentList arguments{"-of", "VRT"};
    // A colour table expands to RGB; a grey band stands for all three.
    char const* const bandChoice = bands >= 3                                  ? "-b 1 -b 2 -b 3"
                                   : GDALGetRasterColorTable(first) != nullptr ? "-b 1 -expand rgb"
                                                                               : "-b 1 -b 1 -b 1";
    for (QByteArray const& item : QByteArray(bandChoice).split(' '))
        arguments << item;
    if (GDALGetRasterDataType(first) != GDT_Byte) {
        // One range for all bands keeps the colours' balance.
        double low = HUGE_VAL, high = -HUGE_VAL;
        for (int band = 1; band <= std::min(bands, 3); ++band) {
            double range[2] = {0, 0};
            if (GDALComputeRasterMinMax(GDALGetRasterBand(source, band), TRUE, range) != CE_None)
                continue;
            low = std::min(low, range[0]);
            high = std::max(high, range[1]);
        }
        if (!(low <= high))
            low = 0, high = 255;
        if (!(high > low))
            high = low + 1;
        arguments << "-ot"
                  << "Byte"
                  << "-scale" << QByteArray::number(low, 'g', 17) << QByteArray::number(high, 'g', 17) << "0"
                  << "255";
    }
    GDALTranslateOptions* const options = GDALTranslateOptionsNew(arguments.data(), nullptr);
    int usageError = 0;
    gdal::DatasetPtr result(GDALTranslate("", source, options, &usageError));
    GDALTranslateOptionsFree(options);
    if (!result)
        throw inputError(QStringLiteral("Cannot convert %1 to an RGB image: %2")
                             .arg(quoted(fileName), gdal::lastError(QStringLiteral("GDAL failed"))));
    return result;
}

QImage newTexture(TextureLayout const& layout) {
    QImage image(static_cast<int>(layout.width), static_cast<int>(layout.height), QImage::Format_RGB888);
    if (image.isNull())
        throw outputError(
            QStringLiteral("Not enough memory for a texture of %1 x %2 texels").arg(layout.width).arg(layout.height));
    image.fill(QColor(uncoveredGrey, uncoveredGrey, uncoveredGrey));
    return image;
}

// Warps `source` into `target` (both georeferenced already) with bilinear resampling.
void warp(GDALDatasetH source, GDALDatasetH target, gdal::ArgumentList extra, QString const& what) {
    gdal::ArgumentList arguments = extra;
    arguments << "-r"
              << "bilinear";
    GDALWarpAppOptions* const options = GDALWarpAppOptionsNew(arguments.data(), nullptr);
    int usageError = 0;
    gdal::clearError();
    GDALDatasetH const result = GDALWarp(nullptr, target, 1, &source, options, &usageError);
    GDALWarpAppOptionsFree(options);
    if (!result)
        throw inputError(QStringLiteral("Cannot warp %1 onto the terrain: %2")
                             .arg(what, gdal::lastError(QStringLiteral("GDAL failed"))));
}

gdal::DatasetPtr wrapTexture(QImage& image) {
    gdal::DatasetPtr dataset =
        gdal::wrapBuffer(image.bits(), image.width(), image.height(), image.bytesPerLine(), 3, GDT_Byte);
    if (!dataset)
        throw outputError(QStringLiteral("Cannot set up the texture raster: %1").arg(gdal::lastError()));
    return dataset;
}

}  // namespace

TextureLayout layoutTexture(ElevationModel const& model, double texelsPerCell) {
    TextureLayout layout;
    double const finer = std::min(model.cellMetresX, model.cellMetresY);
    double const texelMetres = finer / texelsPerCell;
    double const width = std::max(1.0, std::round(model.width * model.cellMetresX / texelMetres));
    double const height = std::max(1.0, std::round(model.height * model.cellMetresY / texelMetres));
    // Sizes beyond what memory holds are refused by checkTextureMemory.
    layout.width = static_cast<qint64>(std::min(width, 1e18));
    layout.height = static_cast<qint64>(std::min(height, 1e18));
    layout.scaleX = width / model.width;
    layout.scaleY = height / model.height;
    layout.metresPerTexel =
        model.cellMetresX <= model.cellMetresY ? model.cellMetresX / layout.scaleX : model.cellMetresY / layout.scaleY;
    return layout;
}

void checkTextureMemory(TextureLayout const& layout, qint64 limit) {
    double const width = double(layout.width), height = double(layout.height);
    double const bytes = width * height * 4.0;
    if (bytes > double(limit))
        throw outputError(QStringLiteral("The texture of %1 x %2 texels would need %3 (width x height x 4 bytes), "
                                         "more than the limit of %4 (see --memory-limit); use fewer texels per cell")
                              .arg(qint64(width))
                              .arg(qint64(height))
                              .arg(formatBytes(bytes), formatBytes(double(limit))));
    if (width * 3.0 * 8.0 > double(INT_MAX - 31) || height >= double(INT_MAX))
        throw outputError(QStringLiteral("The texture of %1 x %2 texels is wider than an image can be; use fewer "
                                         "texels per cell")
                              .arg(qint64(width))
                              .arg(qint64(height)));
}

std::array<double, 6> textureGeoTransform(std::array<double, 6> const& cells, double cellsX, double cellsY,
                                          double texelsX, double texelsY) {
    return {cells[0] + cells[1] / 2,    cells[1] * cellsX / texelsX, 0.0, cells[3] - cells[5] / 2, 0.0,
            cells[5] * cellsY / texelsY};
}

DrapeImage openDrapeImage(QString const& fileName, ElevationModel const& model, QTextStream& log) {
    DrapeImage image;
    image.fileName = fileName;
    image.source = gdal::openRaster(fileName);
    if (!image.source)
        throw inputError(QStringLiteral("Cannot read the texture image %1: %2")
                             .arg(quoted(fileName), gdal::lastError(QStringLiteral("no such file or not an image"))));
    if (GDALGetRasterCount(image.source.get()) < 1)
        throw inputError(QStringLiteral("The texture image %1 contains no raster band").arg(quoted(fileName)));

    double gt[6];
    image.georeferenced = GDALGetGeoTransform(image.source.get(), gt) == CE_None;
    if (image.georeferenced)
        std::copy(gt, gt + 6, image.geoTransform.begin());
    if (OGRSpatialReferenceH const srs = GDALGetSpatialRef(image.source.get())) {
        char* wkt = nullptr;
        if (OSRExportToWkt(srs, &wkt) == OGRERR_NONE && wkt)
            image.srsWkt = wkt;
        CPLFree(wkt);
    }

    image.stretched = !image.georeferenced || !model.georeferenced;
    if (image.stretched) {
        log << QStringLiteral("Note: %1 lacks georeferencing; the image is stretched over the whole terrain.\n")
                   .arg(image.georeferenced ? QStringLiteral("the elevation model") : quoted(fileName));
    } else {
        // The part of the terrain that has heights: from the first cell centre to the last.
        auto const& g = model.geoTransform;
        Box const terrain =
            boxOf({g[0] + g[1] / 2, g[1], 0.0, g[3] + g[5] / 2, 0.0, g[5]}, model.width - 1, model.height - 1);
        Box picture{};
        if (!imageBoxInModelCoordinates(image, model, picture))
            throw inputError(QStringLiteral("Cannot transform the texture image %1 into the elevation model's "
                                            "coordinate system: %2")
                                 .arg(quoted(fileName), gdal::lastError(QStringLiteral("unknown error"))));
        double const covered = intersection(terrain, picture).area() / terrain.area();
        if (!(covered > 0))
            throw inputError(QStringLiteral("The texture image %1 does not overlap the elevation model: the image "
                                            "covers %2, the terrain %3 (in the elevation model's coordinates)")
                                 .arg(quoted(fileName), describe(picture), describe(terrain)));
        if (covered < 0.999)
            log << QStringLiteral("Warning: the texture image covers only %1 % of the terrain; the rest stays grey.\n")
                       .arg(covered * 100.0, 0, 'f', 1);
    }
    image.rgb = threeByteBands(image.source.get(), fileName);
    return image;
}

QImage drapeTexture(DrapeImage& image, ElevationModel const& model, TextureLayout const& layout) {
    QImage texture = newTexture(layout);
    if (image.stretched) {
        GDALRasterIOExtraArg extra;
        INIT_RASTERIO_EXTRA_ARG(extra);
        extra.eResampleAlg = GRIORA_Bilinear;
        int const width = GDALGetRasterXSize(image.rgb.get()), height = GDALGetRasterYSize(image.rgb.get());
        if (GDALDatasetRasterIOEx(image.rgb.get(), GF_Read, 0, 0, width, height, texture.bits(), texture.width(),
                                  texture.height(), GDT_Byte, 3, nullptr, 3, texture.bytesPerLine(), 1,
                                  &extra) != CE_None)
            throw inputError(QStringLiteral("Cannot read the texture image %1: %2")
                                 .arg(quoted(image.fileName), gdal::lastError(QStringLiteral("read error"))));
        return texture;
    }
    gdal::DatasetPtr const target = wrapTexture(texture);
    std::array<double, 6> gt =
        textureGeoTransform(model.geoTransform, model.width, model.height, double(layout.width), double(layout.height));
    GDALSetGeoTransform(target.get(), gt.data());
    // A side without a coordinate system is taken to share the other's.
    QByteArray const targetWkt = model.srsWkt.isEmpty() ? image.srsWkt : placementWkt(model.srsWkt, modelExtent(model));
    if (!targetWkt.isEmpty())
        GDALSetProjection(target.get(), targetWkt.constData());
    gdal::ArgumentList extra;
    if (image.srsWkt.isEmpty() && !targetWkt.isEmpty())
        extra << "-s_srs" << targetWkt;
    warp(image.rgb.get(), target.get(), extra, quoted(image.fileName));
    return texture;
}

namespace {

// Runs one of GDAL's DEM tools on the height raster.
gdal::DatasetPtr demProcessing(GDALDatasetH heights, char const* what, char const* colourFile,
                               gdal::ArgumentList arguments) {
    GDALDEMProcessingOptions* const options = GDALDEMProcessingOptionsNew(arguments.data(), nullptr);
    int usageError = 0;
    gdal::clearError();
    gdal::DatasetPtr result(GDALDEMProcessing("", heights, what, colourFile, options, &usageError));
    GDALDEMProcessingOptionsFree(options);
    if (!result)
        throw outputError(QStringLiteral("GDAL's %1 failed: %2")
                              .arg(QLatin1String(what), gdal::lastError(QStringLiteral("unknown error"))));
    return result;
}

// The hypsometric tint from the lowest to the highest cell, through GDAL's
// colour relief with a colour table in GDAL's memory file system.
gdal::DatasetPtr tintByHeight(GDALDatasetH heights, ElevationModel const& model, std::optional<double> seaLevel) {
    struct Stop {
        double at;
        int r, g, b;
    };
    static constexpr Stop land[] = {
        {0.00, 92, 138, 72}, {0.22, 128, 158, 84}, {0.45, 186, 172, 108}, {0.70, 168, 136, 96}, {1.00, 214, 206, 192}};
    // From the deepest cell to just below the shore.
    static constexpr Stop sea[] = {{0.00, 18, 42, 96}, {0.60, 46, 96, 160}, {1.00, 128, 178, 214}};
    QByteArray table;
    auto add = [&table](double height, Stop const& stop) {
        table += QByteArray::number(height, 'f', 6) + ' ' + QByteArray::number(stop.r) + ' ' +
                 QByteArray::number(stop.g) + ' ' + QByteArray::number(stop.b) + '\n';
    };
    bool const underwater = seaLevel && model.minimum < *seaLevel;
    if (underwater) {
        double const depth = *seaLevel - model.minimum;
        for (Stop const& stop : sea)
            add(model.minimum + stop.at * depth - (stop.at == 1.0 ? 1e-3 : 0.0), stop);
    }
    double const shore = underwater ? *seaLevel : model.minimum;
    double const span = std::max(model.maximum - shore, 1e-3);
    for (Stop const& stop : land)
        add(shore + stop.at * span, stop);
    static std::atomic<int> serial{0};
    QByteArray const tableName = "/vsimem/avimport-colours-" + QByteArray::number(++serial) + ".txt";
    VSILFILE* const file = VSIFOpenL(tableName.constData(), "wb");
    if (!file)
        throw outputError(QStringLiteral("Cannot write GDAL's colour table"));
    VSIFWriteL(table.constData(), 1, static_cast<size_t>(table.size()), file);
    VSIFCloseL(file);
    gdal::DatasetPtr colour;
    try {
        colour = demProcessing(heights, "color-relief", tableName.constData(), {"-of", "MEM"});
    } catch (...) {
        VSIUnlink(tableName.constData());
        throw;
    }
    VSIUnlink(tableName.constData());
    return colour;
}

// The tint with the hill shading multiplied in: level ground keeps its tint,
// slopes facing the light get brighter, slopes facing away down to half, as
// does ground in the terrain's shadow (`sunlit`, per cell, when given).
std::vector<uchar> shadedTint(GDALDatasetH shade, GDALDatasetH colour, int width, int height, double altitude,
                              std::vector<float> const& sunlit) {
    std::vector<uchar> light(static_cast<std::size_t>(width) * height);
    std::vector<uchar> rgb(light.size() * 3);
    if (GDALRasterIO(GDALGetRasterBand(shade, 1), GF_Read, 0, 0, width, height, light.data(), width, height, GDT_Byte,
                     0, 0) != CE_None ||
        GDALDatasetRasterIO(colour, GF_Read, 0, 0, width, height, rgb.data(), width, height, GDT_Byte, 3, nullptr, 3,
                            width * 3, 1) != CE_None)
        throw outputError(QStringLiteral("Cannot read GDAL's relief rasters: %1").arg(gdal::lastError()));
    double const level = std::sin(altitude * std::numbers::pi / 180.0);
    for (std::size_t i = 0; i < light.size(); ++i) {
        double const shading = light[i] > 0 ? (light[i] - 1) / 254.0 : level;
        double const factor = 0.5 + 0.5 * shading / level * (sunlit.empty() ? 1.0 : double(sunlit[i]));
        for (int k = 0; k < 3; ++k) {
            double const value = std::round(rgb[i * 3 + k] * factor);
            rgb[i * 3 + k] = static_cast<uchar>(std::clamp(value, 0.0, 255.0));
        }
    }
    return rgb;
}

}  // namespace

QImage reliefTexture(ElevationModel const& model, TextureLayout const& layout, double exaggeration,
                     ReliefStyle const& style) {
    SunPosition const& light = style.light;
    std::vector<float> const& sunlit = style.sunlit;
    // The heights with one more row in the north and one more column in the
    // east (copies of the edge), so the texture's half-cell overhang there
    // has data to interpolate from.
    int const width = model.width + 1, height = model.height + 1;
    std::vector<double> padded(static_cast<std::size_t>(width) * height);
    std::vector<float> paddedSunlit(sunlit.empty() ? 0 : padded.size());
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            std::size_t const cell =
                std::size_t(std::max(row - 1, 0)) * model.width + std::min(column, model.width - 1);
            padded[static_cast<std::size_t>(row) * width + column] = model.metres[cell];
            if (!sunlit.empty())
                paddedSunlit[static_cast<std::size_t>(row) * width + column] = sunlit[cell];
        }
    gdal::DatasetPtr const heights =
        gdal::wrapBuffer(padded.data(), width, height, qsizetype(width) * 8, 1, GDT_Float64);
    if (!heights)
        throw outputError(QStringLiteral("Cannot set up the height raster: %1").arg(gdal::lastError()));
    // Metric cells, so that the shading's slopes come out right for geographic models too.
    double metricGt[6] = {0.0, model.cellMetresX, 0.0, 0.0, 0.0, -model.cellMetresY};
    GDALSetGeoTransform(heights.get(), metricGt);

    gdal::DatasetPtr const shade = demProcessing(heights.get(), "hillshade", nullptr,
                                                 {"-of", "MEM", "-az", QByteArray::number(light.azimuth, 'g', 10),
                                                  "-alt", QByteArray::number(light.elevation, 'g', 10), "-z",
                                                  QByteArray::number(exaggeration, 'g', 10), "-compute_edges"});
    gdal::DatasetPtr const colour = tintByHeight(heights.get(), model, style.seaLevel);
    std::vector<uchar> rgb = shadedTint(shade.get(), colour.get(), width, height, light.elevation, paddedSunlit);

    gdal::DatasetPtr const source = gdal::wrapBuffer(rgb.data(), width, height, qsizetype(width) * 3, 3, GDT_Byte);
    if (!source)
        throw outputError(QStringLiteral("Cannot set up the relief raster: %1").arg(gdal::lastError()));
    // Both in cell units: the padded raster starts one row north of row 0.
    double sourceGt[6] = {0.0, 1.0, 0.0, 1.0, 0.0, -1.0};
    GDALSetGeoTransform(source.get(), sourceGt);
    QImage texture = newTexture(layout);
    gdal::DatasetPtr const target = wrapTexture(texture);
    std::array<double, 6> gt = textureGeoTransform({0.0, 1.0, 0.0, 0.0, 0.0, -1.0}, model.width, model.height,
                                                   double(layout.width), double(layout.height));
    GDALSetGeoTransform(target.get(), gt.data());
    warp(source.get(), target.get(), {}, QStringLiteral("the relief"));
    return texture;
}
