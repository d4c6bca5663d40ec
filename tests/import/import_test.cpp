// AVImport on rasters of several formats: heights, scales, texture and
// scenery; its refusals, its command line and exit codes, and the whole path
// from a raster to a rendered video.
#include "elevation_model.h"
#include "import_error.h"
#include "importer.h"
#include "scenery_delegate.h"
#include "scenery_writer.h"
#include "test_support.h"

#include <gdal.h>
#include <ogr_srs_api.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTextStream>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <numbers>
#include <optional>
#include <vector>

namespace {

using HeightFunction = std::function<double(int column, int row)>;
using GeoTransform = std::array<double, 6>;

// A raster written through GDAL (GeoTIFF unless the driver says otherwise)
// with value(column, row, band) in each band, georeferencing (none when gt is
// empty) and coordinate system (EPSG code, 0 for none); cells equal to
// `nodata` are marked missing.
void writeBands(QString const& path, int width, int height, int bands,
                std::function<double(int, int, int)> const& value, std::optional<GeoTransform> gt, int epsg,
                std::optional<double> nodata = std::nullopt, char const* driver = "GTiff",
                GDALDataType type = GDT_Float64) {
    GDALAllRegister();
    GDALDatasetH const memory = GDALCreate(GDALGetDriverByName("MEM"), "", width, height, bands, type, nullptr);
    ASSERT_NE(memory, nullptr);
    std::vector<double> values(static_cast<std::size_t>(width) * height);
    for (int band = 1; band <= bands; ++band) {
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column)
                values[static_cast<std::size_t>(row) * width + column] = value(column, row, band);
        GDALRasterBandH const handle = GDALGetRasterBand(memory, band);
        ASSERT_EQ(GDALRasterIO(handle, GF_Write, 0, 0, width, height, values.data(), width, height, GDT_Float64, 0, 0),
                  CE_None);
        if (nodata)
            GDALSetRasterNoDataValue(handle, *nodata);
        if (bands == 3)
            GDALSetRasterColorInterpretation(handle, static_cast<GDALColorInterp>(GCI_RedBand + band - 1));
    }
    if (gt)
        GDALSetGeoTransform(memory, gt->data());
    if (epsg != 0) {
        OGRSpatialReferenceH const srs = OSRNewSpatialReference(nullptr);
        ASSERT_EQ(OSRImportFromEPSG(srs, epsg), OGRERR_NONE);
        GDALSetSpatialRef(memory, srs);
        OSRDestroySpatialReference(srs);
    }
    GDALDatasetH const file = GDALCreateCopy(GDALGetDriverByName(driver), path.toUtf8().constData(), memory, FALSE,
                                             nullptr, nullptr, nullptr);
    ASSERT_NE(file, nullptr) << CPLGetLastErrorMsg();
    GDALClose(file);
    GDALClose(memory);
}

// A one-band raster of the heights.
void writeRaster(QString const& path, int width, int height, HeightFunction const& heights,
                 std::optional<GeoTransform> const& gt, int epsg, std::optional<double> nodata = std::nullopt,
                 char const* driver = "GTiff", GDALDataType type = GDT_Float64) {
    writeBands(
        path, width, height, 1, [&](int column, int row, int) { return heights(column, row); }, gt, epsg, nodata,
        driver, type);
}

// A three-band 8-bit GeoTIFF whose texel (column, row) has colour(column, row).
void writeRgbImage(QString const& path, int width, int height, std::function<QRgb(int, int)> const& colour,
                   GeoTransform const& gt, int epsg) {
    auto channel = [&](int column, int row, int band) {
        QRgb const c = colour(column, row);
        return double(band == 1 ? qRed(c) : band == 2 ? qGreen(c) : qBlue(c));
    };
    writeBands(path, width, height, 3, channel, gt, epsg, std::nullopt, "GTiff", GDT_Byte);
}

