// AVImport on rasters of several formats: heights, scales, texture and
// scenery; its refusals, its command line and exit codes, and the whole path
// from a raster to a rendered video.
#include "elevation_image.h"
#include "elevation_model.h"
#include "import_error.h"
#include "importer.h"
#include "scenery_delegate.h"
#include "scenery_writer.h"
#include "sun_light.h"
#include "test_support.h"

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTextStream>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <numbers>
#include <optional>
#include <vector>

namespace {

using Value = std::function<double(int column, int row, int band)>;

// Where a raster lies: square cells of `cell` units in `srs` from the
// north-west corner (west, north); no georeferencing without an srs.
struct Place {
    char const* srs = "EPSG:32617";
    double west = 500000, north = 4000000, cell = 30;
};

// Writes a raster of value(column, row, band) with GDAL's `driver`.
void writeRaster(QString const& path, int width, int height, Value const& value, Place const& place = {},
                 char const* driver = "GTiff", GDALDataType type = GDT_Float64, int bands = 1,
                 std::optional<double> nodata = std::nullopt) {
    GDALAllRegister();
    GDALDriverManager* const drivers = GetGDALDriverManager();
    GDALDataset* const mem = drivers->GetDriverByName("MEM")->Create("", width, height, bands, type, nullptr);
    OGRSpatialReference srs;
    double geoTransform[6] = {place.west, place.cell, 0, place.north, 0, -place.cell};
    if (place.srs && srs.SetFromUserInput(place.srs) == OGRERR_NONE) {
        mem->SetSpatialRef(&srs);
        mem->SetGeoTransform(geoTransform);
    }
    std::vector<double> values(std::size_t(width) * height);
    for (int band = 0; band < bands; ++band) {
        for (std::size_t i = 0; i < values.size(); ++i)
            values[i] = value(int(i % width), int(i / width), band);
        EXPECT_EQ(mem->GetRasterBand(band + 1)->RasterIO(GF_Write, 0, 0, width, height, values.data(), width, height,
                                                         GDT_Float64, 0, 0, nullptr),
                  CE_None);
        if (nodata)
            mem->GetRasterBand(band + 1)->SetNoDataValue(*nodata);
    }
    GDALClose(drivers->GetDriverByName(driver)->CreateCopy(path.toUtf8(), mem, FALSE, nullptr, nullptr, nullptr));
    GDALClose(mem);
    EXPECT_TRUE(QFileInfo::exists(path)) << CPLGetLastErrorMsg();
}

// What an import did: its result and the scenery it wrote as AVRender reads
// it, or the exit code and message of its refusal.
struct Imported {
    std::optional<ImportResult> result;
    std::unique_ptr<SceneryData> scenery;
    int code = 0;
    QString message, log;
};

Imported runImporter(ImportOptions const& options) {
    Imported imported;
    QTextStream stream(&imported.log);
    try {
        imported.result = runImport(options, stream);
    } catch (ImportError const& error) {
        imported.code = static_cast<int>(error.code());
        imported.message = error.message();
        return imported;
    }
    stream.flush();
    QString warnings;
    QTextStream log(&warnings);
    SceneryDelegate delegate(log, false);
    if (delegate.open(imported.result->sceneryFile))
        imported.scenery = std::make_unique<SceneryData>(*delegate.parameters);
    else
        ADD_FAILURE() << delegate.errorString().toStdString();
    EXPECT_TRUE(warnings.isEmpty()) << warnings.toStdString();
    return imported;
}

double utmHeight(int column, int row, int = 0) {
    return 300.0 + 2.5 * column - 1.7 * row + 40.0 * std::sin(column * row / 50.0);
}

// The scenery's vertical scale is the count unit over the texel size, times
// the exaggeration; every height-map pixel, turned back into metres through
// it, equals the input height within the count unit (north up, east right).
void expectHeights(Imported const& imported, Value const& input, double metresPerTexel, double exaggeration,
                   double unitMetres, std::function<bool(int, int)> const& skip = {}) {
    QImage const map(imported.result->heightMapFile);
    ASSERT_EQ(map.size(), QSize(imported.result->cellsX, imported.result->cellsY));
    EXPECT_FALSE(map.hasAlphaChannel());
    double const zScale = imported.scenery->zScaleStart;
    EXPECT_EQ(zScale, imported.scenery->zScaleEnd);
    EXPECT_NEAR(zScale, unitMetres / metresPerTexel * exaggeration, zScale * 1e-6);
    for (int row = 0; row < map.height(); ++row)
        for (int column = 0; column < map.width(); ++column) {
            if (skip && skip(column, row))
                continue;
            int const raw = static_cast<int>(map.pixel(column, row) & 0xFFFFFFu);  // a signed 24-bit count
            ASSERT_NEAR((raw >= 0x800000 ? raw - 0x1000000 : raw) * zScale * metresPerTexel / exaggeration,
                        input(column, row, 0), unitMetres)
                << "cell " << column << ", " << row;
        }
}

// Each test starts with "utm.tif": 40 x 30 cells of 30 m in UTM zone 17.
struct ImportTest : ::testing::Test {
    std::unique_ptr<QTemporaryDir> dir = testsupport::makeTempDir();
    ImportTest() { writeRaster(path("utm.tif"), 40, 30, utmHeight); }
    QString path(QString const& name) const { return dir->filePath(name); }
    ImportOptions options(QString const& input) const {
        ImportOptions o;
        o.elevationFile = path(input);
        o.outputFolder = path(QStringLiteral("out"));
        return o;
    }
};

// A projected GeoTIFF in metres with the default options (1 cm counts, no
// exaggeration, 4 x 4 texels per cell) and an orthophoto in longitude/latitude
// draped by its coordinates: each texel shows the image at its place, grey east
// of where the image ends (about 430 m into the terrain). The starter flight
// goes level and east along the middle (the longer axis), above the highest
// point, looking down.
TEST_F(ImportTest, ProjectedGeoTiffWithAGeographicOrthophoto) {
    // Red grows eastwards and green southwards, linearly in the pixel index.
    double const west = -81.0002, north = 36.1452, cell = 0.00004;
    Value const colour = [](int column, int row, int band) { return std::array{2 * column, row, 77}[band]; };
    writeRaster(path("wgs.tif"), 125, 228, colour, {"EPSG:4326", west, north, cell}, "GTiff", GDT_Byte, 3);
    ImportOptions o = options("utm.tif");
    o.textureImage = path("wgs.tif");
    Imported const i = runImporter(o);
    ASSERT_TRUE(i.scenery) << i.message.toStdString();
    SceneryData const& s = *i.scenery;
    EXPECT_EQ(std::pair(s.elevationScaleX, s.elevationScaleY), std::pair(4.0, 4.0));
    expectHeights(i, utmHeight, 30.0 / 4, 1.0, 0.01);
    EXPECT_EQ(std::tuple(s.headingStart, s.headingEnd, s.observerYStart), std::tuple(90.0, 90.0, 60.0));
    EXPECT_GT(s.observerZStart, (300.0 + 2.5 * 39 + 40.0) / 7.5);
    EXPECT_EQ(s.observerZStart, s.observerZEnd);
    EXPECT_TRUE(0 <= s.observerXStart && s.observerXStart < s.observerXEnd && s.observerXEnd <= 160)
        << s.observerXStart << " .. " << s.observerXEnd;
    EXPECT_LT(s.tiltStart, 0.0);

    EXPECT_TRUE(i.log.contains(QStringLiteral("covers only"))) << i.log.toStdString();
    QImage const texture(i.result->textureFile);
    ASSERT_EQ(texture.size(), QSize(160, 120));
    OGRSpatialReference utm, wgs;
    utm.SetFromUserInput("EPSG:32617");
    wgs.SetFromUserInput("EPSG:4326");
    wgs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    std::unique_ptr<OGRCoordinateTransformation> const toWgs(OGRCreateCoordinateTransformation(&utm, &wgs));
    for (int v = 0; v < 120; v += 7)
        for (int u = 0; u < 160; u += 3) {
            // The texture spans the raster shifted half a cell east and north, as the renderer places it.
            double x = 500015 + (u + 0.5) * 7.5, y = 4000015 - (v + 0.5) * 7.5;
            ASSERT_TRUE(toWgs->Transform(1, &x, &y));
            double const column = (x - west) / cell - 0.5, row = (north - y) / cell - 0.5;
            QRgb const texel = texture.pixel(u, v) & 0xFFFFFFu;
            if (column > 126) {
                EXPECT_EQ(texel, 0x808080u) << u << ", " << v;
            } else if (column < 123) {
                EXPECT_NEAR(qRed(texel), 2 * column, 1.0) << u << ", " << v;
                EXPECT_NEAR(qGreen(texel), row, 1.0) << u << ", " << v;
                EXPECT_EQ(qBlue(texel), 77);
            }
        }
}

// An SRTM tile is geographic: its cells get their size in metres at the
// tile's centre latitude, texels square on the ground; its voids are filled.
TEST_F(ImportTest, SrtmTileWithVoids) {
    auto inVoid = [](int column, int row) { return row >= 500 && row < 510 && column >= 600 && column < 620; };
    Value const heights = [&](int column, int row, int) {
        return inVoid(column, row) ? -32768.0
                                   : std::round(1000.0 + 300.0 * std::sin(column / 100.0) * std::cos(row / 150.0));
    };
    writeRaster(path("N36W084.hgt"), 1201, 1201, heights, {"EPSG:4326", -84 - 0.5 / 1200, 37 + 0.5 / 1200, 1.0 / 1200},
                "SRTMHGT", GDT_Int16);
    ImportOptions o = options("N36W084.hgt");
    o.texelsPerCell = 1;
    Imported const i = runImporter(o);
    ASSERT_TRUE(i.scenery) << i.message.toStdString();
    EXPECT_EQ(i.result->filledCells, 200);
    // Metres per degree on WGS 84 from the usual cosine series, independent of
    // the ellipsoid formulas of the importer.
    double const p = 36.5 * std::numbers::pi / 180;
    double const cellX = 3.0 / 3600 * (111412.84 * std::cos(p) - 93.5 * std::cos(3 * p) + 0.118 * std::cos(5 * p));
    double const cellY =
        3.0 / 3600 * (111132.954 - 559.822 * std::cos(2 * p) + 1.175 * std::cos(4 * p) - 0.0023 * std::cos(6 * p));
    EXPECT_NEAR(i.result->cellMetresX, cellX, cellX * 1e-6);
    EXPECT_NEAR(i.result->cellMetresY, cellY, cellY * 1e-6);
    // East-west cells are the finer ones: one texel each; north-south as many as keep texels square.
    int const texelsY = static_cast<int>(std::lround(1201 * cellY / cellX));
    EXPECT_EQ(i.scenery->elevationScaleX, 1.0);
    EXPECT_NEAR(i.scenery->elevationScaleY, texelsY / 1201.0, 1e-9);
    EXPECT_EQ(QImage(i.result->textureFile).size(), QSize(1201, texelsY));
    expectHeights(i, heights, cellX, 1.0, 0.01, inVoid);
}

// A raster without georeferencing takes the pixel size it is given (its refusal
// without one is in the refusal table); the count unit, exaggeration and texels
// per cell set the scales, and the relief texture is shaded and tinted by height.
TEST_F(ImportTest, SixteenBitPngWithUnitExaggerationAndReliefTexture) {
    // A ridge running north-south: its western flank faces the light.
    Value const heights = [](int column, int row, int) { return 500.0 - 10.0 * std::abs(column - 15) + row; };
    writeRaster(path("dem.png"), 31, 20, heights, {nullptr}, "PNG", GDT_UInt16);
    ImportOptions o = options("dem.png");
    o.pixelSizeX = o.pixelSizeY = 10.0;
    o.unitCm = 10;
    o.exaggeration = 2.5;
    o.texelsPerCell = 3;
    Imported const i = runImporter(o);
    ASSERT_TRUE(i.scenery) << i.message.toStdString();
    EXPECT_EQ(std::pair(i.scenery->elevationScaleX, i.scenery->elevationScaleY), std::pair(3.0, 3.0));
    expectHeights(i, heights, 10.0 / 3, 2.5, 0.1);
    QImage const texture(i.result->textureFile);
    ASSERT_EQ(texture.size(), QSize(93, 60));
    EXPECT_GT(qGray(texture.pixel(22, 30)), qGray(texture.pixel(68, 30)));  // lit western flank, shaded eastern one
    // Low ground is tinted green, the crest lighter and browner.
    EXPECT_GT(qGreen(texture.pixel(1, 30)), qRed(texture.pixel(1, 30)));
    EXPECT_GT(qRed(texture.pixel(46, 30)), qRed(texture.pixel(1, 30)));
}

// A cone 50 m high on a plain of 10 m cells, the sun in the west at 20
// degrees: the shadow runs east from the peak for 50 / tan(20 degrees) =
// 137 m, and nothing west of the cone is shaded.
TEST(SunLight, ShadowLengthFollowsTheSunsElevation) {
    ElevationModel cone;
    cone.width = 60;
    cone.height = 21;
    cone.cellMetresX = cone.cellMetresY = 10;
    for (int row = 0; row < cone.height; ++row)
        for (int column = 0; column < cone.width; ++column)
            cone.metres.push_back(std::max(0.0, 50.0 - 25.0 * std::hypot(column - 15, row - 10)));
    cone.maximum = 50;
    for (double elevation : {20.0, 35.0}) {
        std::vector<float> const lit = sunlitShare(cone, {270.0, elevation}, 1.0);
        auto share = [&](int column, int row) { return lit[std::size_t(row) * cone.width + column]; };
        int lastShaded = 15;
        for (int column = 16; column < cone.width; ++column)
            if (share(column, 10) < 0.5f)
                lastShaded = column;
        EXPECT_NEAR((lastShaded - 15) * 10.0, 50.0 / std::tan(elevation * std::numbers::pi / 180), 20.0) << elevation;
        for (int column = 0; column < 15; ++column)
            EXPECT_EQ(share(column, 10), 1.0f) << column;
        EXPECT_EQ(share(40, 0), 1.0f);  // off the shadow's line
    }
    // Straight overhead nothing is shaded; the light points the way it travels.
    std::vector<float> const noon = sunlitShare(cone, {0.0, 90.0}, 1.0);
    EXPECT_EQ(*std::min_element(noon.begin(), noon.end()), 1.0f);
    std::array<double, 3> const west = lightDirection({270.0, 30.0});
    EXPECT_NEAR(west[0], std::cos(std::numbers::pi / 6), 1e-12);  // travelling east
    EXPECT_NEAR(west[1], 0.0, 1e-12);
    EXPECT_NEAR(west[2], -0.5, 1e-12);
}

// The sun's place against published values: the worked example of NREL's
// Solar Position Algorithm report (Reda and Andreas, NREL/TP-560-34302,
// Golden, Colorado: zenith 50.11162, azimuth 194.34024 degrees), and the
// 2024 equinox and solstice instants of the US Naval Observatory ("Earth's
// Seasons": 20 March 03:06, 20 June 20:51, 21 December 09:21 UTC), at which
// the sun seen from the North Pole stands at its declination (0 and 23.44
// degrees) and from the South Pole at minus it (23.44 degrees).
TEST(SunLight, PlaceInTheSkyMatchesPublishedValues) {
    SunPosition const golden =
        sunAt(QDateTime::fromString(QStringLiteral("2003-10-17T12:30:30-07:00"), Qt::ISODate), -105.1786, 39.742476);
    EXPECT_NEAR(golden.azimuth, 194.34024, 0.2);
    EXPECT_NEAR(golden.elevation, 90 - 50.11162, 0.2);
    EXPECT_NEAR(sunAt(QDateTime::fromString(QStringLiteral("2024-03-20T03:06Z"), Qt::ISODate), 0, 90).elevation, 0.0,
                0.2);
    EXPECT_NEAR(sunAt(QDateTime::fromString(QStringLiteral("2024-06-20T20:51Z"), Qt::ISODate), 0, 90).elevation, 23.44,
                0.2);
    EXPECT_NEAR(sunAt(QDateTime::fromString(QStringLiteral("2024-12-21T09:21Z"), Qt::ISODate), 0, -90).elevation, 23.44,
                0.2);
}

// Through the importer: the scenery's light comes from the sun and the
// texture is darker in the shadow than beside it.
TEST_F(ImportTest, SunLightsTheSceneryAndShadowsTheTexture) {
    Value const ridge = [](int column, int, int) { return column == 10 ? 200.0 : 0.0; };
    writeRaster(path("ridge.tif"), 40, 10, ridge);
    ImportOptions o = options("ridge.tif");
    o.texelsPerCell = 1;
    o.sunAzimuth = -90;  // the west
    o.sunElevation = 45;
    Imported const i = runImporter(o);
    ASSERT_TRUE(i.scenery) << i.message.toStdString();
    EXPECT_NEAR(i.scenery->lightX, std::cos(std::numbers::pi / 4), 1e-9);
    EXPECT_NEAR(i.scenery->lightY, 0.0, 1e-9);
    EXPECT_NEAR(i.scenery->lightZ, -std::sin(std::numbers::pi / 4), 1e-9);
    QImage const texture(i.result->textureFile);
    // Texel u shows cell u + 0.5: the ridge (200 m) shades 200 m = 6.7 cells east of it.
    EXPECT_LT(qGray(texture.pixel(13, 5)), qGray(texture.pixel(5, 5)) * 3 / 4);
    EXPECT_EQ(qGray(texture.pixel(25, 5)), qGray(texture.pixel(5, 5)));

    // A draped image is darkened to the sky light in full shadow.
    writeRaster(
        path("photo.tif"), 40, 10, [](int, int, int) { return 200.0; }, {}, "GTiff", GDT_Byte, 3);
    o.textureImage = path("photo.tif");
    o.force = true;  // into the same folder
    Imported const draped = runImporter(o);
    ASSERT_TRUE(draped.scenery) << draped.message.toStdString();
    QImage const photo(draped.result->textureFile);
    EXPECT_EQ(qRed(photo.pixel(25, 5)), 200);
    EXPECT_EQ(qRed(photo.pixel(13, 5)), 90);

    // By a moment: the sun as it stands then over the model's centre.
    o.sunAzimuth = o.sunElevation = std::nullopt;
    o.sunTime = QDateTime::fromString(QStringLiteral("2024-06-21T16:00Z"), Qt::ISODate);
    Imported const byTime = runImporter(o);
    ASSERT_TRUE(byTime.scenery) << byTime.message.toStdString();
    EXPECT_TRUE(byTime.log.contains(QStringLiteral("The sun at 2024-06-21T16:00:00Z over longitude")))
        << byTime.log.toStdString();
    SunPosition const sun = sunAt(o.sunTime, -80.9967, 36.1434);  // the raster's centre
    EXPECT_NEAR(byTime.scenery->lightZ, lightDirection(sun)[2], 1e-4);
}

// A track flight over the demo's elevation model (the Jacksboro fault, USGS,
// placed at its longitudes and latitudes) along a GPS track with bends and a
// hairpin, measured through the renderer's camera path: an even ground speed,
// the requested clearance, and headings without jumps.
TEST_F(ImportTest, TrackFlightOverTheDemoModel) {
    QImage const demo(QStringLiteral(AVRENDER_SOURCE_DIR "/demo/heightmap.png"));
    ASSERT_FALSE(demo.isNull());
    Value const metres = [&demo](int column, int row, int) {
        int const count = int(demo.pixel(column, row) & 0xFFFFFFu);
        return (count >= 0x800000 ? count - 0x1000000 : count) / 100.0;  // centimetre counts
    };
    double const cell = 1.0 / 1200;
    writeRaster(path("jacksboro.tif"), demo.width(), demo.height(), metres, {"EPSG:4326", -84.41375, 36.44625, cell});
    // East in three bends, a hairpin to the north, then straight back north-west.
    QByteArray gpx =
        "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" creator=\"test\" "
        "xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>\n";
    auto point = [&gpx](double lon, double lat) {
        gpx += "<trkpt lat=\"" + QByteArray::number(lat, 'f', 6) + "\" lon=\"" + QByteArray::number(lon, 'f', 6) +
               "\"/>\n";
    };
    double lon = 0, lat = 0;
    for (int k = 0; k <= 120; ++k)
        point(lon = -84.36 + 0.18 * k / 120, lat = 36.22 + 0.03 * std::sin(k / 120.0 * 3 * std::numbers::pi));
    double const centreLat = lat + 0.006;
    for (int k = 1; k <= 30; ++k) {
        double const a = -std::numbers::pi / 2 + std::numbers::pi * k / 30;
        point(lon + 0.0075 * std::cos(a), centreLat + 0.006 * std::sin(a));
    }
    lon += 0.0075 * std::cos(std::numbers::pi / 2), lat = centreLat + 0.006;
    for (int k = 1; k <= 80; ++k)
        point(lon -= 0.0015, lat += 0.001);
    testsupport::writeFile(path("track.gpx"), gpx + "</trkseg></trk></gpx>\n");

    ImportOptions o = options("jacksboro.tif");
    o.trackFile = path("track.gpx");
    o.track.duration = 60;
    Imported const i = runImporter(o);
    ASSERT_TRUE(i.scenery) << i.message.toStdString();
    EXPECT_FALSE(i.scenery->flyStraight);
    EXPECT_EQ(i.scenery->frameCount, 1500);
    EXPECT_EQ(i.scenery->heightAboveGround, 150.0);
    auto const run =
        testsupport::runProgram({"-i", "scenery.avs", "--camera-path", "path.csv"}, i.result->outputFolder);
    ASSERT_EQ(run.exitCode, 0) << run.standardError.toStdString();
    QFile file(QDir(i.result->outputFolder).filePath(QStringLiteral("path.csv")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QList<QByteArray> rows = file.readAll().trimmed().split('\n');
    rows.removeFirst();
    ASSERT_EQ(rows.size(), 1500);

    // The terrain as the renderer sees it, and half the requested height in world units.
    ElevationImage terrain(i.result->heightMapFile, i.scenery->elevationScaleX, i.scenery->elevationScaleY);
    terrain.setZScale(i.scenery->zScaleStart);
    double const halfHeight = 75.0 / i.result->texture.metresPerTexel;  // no exaggeration
    double const extentX = double(i.result->texture.width), extentY = double(i.result->texture.height);
    EXPECT_FALSE(i.log.contains(QStringLiteral("edge of the terrain"))) << i.log.toStdString();
    std::vector<double> steps, turns;
    double previousX = 0, previousY = 0, previousHeading = 0;
    for (qsizetype k = 0; k < rows.size(); ++k) {
        QList<QByteArray> const f = rows[k].split(',');
        double const x = f[1].toDouble(), y = f[2].toDouble(), z = f[3].toDouble(), heading = f[4].toDouble();
        EXPECT_GE(z - terrain.elevation(x, y), halfHeight) << "frame " << k;
        // The edge straight ahead lies two fog distances out or more, in 86 % fog.
        double const ahead =
            std::min(std::sin(heading) > 0 ? (extentX - x) / std::sin(heading) : -x / std::sin(heading),
                     std::cos(heading) > 0 ? (extentY - y) / std::cos(heading) : -y / std::cos(heading));
        EXPECT_GE(ahead, 2 * f[8].toDouble()) << "frame " << k;
        if (k > 0) {
            steps.push_back(std::hypot(x - previousX, y - previousY));
            turns.push_back(std::fabs(heading - previousHeading) * 180 / std::numbers::pi);
        }
        previousX = x, previousY = y, previousHeading = heading;
    }
    std::vector<double> sorted = steps;
    std::nth_element(sorted.begin(), sorted.begin() + qsizetype(sorted.size() / 2), sorted.end());
    double const median = sorted[sorted.size() / 2];
    long const even =
        std::count_if(steps.begin(), steps.end(), [median](double s) { return std::fabs(s / median - 1) <= 0.05; });
    EXPECT_GE(even, long(steps.size() * 9 / 10));
    // Turns beyond 3 degrees a frame only in one stretch of at most 10 % of the flight: the hairpin.
    std::vector<std::size_t> sharp;
    for (std::size_t k = 0; k < turns.size(); ++k)
        if (turns[k] > 3)
            sharp.push_back(k);
    if (!sharp.empty()) {
        EXPECT_LE(sharp.back() - sharp.front(), turns.size() / 10);
    }
    EXPECT_LT(*std::max_element(turns.begin(), turns.end()), 180.0);
}

// A GeoJSON line in UTM zone 17 north (the rasters' system) through these coordinates.
void writeUtmLine(QString const& fileName, QByteArray const& coordinates) {
    testsupport::writeFile(fileName,
                           "{\"type\": \"FeatureCollection\", \"crs\": {\"type\": \"name\", "
                           "\"properties\": {\"name\": \"urn:ogc:def:crs:EPSG::32617\"}}, \"features\": "
                           "[{\"type\": \"Feature\", \"properties\": {}, \"geometry\": {\"type\": "
                           "\"LineString\", \"coordinates\": [" +
                               coordinates + "]}}]}\n");
}

// --draw-track paints the route into the texture: a GeoJSON line in the
// model's own coordinates, 60 m (two texels) wide, in blue.
TEST_F(ImportTest, DrawTrackPaintsTheRouteIntoTheTexture) {
    writeRaster(
        path("photo.tif"), 40, 30, [](int, int, int) { return 200.0; }, {}, "GTiff", GDT_Byte, 3);
    writeUtmLine(path("route.geojson"), "[500150, 3999850], [500450, 3999350]");
    ImportOptions o = options("utm.tif");
    o.texelsPerCell = 1;
    o.textureImage = path("photo.tif");
    o.trackFile = path("route.geojson");
    o.drawTrack = true;
    o.trackColour = QColor(0, 0, 255);
    o.trackWidth = 60;
    Imported const i = runImporter(o);
    ASSERT_TRUE(i.scenery) << i.message.toStdString();
    QImage const texture(i.result->textureFile);
    // Cell centres lie on texel corners: the line runs from texel point
    // (4.5, 5.5) to (14.5, 22.17), counted from the top left.
    EXPECT_EQ(texture.pixel(9, 13) & 0xFFFFFFu, 0x0000FFu);
    EXPECT_EQ(texture.pixel(13, 20) & 0xFFFFFFu, 0x0000FFu);
    EXPECT_EQ(texture.pixel(30, 5) & 0xFFFFFFu, 0xC8C8C8u);
    EXPECT_EQ(texture.pixel(4, 25) & 0xFFFFFFu, 0xC8C8C8u);
}

// At the track's own altitude (800 m, from a GeoJSON line with heights) the
// control points stay there; following 300 m behind, the camera starts and
// ends that far back along the track, looking east along it.
TEST_F(ImportTest, TrackAltitudeAndFollowBehind) {
    writeRaster(path("flat.tif"), 100, 20, [](int, int, int) { return 0.0; });
    writeUtmLine(path("east.geojson"), "[500300, 3999700, 800], [502700, 3999700, 800]");
    ImportOptions o = options("flat.tif");
    o.trackFile = path("east.geojson");
    o.track.trackAltitude = true;
    Imported const high = runImporter(o);
    ASSERT_TRUE(high.result) << high.message.toStdString();
    for (auto const& point : high.result->trackFlight->controlPoints)
        EXPECT_EQ(point[2], 107);  // 800 m in units of 7.5 m, rounded up

    QDir(path("out")).removeRecursively();
    o.track.trackAltitude = false;
    o.track.followBehind = 300;
    Imported const behind = runImporter(o);
    ASSERT_TRUE(behind.result) << behind.message.toStdString();
    auto const& control = behind.result->trackFlight->controlPoints;
    // The track runs from world x 38 to 358 (cell centres 9.5 and 89.5, four texels a cell).
    EXPECT_NEAR(double(control.front()[0]), 38 - 40, 1.0);
    EXPECT_NEAR(double(control.back()[0]), 358 - 40, 1.0);
    for (double heading : behind.result->trackFlight->headings)
        EXPECT_NEAR(heading, std::numbers::pi / 2, 1e-3);
}

// A folder that holds anything (here a hand-edited scenery and a frame of
// the earlier terrain) is refused and left as it was; with --force the
// import replaces its files and empties frames/.
TEST_F(ImportTest, NonEmptyOutputFolderNeedsForce) {
    ASSERT_TRUE(runImporter(options("utm.tif")).scenery);
    QString const scenery = path("out/scenery.avs");
    QFile edited(scenery);
    ASSERT_TRUE(edited.open(QIODevice::Append));
    edited.write("BrennA=999\n");
    edited.close();
    testsupport::writeFile(path("out/frames/frame0000.png"), "old frame");
    auto contents = [&scenery] {
        QFile file(scenery);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QByteArray const before = contents();
    Imported const refused = runImporter(options("utm.tif"));
    EXPECT_EQ(refused.code, 3);
    EXPECT_TRUE(refused.message.contains(QStringLiteral("is not empty: give --force")))
        << refused.message.toStdString();
    EXPECT_EQ(contents(), before);
    EXPECT_TRUE(QFileInfo::exists(path("out/frames/frame0000.png")));

    ImportOptions o = options("utm.tif");
    o.force = true;
    ASSERT_TRUE(runImporter(o).scenery);
    EXPECT_FALSE(contents().contains("BrennA=999"));
    EXPECT_TRUE(QDir(path("out/frames")).isEmpty());
}

// A model mostly without data says how much was made up.
TEST_F(ImportTest, MostlyFilledModelIsReported) {
    writeRaster(
        path("holes.tif"), 10, 10, [](int column, int, int) { return column < 2 ? 100.0 : -9999.0; }, {}, "GTiff",
        GDT_Float64, 1, -9999.0);
    Imported const i = runImporter(options("holes.tif"));
    ASSERT_TRUE(i.scenery) << i.message.toStdString();
    EXPECT_TRUE(
        i.log.contains(QStringLiteral("Filled 80 cell(s) without data from their neighbours: 80.0 % of the "
                                      "model.\nWarning: a quarter or more of the terrain is made up")))
        << i.log.toStdString();
}

// A model that reaches below zero gets a sea floor in blues and its land in
// the usual tints from the shore up; --sea-level moves the shore.
TEST_F(ImportTest, SeaFloorIsBlue) {
    writeRaster(path("coast.tif"), 40, 10, [](int column, int, int) { return column * 5.0 - 100; });  // -100 .. 95 m
    ImportOptions o = options("coast.tif");
    o.texelsPerCell = 1;
    auto bluish = [](QRgb texel) { return qBlue(texel) > qRed(texel) + 30 && qBlue(texel) > qGreen(texel); };
    Imported const coast = runImporter(o);
    ASSERT_TRUE(coast.scenery) << coast.message.toStdString();
    QImage const texture(coast.result->textureFile);
    EXPECT_TRUE(bluish(texture.pixel(5, 5)));    // about -75 m
    EXPECT_TRUE(bluish(texture.pixel(17, 5)));   // about -15 m
    EXPECT_FALSE(bluish(texture.pixel(24, 5)));  // about +20 m
    o.seaLevel = 50;
    o.force = true;
    Imported const flooded = runImporter(o);
    ASSERT_TRUE(flooded.scenery) << flooded.message.toStdString();
    EXPECT_TRUE(bluish(QImage(flooded.result->textureFile).pixel(24, 5)));
}

// A geographic model with longitudes 0 to 360 (279 is 81 west) takes an
// image in UTM and a track in ordinary longitudes where they lie, not 360
// degrees away.
TEST_F(ImportTest, LongitudesPast180TakeAnImageInAnotherSystem) {
    writeRaster(path("wrapped.tif"), 30, 20, utmHeight, {"EPSG:4326", 279.0, 36.15, 0.0005});
    writeRaster(
        path("photo-utm.tif"), 200, 200, [](int, int, int) { return 150.0; }, {"EPSG:32617", 499000, 4001500, 10},
        "GTiff", GDT_Byte, 3);
    ImportOptions o = options("wrapped.tif");
    o.textureImage = path("photo-utm.tif");
    Imported const i = runImporter(o);
    ASSERT_TRUE(i.scenery) << i.message.toStdString();
    QImage const texture(i.result->textureFile);
    EXPECT_EQ(texture.pixel(texture.width() / 2, texture.height() / 2) & 0xFFFFFFu, 0x969696u);
    // A GPS track there, in longitudes from -180 to 180, lies on the model too.
    testsupport::writeFile(path("track.csv"), "lon,lat\n-80.9985,36.1450\n-80.9870,36.1450\n");
    o.trackFile = path("track.csv");
    o.outputFolder = path("track");
    Imported const tracked = runImporter(o);
    EXPECT_TRUE(tracked.scenery) << tracked.message.toStdString();
}

// Heights spread over red, green and blue as web map tiles hold them: each
// encoding of utmHeight, decoded, gives the same heights.
TEST_F(ImportTest, HeightsInRedGreenAndBlue) {
    struct Encoding {
        HeightEncoding kind;
        std::function<std::array<int, 3>(double)> encode;
        std::function<double(std::array<int, 3>)> decode;
    };
    Encoding const encodings[] = {
        {HeightEncoding::TerrainRgb,
         [](double h) {
             long const n = std::lround((h + 10000) * 10);
             return std::array{int(n >> 16), int(n >> 8 & 255), int(n & 255)};
         },
         [](std::array<int, 3> c) { return -10000 + (c[0] * 65536.0 + c[1] * 256 + c[2]) * 0.1; }},
        {HeightEncoding::Terrarium,
         [](double h) {
             double const v = h + 32768;
             return std::array{int(v / 256), int(v) % 256, int((v - std::floor(v)) * 256)};
         },
         [](std::array<int, 3> c) { return c[0] * 256.0 + c[1] + c[2] / 256.0 - 32768; }},
    };
    for (Encoding const& e : encodings) {
        Value const colours = [&e](int column, int row, int band) {
            return double(e.encode(utmHeight(column, row))[std::size_t(band)]);
        };
        Value const heights = [&e](int column, int row, int) { return e.decode(e.encode(utmHeight(column, row))); };
        writeRaster(path("tile.tif"), 40, 30, colours, {}, "GTiff", GDT_Byte, 3);
        ImportOptions o = options("tile.tif");
        o.encoding = e.kind;
        o.force = true;
        Imported const i = runImporter(o);
        ASSERT_TRUE(i.scenery) << i.message.toStdString();
        expectHeights(i, heights, 30.0 / 4, 1.0, 0.01);
    }
    ImportOptions one = options("utm.tif");
    one.encoding = HeightEncoding::Terrarium;
    EXPECT_TRUE(runImporter(one).message.contains(QStringLiteral("need three")));
}

TEST(FillNodata, FillsOutwardWithinTheKnownRange) {
    // 7 x 7 ramp with a 5 x 5 hole in the middle.
    std::vector<double> values(49);
    std::vector<unsigned char> valid(49);
    for (int i = 0; i < 49; ++i) {
        valid[i] = i / 7 == 0 || i / 7 == 6 || i % 7 == 0 || i % 7 == 6;
        values[i] = valid[i] ? 10.0 * (i % 7) + i / 7 : -1e30;
    }
    EXPECT_EQ(fillNodata(values, valid, 7, 7), 25);
    EXPECT_EQ(valid, std::vector<unsigned char>(49, 1));
    EXPECT_EQ(*std::ranges::min_element(values), 0.0);
    EXPECT_EQ(*std::ranges::max_element(values), 66.0);
    // Symmetric ring, symmetric fill: the centre gets the ring's mean.
    EXPECT_NEAR(values[3 * 7 + 3], 33.0, 1e-9);
    std::vector<unsigned char> none(4, 0), all(4, 1);
    std::vector<double> four(4, 0.0);
    EXPECT_EQ(fillNodata(four, none, 2, 2), -1);
    EXPECT_EQ(fillNodata(four, all, 2, 2), 0);
}

TEST(PlainDecimal, NeverUsesAnExponent) {
    EXPECT_EQ(plainDecimal(4), QStringLiteral("4"));
    EXPECT_EQ(plainDecimal(0.0013333333333333), QStringLiteral("0.001333333333"));
    EXPECT_EQ(plainDecimal(0.0000012345), QStringLiteral("0.0000012345"));
    EXPECT_EQ(plainDecimal(-20), QStringLiteral("-20"));
    EXPECT_EQ(plainDecimal(123456789012.0), QStringLiteral("123456789012"));
    EXPECT_EQ(plainDecimal(-0.0), QStringLiteral("0"));
}

testsupport::ProcessResult runAVImport(QStringList const& arguments, QString const& workingDir) {
    return testsupport::runProgram(arguments, workingDir, 120000, QStringLiteral(AVIMPORT_EXE));
}

// The whole path a user takes: AVImport into a folder named after the input,
// then AVRender on the scenery it wrote, with a video: the 48 PNG frames the
// README promises, into frames/; ffprobe confirms frame count, size and codec.
TEST_F(ImportTest, ImportRenderVideoEndToEnd) {
    auto const imported = runAVImport({"utm.tif", "--frame-size", "160x120"}, dir->path());
    ASSERT_EQ(imported.exitCode, 0) << imported.standardError.toStdString();
    EXPECT_TRUE(imported.standardOutput.isEmpty());
    auto const render =
        testsupport::runProgram({"-q", "-i", "scenery.avs", "--video", "utm.mp4", "--fps", "12"}, path("utm"), 300000);
    ASSERT_EQ(render.exitCode, 0) << render.standardError.toStdString();
    EXPECT_EQ(QDir(path("utm/frames")).entryList(QDir::Files).size(), 48);
    // The starter flight looks at the terrain, not past it.
    QImage const frame(path("utm/frames/frame0024.png"));
    ASSERT_EQ(frame.size(), QSize(160, 120));
    int terrain = 0;
    for (int n = 0; n < 160 * 120; ++n)
        terrain += (frame.pixel(n % 160, n / 160) & 0xFFFFFFu) != 0 ? 1 : 0;
    EXPECT_GT(terrain, 160 * 120 / 4) << "the camera sees too little terrain";
    auto const probe = testsupport::runProgram(
        {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
         "stream=codec_name,width,height,nb_read_frames", "-of", "default=nw=1", path("utm/utm.mp4")},
        {}, 60000, "ffprobe");
    EXPECT_EQ(probe.standardOutput, "codec_name=h264\nwidth=160\nheight=120\nnb_read_frames=48\n");
}

// Longitude and latitude (WGS 84) of a point in UTM zone 17 north.
std::array<double, 2> lonLatOfUtm(double x, double y) {
    OGRSpatialReference utm, wgs84;
    utm.importFromEPSG(32617);
    wgs84.importFromEPSG(4326);
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    std::unique_ptr<OGRCoordinateTransformation> const transform(OGRCreateCoordinateTransformation(&utm, &wgs84));
    EXPECT_TRUE(transform && transform->Transform(1, &x, &y));
    return {x, y};
}

RegionRequest boxIn(Box const& box, QByteArray const& crs = {}) {
    RegionRequest region;
    region.box = box;
    region.boxCrs = crs;
    return region;
}

RegionRequest around(double lon, double lat, double radiusKm) {
    RegionRequest region;
    region.centre = std::array{lon, lat};
    region.radiusKm = radiusKm;
    return region;
}

RegionRequest shapesIn(QString const& file) {
    RegionRequest region;
    region.file = file;
    return region;
}

// A region is a window of the raster's cells, whichever way it is given: in
// the model's own coordinates, in degrees, as a square around a place, or as
// the extent of a vector file's shapes. Partly outside the model it is
// clipped with a note; wholly outside it is refused.
TEST_F(ImportTest, RegionsCutTheModel) {
    auto cut = [&](RegionRequest const& region, QString const& folder) {
        ImportOptions o = options("utm.tif");
        o.region = region;
        o.outputFolder = path(folder);
        return runImporter(o);
    };
    // Columns and rows 10 to 19: x 500300 .. 500600, y 3999400 .. 3999700.
    Value const cells10to19 = [](int column, int row, int) { return utmHeight(column + 10, row + 10); };
    auto expectCells10to19 = [&](Imported const& i) {
        ASSERT_TRUE(i.scenery) << i.message.toStdString();
        EXPECT_EQ(i.result->cellsX, 10);
        EXPECT_EQ(i.result->cellsY, 10);
        expectHeights(i, cells10to19, 30.0 / 4, 1.0, 0.01);
    };
    expectCells10to19(cut(boxIn({500300, 3999400, 500600, 3999700}, "model"), "own"));
    // In degrees, the corners 5 m inside those cells.
    auto const [west, south] = lonLatOfUtm(500305, 3999405);
    auto const [east, north] = lonLatOfUtm(500595, 3999695);
    expectCells10to19(cut(boxIn({west, south, east, north}), "degrees"));
    // 150 m on the ground either side of their centre (a little less in UTM's
    // coordinates, which shrink distances near the central meridian).
    auto const [lon, lat] = lonLatOfUtm(500450, 3999550);
    expectCells10to19(cut(around(lon, lat, 0.15), "around"));
    writeUtmLine(path("line.geojson"), "[500310, 3999690], [500590, 3999410]");
    expectCells10to19(cut(shapesIn(path("line.geojson")), "file"));

    Imported const partly = cut(boxIn({500900, 3999400, 501500, 3999700}, "model"), "partly");
    ASSERT_TRUE(partly.scenery) << partly.message.toStdString();
    EXPECT_EQ(partly.result->cellsX, 10);  // columns 30 to 39
    EXPECT_TRUE(partly.log.contains(QStringLiteral("clipped to the 10 x 10 cells"))) << partly.log.toStdString();
    Imported const outside = cut(boxIn({-80, 10, -79, 11}), "outside");
    EXPECT_EQ(outside.code, 2);
    EXPECT_TRUE(outside.message.contains(QStringLiteral("lies outside the elevation model")))
        << outside.message.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path("outside")));
}

// Beyond --max-size cells a model is read averaged: each cell the mean of
// the cells with data it covers, its size in metres grown to match.
TEST_F(ImportTest, LargeModelsAreReadAveraged) {
    auto missing = [](int column, int row) { return column % 2 == 0 && row % 2 == 0; };  // one of each 2 x 2
    writeRaster(
        path("holes.tif"), 40, 30,
        [&](int column, int row, int) { return missing(column, row) ? -9999.0 : utmHeight(column, row); }, {}, "GTiff",
        GDT_Float64, 1, -9999.0);
    ImportOptions o = options("holes.tif");
    o.maxSize = 20;
    Imported const i = runImporter(o);
    ASSERT_TRUE(i.scenery) << i.message.toStdString();
    EXPECT_EQ(i.result->cellsX, 20);
    EXPECT_EQ(i.result->cellsY, 15);
    EXPECT_EQ(i.result->cellMetresX, 60.0);
    EXPECT_EQ(i.result->filledCells, 0);
    expectHeights(
        i,
        [](int column, int row, int) {
            return (utmHeight(2 * column + 1, 2 * row) + utmHeight(2 * column, 2 * row + 1) +
                    utmHeight(2 * column + 1, 2 * row + 1)) /
                   3;
        },
        60.0 / 4, 1.0, 0.01);
}

// A mosaic of 40000 x 40000 cells (1.6 billion; 12 GiB as doubles) that
// references one tile with overviews 1600 times is read at the size asked
// for, through the overviews, in little memory: no cell is held at full
// resolution. The heights are the tile's, and their mean is the tile's.
TEST_F(ImportTest, HugeMosaicIsReadInLittleMemory) {
    auto const height = [](int column, int row, int = 0) {
        return 500.0 + 200.0 * std::sin(column / 50.0) * std::cos(row / 70.0);
    };
    writeRaster(path("tile.tif"), 1000, 1000, height, {}, "GTiff", GDT_Float32);
    GDALDatasetH const tile = GDALOpen(path("tile.tif").toUtf8(), GA_Update);
    int levels[] = {2, 4, 8, 16, 32};
    ASSERT_EQ(GDALBuildOverviews(tile, "AVERAGE", 5, levels, 0, nullptr, nullptr, nullptr), CE_None);
    GDALClose(tile);
    QByteArray vrt =
        "<VRTDataset rasterXSize=\"40000\" rasterYSize=\"40000\"><SRS>EPSG:32617</SRS>"
        "<GeoTransform>500000, 30, 0, 4000000, 0, -30</GeoTransform>"
        "<VRTRasterBand dataType=\"Float32\" band=\"1\">";
    for (int y = 0; y < 40000; y += 1000)
        for (int x = 0; x < 40000; x += 1000)
            vrt +=
                "<SimpleSource><SourceFilename relativeToVRT=\"1\">tile.tif</SourceFilename><SourceBand>1"
                "</SourceBand><SourceProperties RasterXSize=\"1000\" RasterYSize=\"1000\" DataType=\"Float32\" "
                "BlockXSize=\"256\" BlockYSize=\"256\"/><SrcRect xOff=\"0\" yOff=\"0\" xSize=\"1000\" "
                "ySize=\"1000\"/><DstRect xOff=\"" +
                QByteArray::number(x) + "\" yOff=\"" + QByteArray::number(y) +
                "\" xSize=\"1000\" ySize=\"1000\"/></SimpleSource>";
    testsupport::writeFile(path("mosaic.vrt"), vrt + "</VRTRasterBand></VRTDataset>");

    auto const run = runAVImport({"-q", "mosaic.vrt", "--max-size", "200", "-n", "1"}, dir->path());
    ASSERT_EQ(run.exitCode, 0) << run.standardError.toStdString();
    EXPECT_LT(run.peakKiB, 200 * 1024);
    QImage const map(path("mosaic/heightmap.png"));
    ASSERT_EQ(map.size(), QSize(200, 200));
    double sum = 0, tileSum = 0;
    for (int i = 0; i < 200 * 200; ++i) {
        int const count = int(map.pixel(i % 200, i / 200) & 0xFFFFFFu);  // centimetres
        double const metres = (count >= 0x800000 ? count - 0x1000000 : count) / 100.0;
        ASSERT_TRUE(metres >= 300 && metres <= 700) << metres;
        sum += metres;
    }
    for (int i = 0; i < 1000 * 1000; ++i)
        tileSum += height(i % 1000, i / 1000);
    EXPECT_NEAR(sum / (200 * 200), tileSum / (1000 * 1000), 1.0);
}

// Where the terrain ends its heights fall to zero, a rim that faces away
// from the light and shows almost black against the sky. On a coast rising
// to mountains in the east, the starter flight (heading east) keeps that rim
// in fog in every frame: no frame is more than 0.5 % near-black.
TEST_F(ImportTest, StarterFlightKeepsTheTerrainsEdgeInFog) {
    writeRaster(path("coast.tif"), 120, 91,
                [](int column, int row, int) {
                    return -1400.0 + 30.0 * column + 300.0 * std::sin(row / 7.0) * std::cos(column / 9.0);
                },
                {"EPSG:4326", -126.0, 50.0, 1.0 / 30});
    ASSERT_EQ(runAVImport({"coast.tif", "--frame-size", "160x120"}, dir->path()).exitCode, 0);
    ASSERT_EQ(testsupport::runProgram({"-q", "-i", "scenery.avs"}, path("coast"), 300000).exitCode, 0);
    for (int n = 0; n < 48; ++n) {
        QImage const frame(path("coast/frames/frame%1.png").arg(n, 4, 10, QLatin1Char('0')));
        ASSERT_EQ(frame.size(), QSize(160, 120));
        int dark = 0;
        for (int i = 0; i < 160 * 120; ++i) {
            QRgb const p = frame.pixel(i % 160, i / 160);
            dark += std::max({qRed(p), qGreen(p), qBlue(p)}) < 40 ? 1 : 0;
        }
        EXPECT_LE(dark, 160 * 120 / 200) << "frame " << n;
    }
}

// Every refusal has its exit code and names its cause, and nothing is written.
TEST_F(ImportTest, RefusalsNameTheirCauseAndWriteNothing) {
    Value const one = [](int, int, int) { return 1.0; };
    writeRaster(path("dem.tif"), 20, 10, [](int column, int row, int) { return 10.0 * column + row; });
    writeRaster(path("dem.png"), 20, 10, one, {nullptr}, "PNG", GDT_UInt16);
    writeRaster(path("deep.tif"), 10, 10, [](int column, int, int) { return column < 5 ? -100000.0 : 9000.0; });
    writeRaster(path("far.tif"), 10, 10, one, {"EPSG:32617", 600000});
    // A netCDF file of two variables: a container without bands of its own,
    // its rasters listed as subdatasets.
    writeRaster(path("two.nc"), 4, 3, one, {nullptr}, "netCDF", GDT_Float64, 2);
    testsupport::writeFile(path("notes.txt"), "just some words\n");
    QByteArray grid = "ncols 10\nnrows 10\nxllcorner -84.4\nyllcorner 36.2\ncellsize 0.000833\n";
    for (int row = 0; row < 10; ++row)
        grid += "300 310 320 330 340 350 360 370 380 390\n";
    testsupport::writeFile(path("degrees.asc"), grid);  // and no .prj
    auto gpx = [&](char const* name, QByteArray const& points) {
        testsupport::writeFile(path(name),
                               "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" creator=\"test\" "
                               "xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>" +
                                   points + "</trkseg></trk></gpx>\n");
    };
    gpx("far.gpx", "<trkpt lat=\"50\" lon=\"10\"/><trkpt lat=\"50.1\" lon=\"10\"/>");
    gpx("one.gpx", "<trkpt lat=\"36.14337\" lon=\"-80.99667\"/><trkpt lat=\"36.14337\" lon=\"-80.99667\"/>");
    gpx("empty.gpx", "");
    gpx("flat.gpx", "<trkpt lat=\"36.14337\" lon=\"-80.99667\"/><trkpt lat=\"36.14300\" lon=\"-80.99667\"/>");
    testsupport::writeFile(path("file"), "x");
    using Change = std::function<void(ImportOptions&)>;
    for (auto const& [change, code, words] : std::initializer_list<std::tuple<Change, int, QStringList>>{
             {[&](ImportOptions& o) { o.elevationFile = path("nothing.tif"); }, 2, {"no such file"}},
             {[&](ImportOptions& o) { o.elevationFile = path("notes.txt"); }, 2, {"Cannot read", "notes.txt"}},
             {[&](ImportOptions& o) { o.elevationFile = path("two.nc"); }, 2, {"no raster band", "e.g. NETCDF:"}},
             {[&](ImportOptions& o) { o.elevationFile = path("dem.png"); }, 2, {"--pixel-size"}},
             {[&](ImportOptions& o) { o.elevationFile = path("degrees.asc"); }, 2, {"look like degrees", "-a_srs"}},
             {[](ImportOptions& o) { o.band = 2; }, 2, {"there is no band 2"}},
             {[&](ImportOptions& o) { o.textureImage = path("far.tif"); }, 2, {"does not overlap", "far.tif"}},
             {[&](ImportOptions& o) { o.textureImage = path("missing.jpg"); }, 2, {"texture image", "missing.jpg"}},
             {[&](ImportOptions& o) { o.trackFile = path("far.gpx"); }, 2, {"far.gpx", "leaves the elevation model"}},
             {[&](ImportOptions& o) { o.trackFile = path("one.gpx"); }, 2, {"one.gpx", "fewer than two distinct"}},
             {[&](ImportOptions& o) { o.trackFile = path("empty.gpx"); }, 2, {"empty.gpx", "no line and no points"}},
             {[](ImportOptions& o) { o.track.heightAbove = 0; }, 1, {"height above ground"}},
             {[](ImportOptions& o) { o.drawTrack = true; }, 1, {"--draw-track needs a --track"}},
             {[](ImportOptions& o) { o.track.lookAhead = 1e300; }, 1, {"at most 1000 km"}},
             {[&](ImportOptions& o) { o.trackFile = path("flat.gpx"), o.track.duration = 50000, o.track.fps = 25; },
              2,
              {"flat.gpx", "1250000 frames", "at most 1000000"}},
             {[&](ImportOptions& o) { o.trackFile = path("flat.gpx"), o.track.trackAltitude = true; },
              2,
              {"flat.gpx", "without an altitude"}},
             {[&](ImportOptions& o) { o.elevationFile = path("deep.tif"); }, 2, {"-100000.00 m", "--unit-cm 2"}},
             // 20000 x 10000 texels x 4 bytes; 20 x 10 cells x 32 bytes.
             {[](ImportOptions& o) { o.texelsPerCell = 1000, o.memoryLimit = 1 << 26; },
              3,
              {"20000 x 10000", "762.9 MiB", "64.0 MiB"}},
             {[](ImportOptions& o) { o.memoryLimit = 1000; }, 3, {"20 x 10 cells", "6.25 KiB", "1000 bytes"}},
             {[&](ImportOptions& o) { o.outputFolder = path("file/out"); }, 3, {"Cannot create the folder"}},
             {[](ImportOptions& o) { o.texelsPerCell = 0; }, 1, {}},
             {[](ImportOptions& o) { o.exaggeration = -1; }, 1, {}},
             {[](ImportOptions& o) { o.unitCm = std::nan(""); }, 1, {}},
             {[](ImportOptions& o) { o.band = 0; }, 1, {}},
             {[](ImportOptions& o) { o.sunAzimuth = 90, o.sunElevation = -3; }, 1, {"below the horizon"}},
             {[](ImportOptions& o) { o.sunElevation = 30; }, 1, {"both its azimuth and its elevation"}},
             // Midnight in the eastern United States, where utm.tif lies.
             {[](ImportOptions& o) { o.sunTime = QDateTime::fromString("2024-06-21T04:00Z", Qt::ISODate); },
              1,
              {"below the horizon at 2024-06-21T04:00:00Z over longitude -80.99"}},
             {[&](ImportOptions& o) {
                  o.elevationFile = path("dem.png"), o.pixelSizeX = 10,
                  o.sunTime = QDateTime::fromString("2024-06-21T16:00Z", Qt::ISODate);
              },
              2,
              {"no coordinates to place the sun over"}},
         }) {
        ImportOptions o = options("dem.tif");
        change(o);
        Imported const failure = runImporter(o);
        EXPECT_EQ(failure.code, code) << failure.message.toStdString();
        for (QString const& word : words)
            EXPECT_TRUE(failure.message.contains(word))
                << failure.message.toStdString() << " lacks " << word.toStdString();
        EXPECT_FALSE(QFileInfo::exists(path("out"))) << "nothing is written after a refusal";
    }
    // The unit the refusal proposes is enough.
    ImportOptions deep = options("deep.tif");
    deep.unitCm = 2;
    EXPECT_TRUE(runImporter(deep).scenery);
}

TEST(CommandLine, ExitCodesAndMessages) {
    auto const dir = testsupport::makeTempDir();
    writeRaster(
        dir->filePath("big.tif"), 1000, 1000, [](int, int, int) { return 1.0; }, {}, "GTiff", GDT_Byte);
    for (auto const& [arguments, exitCode, words] : std::initializer_list<std::tuple<QStringList, int, char const*>>{
             {{"-h"}, 0, "Usage: AVImport"},  // help goes to standard error
             {{}, 1, "AVImport: "},
             {{"--no-such-option", "a.tif"}, 1, "AVImport: "},
             {{"a.tif", "b.tif"}, 1, "AVImport: "},
             {{"--texels-per-cell", "many", "a.tif"}, 1, "AVImport: "},
             {{"--frame-size", "640", "a.tif"}, 1, "AVImport: "},
             {{"none.tif"}, 2, "no such file"},
             {{"--sun", "2024-06-21 17:30", "a.tif"}, 1, "offset from UTC"},
             {{"big.tif", "-n", "1024", "-o", "big"}, 3, "3.81 TiB"},  // 1 024 000 texels square
             {{"--bbox", "1,2,3", "a.tif"}, 1, "--bbox needs W,S,E,N"},
             {{"--center", "10,50", "a.tif"}, 1, "--center and --radius go together"},
             {{"--bbox", "1,2,3,4", "--region", "r.json", "a.tif"}, 1, "Give one region"},
             {{"--max-size", "1", "a.tif"}, 1, "at least 2 cells"},
             {{"big.tif", "--bbox", "0,0,1,1", "-o", "far"}, 2, "lies outside the elevation model"},
         }) {
        auto const run = runAVImport(arguments, dir->path());
        EXPECT_EQ(run.exitCode, exitCode) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.standardError.contains(words)) << run.standardError.constData();
        EXPECT_TRUE(run.standardOutput.isEmpty());
    }
}

}  // namespace