// A netCDF file with two 2-D variables: a container without bands of its
// own, its rasters listed as subdatasets.
void writeTwoVariableNetcdf(QString const& path) {
    GDALAllRegister();
    GDALDatasetH const file =
        GDALCreateMultiDimensional(GDALGetDriverByName("netCDF"), path.toUtf8().constData(), nullptr, nullptr);
    ASSERT_NE(file, nullptr) << CPLGetLastErrorMsg();
    GDALGroupH const root = GDALDatasetGetRootGroup(file);
    GDALDimensionH dimensions[2] = {GDALGroupCreateDimension(root, "y", nullptr, nullptr, 3, nullptr),
                                    GDALGroupCreateDimension(root, "x", nullptr, nullptr, 4, nullptr)};
    GDALExtendedDataTypeH const type = GDALExtendedDataTypeCreate(GDT_Float32);
    for (char const* name : {"a", "b"})
        GDALMDArrayRelease(GDALGroupCreateMDArray(root, name, 2, dimensions, type, nullptr));
    GDALExtendedDataTypeRelease(type);
    GDALDimensionRelease(dimensions[0]);
    GDALDimensionRelease(dimensions[1]);
    GDALGroupRelease(root);
    GDALClose(file);
}

// An SRTM tile: size x size big-endian int16 values, rows from the north.
void writeHgt(QString const& path, int size, HeightFunction const& heights) {
    QByteArray bytes;
    for (int row = 0; row < size; ++row)
        for (int column = 0; column < size; ++column) {
            auto const value = static_cast<quint16>(static_cast<qint16>(heights(column, row)));
            bytes.append(static_cast<char>(value >> 8)).append(static_cast<char>(value & 0xFF));
        }
    testsupport::writeFile(path, bytes);
}

// What an import did: its result, or the exit code and message of its refusal.
struct Imported {
    std::optional<ImportResult> result;
    int code = 0;
    QString message;
    QString log;
};

Imported runImporter(ImportOptions const& options) {
    Imported imported;
    QTextStream stream(&imported.log);
    try {
        imported.result = runImport(options, stream);
    } catch (ImportError const& error) {
        imported.code = static_cast<int>(error.code());
        imported.message = error.message();
    }
    stream.flush();
    return imported;
}

// The result of an import that must succeed, and its log.
std::optional<ImportResult> import(ImportOptions const& options, QString* log = nullptr) {
    Imported imported = runImporter(options);
    EXPECT_TRUE(imported.result) << imported.code << ": " << imported.message.toStdString();
    if (log)
        *log = imported.log;
    return imported.result;
}

// The scenery as AVRender reads it; fails the test when it is not accepted.
std::unique_ptr<SceneryData> readScenery(QString const& path) {
    QString logText;
    QTextStream log(&logText);
    SceneryDelegate delegate(log, false);
    bool const accepted = delegate.open(path);
    EXPECT_TRUE(accepted) << delegate.errorString().toStdString();
    EXPECT_TRUE(logText.isEmpty()) << logText.toStdString();
    return accepted ? std::make_unique<SceneryData>(*delegate.parameters) : nullptr;
}

// The signed 24-bit count of height-map pixel (column, row).
int countAt(QImage const& heightMap, int column, int row) {
    int const raw = static_cast<int>(heightMap.pixel(column, row) & 0xFFFFFFu);
    return raw >= 0x800000 ? raw - 0x1000000 : raw;
}

testsupport::ProcessResult runAVImport(QStringList const& arguments, QString const& workingDir = QString()) {
    return testsupport::runProgram(arguments, workingDir, 120000, QStringLiteral(AVIMPORT_EXE));
}

// Metres per degree on WGS 84 from the usual cosine series, independent of
// the ellipsoid formulas of the importer.
double metresPerDegreeLongitude(double latitude) {
    double const p = latitude * std::numbers::pi / 180;
    return 111412.84 * std::cos(p) - 93.5 * std::cos(3 * p) + 0.118 * std::cos(5 * p);
}
double metresPerDegreeLatitude(double latitude) {
    double const p = latitude * std::numbers::pi / 180;
    return 111132.954 - 559.822 * std::cos(2 * p) + 1.175 * std::cos(4 * p) - 0.0023 * std::cos(6 * p);
}

double utmHeight(int column, int row) {
    return 300.0 + 2.5 * column - 1.7 * row + 40.0 * std::sin(column * row / 50.0);
}

GeoTransform const utmPlacement{500000.0, 30.0, 0.0, 4000000.0, 0.0, -30.0};

// Every height-map pixel, turned back into metres through the scenery's
// scales, equals the input height within the count unit.
void expectHeights(ImportResult const& result, SceneryData const& scenery, HeightFunction const& input,
                   double metresPerTexel, double exaggeration, double unitMetres,
                   std::function<bool(int, int)> const& skip = {}) {
    QImage const map(result.heightMapFile);
    ASSERT_EQ(map.size(), QSize(result.cellsX, result.cellsY));
    EXPECT_FALSE(map.hasAlphaChannel());
    EXPECT_EQ(scenery.zScaleStart, scenery.zScaleEnd);
    for (int row = 0; row < map.height(); ++row)
        for (int column = 0; column < map.width(); ++column) {
            if (skip && skip(column, row))
                continue;
            double const metres = countAt(map, column, row) * scenery.zScaleStart * metresPerTexel / exaggeration;
            ASSERT_NEAR(metres, input(column, row), unitMetres) << "cell " << column << ", " << row;
        }
}

struct ImportTest : ::testing::Test {
    std::unique_ptr<QTemporaryDir> dir = testsupport::makeTempDir();
    QString path(QString const& name) const { return dir->filePath(name); }
    // Options importing the file into the output folder; "utm.tif" is written first.
    ImportOptions options(QString const& input, QString const& output = QStringLiteral("out")) {
        if (input == QLatin1String("utm.tif"))
            writeRaster(path(input), 40, 30, utmHeight, utmPlacement, 32617);
        ImportOptions o;
        o.elevationFile = path(input);
        o.outputFolder = path(output);
        return o;
    }
};

TEST_F(ImportTest, ProjectedGeoTiffInMetres) {
    auto const result = import(options("utm.tif"));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->cellMetresX, 30.0);
    EXPECT_EQ(result->cellMetresY, 30.0);
    auto const scenery = readScenery(path("out/scenery.avs"));
    ASSERT_TRUE(scenery);
    EXPECT_EQ(scenery->elevationScaleX, 4.0);
    EXPECT_EQ(scenery->elevationScaleY, 4.0);
    EXPECT_NEAR(scenery->zScaleStart, 0.01 / 7.5, 1e-12);
    expectHeights(*result, *scenery, utmHeight, 30.0 / 4, 1.0, 0.01);
    EXPECT_EQ(QImage(result->textureFile).size(), QSize(160, 120));

    // The flight: east along the middle (the longer axis), above the highest point.
    double const highest = (300.0 + 2.5 * 39 + 40.0) / 7.5;
    EXPECT_EQ(scenery->headingStart, 90.0);
    EXPECT_EQ(scenery->headingEnd, 90.0);
    EXPECT_EQ(scenery->observerYStart, 60.0);
    EXPECT_GT(scenery->observerZStart, highest);
    EXPECT_EQ(scenery->observerZStart, scenery->observerZEnd);
    EXPECT_GE(scenery->observerXStart, 0.0);
    EXPECT_GT(scenery->observerXEnd, scenery->observerXStart);
    EXPECT_LE(scenery->observerXEnd, 160.0);
    EXPECT_LT(scenery->tiltStart, 0.0);  // looking down at the terrain

    // The count unit and the exaggeration set the vertical scale.
    ImportOptions scaled = options("utm.tif", "scaled");
    scaled.unitCm = 10;
    scaled.exaggeration = 2.5;
    scaled.texelsPerCell = 3;
    auto const scaledResult = import(scaled);
    ASSERT_TRUE(scaledResult);
    auto const scaledScenery = readScenery(scaledResult->sceneryFile);
    ASSERT_TRUE(scaledScenery);
    EXPECT_EQ(scaledScenery->elevationScaleX, 3.0);
    EXPECT_NEAR(scaledScenery->zScaleStart, 0.1 / 10.0 * 2.5, 1e-12);
    expectHeights(*scaledResult, *scaledScenery, utmHeight, 30.0 / 3, 2.5, 0.1);
    EXPECT_EQ(QImage(scaledResult->textureFile).size(), QSize(120, 90));
}

TEST_F(ImportTest, GeographicGeoTiffGetsMetresAtItsLatitude) {
    // 60 x 40 cells of one arc-second from 45.02 degrees north.
    double const second = 1.0 / 3600;
    auto heights = [](int column, int row) { return 1500.0 + 3.0 * column + 2.0 * row; };
    writeRaster(path("geo.tif"), 60, 40, heights, GeoTransform{7.0, second, 0, 45.02, 0, -second}, 4326);
    QString log;
    auto const result = import(options("geo.tif"), &log);
    ASSERT_TRUE(result);

    double const latitude = 45.02 - 20 * second;
    double const cellX = second * metresPerDegreeLongitude(latitude);
    double const cellY = second * metresPerDegreeLatitude(latitude);
    EXPECT_NEAR(result->cellMetresX, cellX, cellX * 1e-6);
    EXPECT_NEAR(result->cellMetresY, cellY, cellY * 1e-6);
    EXPECT_TRUE(log.contains(QStringLiteral("centre latitude 45.0144"))) << log.toStdString();

    // East-west cells are the finer ones: 4 texels each; north-south as many as keep texels square.
    auto const scenery = readScenery(result->sceneryFile);
    ASSERT_TRUE(scenery);
    int const texelsY = static_cast<int>(std::lround(40 * 4 * cellY / cellX));
    EXPECT_EQ(scenery->elevationScaleX, 4.0);
    EXPECT_NEAR(scenery->elevationScaleY, texelsY / 40.0, 1e-9);
    EXPECT_EQ(QImage(result->textureFile).size(), QSize(240, texelsY));
    EXPECT_NEAR(cellY / scenery->elevationScaleY, cellX / 4, cellX / 4 / texelsY);
    expectHeights(*result, *scenery, heights, cellX / 4, 1.0, 0.01);
}

TEST_F(ImportTest, SrtmTileWithVoids) {
    // A 3 arc-second tile; a block of voids (-32768) is filled from around it.
    auto inVoid = [](int column, int row) { return row >= 500 && row < 510 && column >= 600 && column < 620; };
    auto heights = [&](int column, int row) {
        return inVoid(column, row) ? -32768.0
                                   : std::round(1000.0 + 300.0 * std::sin(column / 100.0) * std::cos(row / 150.0));
    };
    writeHgt(path("N36W084.hgt"), 1201, heights);
    ImportOptions options;
    options.elevationFile = path("N36W084.hgt");
    options.texelsPerCell = 1;
    // Without an output folder the import goes to one named after the tile.
    QString const previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir->path()));
    auto const result = import(options);
    QDir::setCurrent(previous);
    ASSERT_TRUE(result);
    EXPECT_EQ(QFileInfo(result->outputFolder).fileName(), QStringLiteral("N36W084"));
    EXPECT_EQ(result->filledCells, 200);

    double const cellX = 3.0 / 3600 * metresPerDegreeLongitude(36.5);
    double const cellY = 3.0 / 3600 * metresPerDegreeLatitude(36.5);
    EXPECT_NEAR(result->cellMetresX, cellX, cellX * 1e-6);
    EXPECT_NEAR(result->cellMetresY, cellY, cellY * 1e-6);
    auto const scenery = readScenery(result->sceneryFile);
    ASSERT_TRUE(scenery);
    expectHeights(*result, *scenery, heights, cellX / scenery->elevationScaleX, 1.0, 0.01, inVoid);
}

TEST_F(ImportTest, SixteenBitPngNeedsAPixelSize) {
    auto heights = [](int column, int row) { return 100.0 + 7.0 * column + 3.0 * row; };
    writeRaster(path("dem.png"), 30, 20, heights, std::nullopt, 0, std::nullopt, "PNG", GDT_UInt16);
    ImportOptions png = options("dem.png");
    Imported const failure = runImporter(png);
    EXPECT_EQ(failure.code, 2);
    EXPECT_TRUE(failure.message.contains(QStringLiteral("--pixel-size"))) << failure.message.toStdString();

    png.pixelSizeX = png.pixelSizeY = 10.0;
    auto const result = import(png);
    ASSERT_TRUE(result);
    auto const scenery = readScenery(result->sceneryFile);
    ASSERT_TRUE(scenery);
    expectHeights(*result, *scenery, heights, 10.0 / 4, 1.0, 0.01);
    EXPECT_EQ(QImage(result->textureFile).size(), QSize(120, 80));
}

TEST_F(ImportTest, AsciiGridNodataIsFilled) {
    auto heights = [](int column, int row) {
        if ((column >= 4 && column <= 6 && row >= 5 && row <= 7) || (column == 0 && row == 0))
            return -9999.0;
        return 50.0 + column * column - 2.0 * row;
    };
    writeRaster(path("grid.asc"), 12, 10, heights, GeoTransform{1000, 25, 0, 2000, 0, -25}, 0, -9999.0, "AAIGrid");
    auto const result = import(options("grid.asc"));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->filledCells, 10);
    EXPECT_EQ(result->cellMetresX, 25.0);
    QImage const map(result->heightMapFile);
    EXPECT_NEAR(countAt(map, 11, 9) * 0.01, 50.0 + 121 - 18, 0.01);
    EXPECT_GE(countAt(map, 0, 0) * 0.01, 50.0 + 0 - 2 - 0.01);  // within its neighbours
    EXPECT_LE(countAt(map, 0, 0) * 0.01, 50.0 + 1 + 0.01);
}

TEST(FillNodata, FillsOutwardWithinTheKnownRange) {
    // 7 x 7 ramp with a 5 x 5 hole in the middle.
    std::vector<double> values(49);
    std::vector<unsigned char> valid(49, 1);
    for (int i = 0; i < 49; ++i) {
        int const row = i / 7, column = i % 7;
        values[i] = 10.0 * column + row;
        if (row >= 1 && row <= 5 && column >= 1 && column <= 5) {
            valid[i] = 0;
            values[i] = -1e30;
        }
    }
    EXPECT_EQ(fillNodata(values, valid, 7, 7), 25);
    for (int i = 0; i < 49; ++i) {
        EXPECT_EQ(valid[i], 1);
        EXPECT_GE(values[i], 0.0);
        EXPECT_LE(values[i], 66.0);
    }
    // Symmetric ring, symmetric fill: the centre gets the ring's mean.
    EXPECT_NEAR(values[3 * 7 + 3], 33.0, 1e-9);

    std::vector<unsigned char> none(4, 0);
    std::vector<double> four(4, 0.0);
    EXPECT_EQ(fillNodata(four, none, 2, 2), -1);
    std::vector<unsigned char> all(4, 1);
    EXPECT_EQ(fillNodata(four, all, 2, 2), 0);
}

TEST_F(ImportTest, OrthophotoIsPlacedByCoordinates) {
    // 5 m pixels reaching 100 m beyond the model on every side; red grows
    // eastwards and green southwards, linearly in the pixel index.
    writeRgbImage(
        path("ortho.tif"), 280, 220, [](int column, int row) { return qRgb(column * 255 / 279, row * 255 / 219, 77); },
        GeoTransform{499900, 5, 0, 4000100, 0, -5}, 32617);
    ImportOptions o = options("utm.tif");
    o.textureImage = path("ortho.tif");
    QString log;
    auto const result = import(o, &log);
    ASSERT_TRUE(result);
    EXPECT_FALSE(log.contains(QStringLiteral("covers only"))) << log.toStdString();
    QImage const texture(result->textureFile);
    ASSERT_EQ(texture.size(), QSize(160, 120));
    // Texel centres lie half a cell east and north of the raster's corner.
    for (int v = 0; v < 120; v += 7)
        for (int u = 0; u < 160; u += 9) {
            double const easting = 500000 + 15 + (u + 0.5) * 7.5;
            double const northing = 4000000 + 15 - (v + 0.5) * 7.5;
            double const column = (easting - 499900) / 5 - 0.5, row = (4000100 - northing) / 5 - 0.5;
            QRgb const texel = texture.pixel(u, v);
            EXPECT_NEAR(qRed(texel), column * 255 / 279, 1.5) << u << ", " << v;
            EXPECT_NEAR(qGreen(texel), row * 255 / 219, 1.5) << u << ", " << v;
            EXPECT_EQ(qBlue(texel), 77);
        }
}

TEST_F(ImportTest, OrthophotoInAnotherCoordinateSystemIsReprojectedOrPartlyGrey) {
    // Longitude/latitude pixels around 81 W, 36.1 N, where the model lies.
    writeRgbImage(
        path("wgs.tif"), 200, 150, [](int, int) { return qRgb(10, 200, 30); },
        GeoTransform{-81.1, 0.001, 0, 36.2, 0, -0.001}, 4326);
    // Covers only the western half of the model.
    writeRgbImage(
        path("half.tif"), 60, 90, [](int, int) { return qRgb(200, 0, 0); },
        GeoTransform{499900, 10, 0, 4000100, 0, -10}, 32617);
    ImportOptions o = options("utm.tif");
    for (char const* image : {"wgs.tif", "half.tif"}) {
        SCOPED_TRACE(image);
        o.textureImage = path(QLatin1String(image));
        QString log;
        auto const result = import(o, &log);
        ASSERT_TRUE(result);
        bool const half = image == QLatin1String("half.tif");
        EXPECT_EQ(log.contains(QStringLiteral("covers only")), half) << log.toStdString();
        QImage const texture(result->textureFile);
        ASSERT_EQ(texture.size(), QSize(160, 120));
        EXPECT_EQ(texture.pixel(10, 60) & 0xFFFFFFu, half ? 0xC80000u : 0x0AC81Eu);
        EXPECT_EQ(texture.pixel(150, 60) & 0xFFFFFFu, half ? 0x808080u : 0x0AC81Eu);
        EXPECT_EQ(texture.pixel(0, 0) & 0xFFFFFFu, half ? 0xC80000u : 0x0AC81Eu);
        EXPECT_EQ(texture.pixel(159, 119) & 0xFFFFFFu, half ? 0x808080u : 0x0AC81Eu);
    }
}

TEST_F(ImportTest, ReliefTextureFollowsTheHeights) {
    // A ridge running north-south: its western flank faces the light.
    writeRaster(
        path("ridge.tif"), 41, 30, [](int column, int) { return 500.0 - 10.0 * std::abs(column - 20); }, utmPlacement,
        32617);
    auto const result = import(options("ridge.tif"));
    ASSERT_TRUE(result);
    QImage const texture(result->textureFile);
    ASSERT_EQ(texture.size(), QSize(164, 120));
    auto brightness = [&](int u) { return qGray(texture.pixel(u, 60)); };
    EXPECT_GT(brightness(40), brightness(120));  // lit western flank vs. shaded eastern one
    // Low ground is tinted green, the crest lighter and browner.
    EXPECT_GT(qGreen(texture.pixel(2, 60)), qRed(texture.pixel(2, 60)));
    EXPECT_GT(qRed(texture.pixel(82, 60)), qRed(texture.pixel(2, 60)));
}

TEST(PlainDecimal, NeverUsesAnExponent) {
    EXPECT_EQ(plainDecimal(4), QStringLiteral("4"));
    EXPECT_EQ(plainDecimal(0.0013333333333333), QStringLiteral("0.001333333333"));
    EXPECT_EQ(plainDecimal(0.0000012345), QStringLiteral("0.0000012345"));
    EXPECT_EQ(plainDecimal(-20), QStringLiteral("-20"));
    EXPECT_EQ(plainDecimal(123456789012.0), QStringLiteral("123456789012"));
    EXPECT_EQ(plainDecimal(-0.0), QStringLiteral("0"));
}

// The whole path a user takes: AVImport into a folder named after the input,
// then AVRender on the scenery it wrote, with a video: the 48 PNG frames the
// README promises, into frames/; ffprobe confirms frame count, size and codec.
TEST_F(ImportTest, ImportRenderVideoEndToEnd) {
    writeRaster(path("valley.tif"), 40, 30, utmHeight, utmPlacement, 32617);
    auto const imported = runAVImport({"valley.tif", "--frame-size", "160x120"}, dir->path());
    ASSERT_EQ(imported.exitCode, 0) << imported.standardError.toStdString();
    EXPECT_TRUE(imported.standardOutput.isEmpty());
    auto const render = testsupport::runProgram({"-q", "-i", "scenery.avs", "--video", "valley.mp4", "--fps", "12"},
                                                path("valley"), 300000);
    ASSERT_EQ(render.exitCode, 0) << render.standardError.toStdString();
    EXPECT_EQ(QDir(path("valley/frames")).entryList(QDir::Files).size(), 48);
    // The starter flight looks at the terrain, not past it.
    QImage const frame(path("valley/frames/frame0024.png"));
    ASSERT_EQ(frame.size(), QSize(160, 120));
    int terrain = 0;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            terrain += (frame.pixel(x, y) & 0xFFFFFFu) != 0 ? 1 : 0;
    EXPECT_GT(terrain, frame.width() * frame.height() / 4) << "the camera sees too little terrain";

    auto const probe = testsupport::runProgram(
        {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
         "stream=codec_name,width,height,nb_read_frames", "-of", "default=nw=1", path("valley/valley.mp4")},
        {}, 60000, "ffprobe");
    EXPECT_EQ(probe.standardOutput, "codec_name=h264\nwidth=160\nheight=120\nnb_read_frames=48\n");
}

// Every refusal has its exit code and names its cause, and nothing is written.
TEST_F(ImportTest, RefusalsNameTheirCauseAndWriteNothing) {
    writeRaster(
        path("dem.tif"), 20, 10, [](int column, int row) { return 10.0 * column + row; }, utmPlacement, 32617);
    writeRaster(
        path("model.tif"), 200, 100, [](int, int) { return 1.0; }, utmPlacement, 32617);
    writeRaster(
        path("deep.tif"), 10, 10, [](int column, int) { return column < 5 ? -100000.0 : 9000.0; }, utmPlacement, 32617);
    writeRgbImage(
        path("far.tif"), 10, 10, [](int, int) { return qRgb(1, 2, 3); }, GeoTransform{600000, 30, 0, 4000000, 0, -30},
        32617);
    writeTwoVariableNetcdf(path("two.nc"));
    testsupport::writeFile(path("notes.txt"), "just some words\n");
    testsupport::writeFile(path("file"), "x");

    struct Case {
        std::function<void(ImportOptions&)> change;
        int code;
        QStringList words;
        qint64 memoryLimit = 0;
    };
    std::vector<Case> const cases = {
        {[&](ImportOptions& o) { o.elevationFile = path("nothing.tif"); }, 2, {"no such file"}},
        {[&](ImportOptions& o) { o.elevationFile = path("notes.txt"); }, 2, {"Cannot read", "notes.txt"}},
        {[&](ImportOptions& o) { o.elevationFile = path("two.nc"); }, 2, {"no raster band", "e.g. NETCDF:"}},
        {[](ImportOptions& o) { o.band = 2; }, 2, {"there is no band 2"}},
        {[&](ImportOptions& o) { o.textureImage = path("far.tif"); }, 2, {"does not overlap", "far.tif"}},
        {[&](ImportOptions& o) { o.textureImage = path("missing.jpg"); }, 2, {"texture image", "missing.jpg"}},
        {[&](ImportOptions& o) { o.elevationFile = path("deep.tif"); }, 2, {"-100000.00 m", "--unit-cm 2"}},
        // 20000 x 10000 texels x 4 bytes.
        {[](ImportOptions& o) { o.texelsPerCell = 1000; }, 3, {"20000 x 10000", "762.9 MiB", "64.0 MiB"}, 64 << 20},
        {[&](ImportOptions& o) { o.elevationFile = path("model.tif"); }, 3, {"200 x 100 cells", "97.7 KiB"}, 100000},
        {[&](ImportOptions& o) { o.outputFolder = path("file/out"); }, 3, {"Cannot create the folder"}},
        {[](ImportOptions& o) { o.texelsPerCell = 0; }, 1, {}},
        {[](ImportOptions& o) { o.exaggeration = -1; }, 1, {}},
        {[](ImportOptions& o) { o.unitCm = std::nan(""); }, 1, {}},
        {[](ImportOptions& o) { o.band = 0; }, 1, {}},
    };
    for (std::size_t n = 0; n < cases.size(); ++n) {
        SCOPED_TRACE(n);
        ImportOptions o = options("dem.tif");
        o.memoryLimit = cases[n].memoryLimit;
        cases[n].change(o);
        Imported const failure = runImporter(o);
        EXPECT_EQ(failure.code, cases[n].code) << failure.message.toStdString();
        for (QString const& word : cases[n].words)
            EXPECT_TRUE(failure.message.contains(word))
                << failure.message.toStdString() << " lacks " << word.toStdString();
        EXPECT_FALSE(QFileInfo::exists(path("out"))) << "nothing is written after a refusal";
    }
    // The unit the refusal proposes is enough.
    ImportOptions deep = options("deep.tif");
    deep.unitCm = 2;
    EXPECT_TRUE(import(deep));
}

TEST(CommandLine, ExitCodesAndMessages) {
    auto const dir = testsupport::makeTempDir();
    writeRaster(
        dir->filePath("big.tif"), 1000, 1000, [](int, int) { return 1.0; }, utmPlacement, 32617);
    struct Case {
        QStringList arguments;
        int exitCode;
        QByteArray words;
    };
    for (Case const& c : {
             // Help goes to standard error.
             Case{{"-h"}, 0, "Usage: AVImport"},
             Case{{"-h"}, 0, "--texels-per-cell"},
             Case{{}, 1, "AVImport: "},
             Case{{"--no-such-option", "a.tif"}, 1, "AVImport: "},
             Case{{"a.tif", "b.tif"}, 1, "AVImport: "},
             Case{{"--texels-per-cell", "many", "a.tif"}, 1, "AVImport: "},
             Case{{"--frame-size", "640", "a.tif"}, 1, "AVImport: "},
             Case{{"none.tif"}, 2, "no such file"},
             // 1 024 000 texels square: more than any machine's memory.
             Case{{"big.tif", "-n", "1024", "-o", "big"}, 3, "3.81 TiB"},
         }) {
        auto const run = runAVImport(c.arguments, dir->path());
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(run.standardError.contains(c.words)) << run.standardError.constData();
        EXPECT_TRUE(run.standardOutput.isEmpty());
    }
}

}  // namespace
