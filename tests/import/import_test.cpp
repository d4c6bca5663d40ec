// AVImport on rasters of several formats: heights, scales, texture and scenery.
#include "elevation_model.h"
#include "importer.h"
#include "raster_fixtures.h"
#include "scenery_delegate.h"
#include "scenery_writer.h"
#include "test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTextStream>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using fixtures::GeoTransform;

namespace {

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
void expectHeights(ImportResult const& result, SceneryData const& scenery, fixtures::HeightFunction const& input,
                   double metresPerTexel, double exaggeration, double unitMetres,
                   std::function<bool(int, int)> const& skip = {}) {
    QImage const map(result.heightMapFile);
    ASSERT_EQ(map.width(), result.cellsX);
    ASSERT_EQ(map.height(), result.cellsY);
    EXPECT_FALSE(map.hasAlphaChannel());
    EXPECT_EQ(scenery.zScaleStart, scenery.zScaleEnd);
    for (int row = 0; row < map.height(); ++row)
        for (int column = 0; column < map.width(); ++column) {
            if (skip && skip(column, row))
                continue;
            double const metres =
                fixtures::countAt(map, column, row) * scenery.zScaleStart * metresPerTexel / exaggeration;
            ASSERT_NEAR(metres, input(column, row), unitMetres) << "cell " << column << ", " << row;
        }
}

struct ImportTest : ::testing::Test {
    std::unique_ptr<QTemporaryDir> dir = testsupport::makeTempDir();
    QString path(QString const& name) const { return dir->filePath(name); }
};

}  // namespace

TEST_F(ImportTest, ProjectedGeoTiffInMetres) {
    fixtures::writeRaster(path("utm.tif"), 40, 30, utmHeight, utmPlacement, 32617);
    ImportOptions options;
    options.elevationFile = path("utm.tif");
    options.outputFolder = path("out");
    auto const result = fixtures::import(options);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->cellMetresX, 30.0);
    EXPECT_EQ(result->cellMetresY, 30.0);
    EXPECT_TRUE(QFileInfo(path("out/frames")).isDir());
    EXPECT_EQ(result->textureFile, path("out/texture.png"));

    auto const scenery = fixtures::readScenery(path("out/scenery.avs"));
    ASSERT_TRUE(scenery);
    EXPECT_EQ(scenery->elevationScaleX, 4.0);
    EXPECT_EQ(scenery->elevationScaleY, 4.0);
    EXPECT_NEAR(scenery->zScaleStart, 0.01 / 7.5, 1e-12);
    expectHeights(*result, *scenery, utmHeight, 30.0 / 4, 1.0, 0.01);

    QImage const texture(result->textureFile);
    EXPECT_EQ(texture.size(), QSize(160, 120));
    EXPECT_EQ(scenery->textureFileName, QStringLiteral("texture.png"));
    EXPECT_EQ(scenery->elevationFileName, QStringLiteral("heightmap.png"));

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
    // The 48 PNG frames the README promises, into frames/.
    EXPECT_EQ(scenery->lastFrame - scenery->firstFrame + 1, 48);
    EXPECT_TRUE(scenery->writePng);
    EXPECT_EQ(scenery->outputFileName, QStringLiteral("frames/frame%04d"));
}

TEST_F(ImportTest, UnitAndExaggerationSetTheVerticalScale) {
    fixtures::writeRaster(path("utm.tif"), 40, 30, utmHeight, utmPlacement, 32617);
    ImportOptions options;
    options.elevationFile = path("utm.tif");
    options.outputFolder = path("out");
    options.unitCm = 10;
    options.exaggeration = 2.5;
    options.texelsPerCell = 3;
    auto const result = fixtures::import(options);
    ASSERT_TRUE(result);
    auto const scenery = fixtures::readScenery(result->sceneryFile);
    ASSERT_TRUE(scenery);
    EXPECT_EQ(scenery->elevationScaleX, 3.0);
    EXPECT_NEAR(scenery->zScaleStart, 0.1 / 10.0 * 2.5, 1e-12);
    expectHeights(*result, *scenery, utmHeight, 30.0 / 3, 2.5, 0.1);
    EXPECT_EQ(QImage(result->textureFile).size(), QSize(120, 90));
}

TEST_F(ImportTest, GeographicGeoTiffGetsMetresAtItsLatitude) {
    // 60 x 40 cells of one arc-second from 45.02 degrees north.
    double const second = 1.0 / 3600;
    auto heights = [](int column, int row) { return 1500.0 + 3.0 * column + 2.0 * row; };
    fixtures::writeRaster(path("geo.tif"), 60, 40, heights, GeoTransform{7.0, second, 0, 45.02, 0, -second}, 4326);
    ImportOptions options;
    options.elevationFile = path("geo.tif");
    options.outputFolder = path("geo");
    QString log;
    auto const result = fixtures::import(options, &log);
    ASSERT_TRUE(result);

    double const latitude = 45.02 - 20 * second;
    double const cellX = second * metresPerDegreeLongitude(latitude);
    double const cellY = second * metresPerDegreeLatitude(latitude);
    EXPECT_NEAR(result->cellMetresX, cellX, cellX * 1e-6);
    EXPECT_NEAR(result->cellMetresY, cellY, cellY * 1e-6);
    EXPECT_TRUE(log.contains(QStringLiteral("centre latitude 45.0144"))) << log.toStdString();

    // East-west cells are the finer ones: 4 texels each; north-south as many as keep texels square.
    auto const scenery = fixtures::readScenery(result->sceneryFile);
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
    auto heights = [](int column, int row) {
        if (row >= 500 && row < 510 && column >= 600 && column < 620)
            return -32768.0;
        return std::round(1000.0 + 300.0 * std::sin(column / 100.0) * std::cos(row / 150.0));
    };
    fixtures::writeHgt(path("N36W084.hgt"), 1201, heights);
    ImportOptions options;
    options.elevationFile = path("N36W084.hgt");
    options.texelsPerCell = 1;
    QString const previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir->path()));
    auto const result = fixtures::import(options);
    QDir::setCurrent(previous);
    ASSERT_TRUE(result);
    EXPECT_EQ(QFileInfo(result->outputFolder).fileName(), QStringLiteral("N36W084"));
    EXPECT_EQ(result->filledCells, 200);

    double const cellX = 3.0 / 3600 * metresPerDegreeLongitude(36.5);
    double const cellY = 3.0 / 3600 * metresPerDegreeLatitude(36.5);
    EXPECT_NEAR(result->cellMetresX, cellX, cellX * 1e-6);
    EXPECT_NEAR(result->cellMetresY, cellY, cellY * 1e-6);

    auto const scenery = fixtures::readScenery(result->sceneryFile);
    ASSERT_TRUE(scenery);
    auto inVoid = [](int column, int row) { return row >= 500 && row < 510 && column >= 600 && column < 620; };
    expectHeights(*result, *scenery, heights, cellX / scenery->elevationScaleX, 1.0, 0.01, inVoid);

    // Filled cells lie within the range of the known cells around the void.
    double low = 1e9, high = -1e9;
    for (int row = 499; row <= 510; ++row)
        for (int column = 599; column <= 620; ++column)
            if (!inVoid(column, row)) {
                low = std::min(low, heights(column, row));
                high = std::max(high, heights(column, row));
            }
    QImage const map(result->heightMapFile);
    for (int row = 500; row < 510; ++row)
        for (int column = 600; column < 620; ++column) {
            double const metres = fixtures::countAt(map, column, row) * 0.01;
            EXPECT_GE(metres, low - 0.01);
            EXPECT_LE(metres, high + 0.01);
        }
}

TEST_F(ImportTest, SixteenBitPngNeedsAPixelSize) {
    auto heights = [](int column, int row) { return 100.0 + 7.0 * column + 3.0 * row; };
    fixtures::writeRaster(path("dem.png"), 30, 20, heights, std::nullopt, 0, std::nullopt, "PNG", GDT_UInt16);
    ImportOptions options;
    options.elevationFile = path("dem.png");
    options.outputFolder = path("png");
    fixtures::Failure const failure = fixtures::importFailure(options);
    EXPECT_EQ(failure.code, 2);
    EXPECT_TRUE(failure.message.contains(QStringLiteral("--pixel-size"))) << failure.message.toStdString();

    options.pixelSizeX = options.pixelSizeY = 10.0;
    auto const result = fixtures::import(options);
    ASSERT_TRUE(result);
    auto const scenery = fixtures::readScenery(result->sceneryFile);
    ASSERT_TRUE(scenery);
    expectHeights(*result, *scenery, heights, 10.0 / 4, 1.0, 0.01);
    EXPECT_EQ(QImage(result->textureFile).size(), QSize(120, 80));
}

TEST_F(ImportTest, AsciiGridNodataIsFilledWithinItsNeighbours) {
    auto heights = [](int column, int row) {
        if ((column >= 4 && column <= 6 && row >= 5 && row <= 7) || (column == 0 && row == 0))
            return -9999.0;
        return 50.0 + column * column - 2.0 * row;
    };
    fixtures::writeRaster(path("grid.asc"), 12, 10, heights, GeoTransform{1000, 25, 0, 2000, 0, -25}, 0, -9999.0,
                          "AAIGrid");
    ImportOptions options;
    options.elevationFile = path("grid.asc");
    options.outputFolder = path("grid");
    auto const result = fixtures::import(options);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->filledCells, 10);
    EXPECT_EQ(result->cellMetresX, 25.0);
    QImage const map(result->heightMapFile);
    auto metres = [&](int column, int row) { return fixtures::countAt(map, column, row) * 0.01; };
    // The hole's ring: columns 3..7, rows 4..8.
    for (int row = 5; row <= 7; ++row)
        for (int column = 4; column <= 6; ++column) {
            EXPECT_GE(metres(column, row), 50.0 + 9 - 16 - 0.01);
            EXPECT_LE(metres(column, row), 50.0 + 49 - 8 + 0.01);
        }
    EXPECT_GE(metres(0, 0), 50.0 + 0 - 2 - 0.01);
    EXPECT_LE(metres(0, 0), 50.0 + 1 + 0.01);
    EXPECT_NEAR(metres(11, 9), 50.0 + 121 - 18, 0.01);
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
    fixtures::writeRaster(path("utm.tif"), 40, 30, utmHeight, utmPlacement, 32617);
    // 5 m pixels reaching 100 m beyond the model on every side; red grows
    // eastwards and green southwards, linearly in the pixel index.
    fixtures::writeRgbImage(
        path("ortho.tif"), 280, 220, [](int column, int row) { return qRgb(column * 255 / 279, row * 255 / 219, 77); },
        GeoTransform{499900, 5, 0, 4000100, 0, -5}, 32617);
    ImportOptions options;
    options.elevationFile = path("utm.tif");
    options.outputFolder = path("out");
    options.textureImage = path("ortho.tif");
    QString log;
    auto const result = fixtures::import(options, &log);
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

TEST_F(ImportTest, OrthophotoInAnotherCoordinateSystemIsReprojected) {
    fixtures::writeRaster(path("utm.tif"), 40, 30, utmHeight, utmPlacement, 32617);
    // Longitude/latitude pixels around 81 W, 36.1 N, where the model lies.
    fixtures::writeRgbImage(
        path("wgs.tif"), 200, 150, [](int, int) { return qRgb(10, 200, 30); },
        GeoTransform{-81.1, 0.001, 0, 36.2, 0, -0.001}, 4326);
    ImportOptions options;
    options.elevationFile = path("utm.tif");
    options.outputFolder = path("out");
    options.textureImage = path("wgs.tif");
    QString log;
    auto const result = fixtures::import(options, &log);
    ASSERT_TRUE(result);
    EXPECT_FALSE(log.contains(QStringLiteral("covers only"))) << log.toStdString();
    QImage const texture(result->textureFile);
    ASSERT_EQ(texture.size(), QSize(160, 120));
    EXPECT_EQ(texture.pixel(0, 0) & 0xFFFFFFu, 0x0AC81Eu);
    EXPECT_EQ(texture.pixel(159, 119) & 0xFFFFFFu, 0x0AC81Eu);
}

TEST_F(ImportTest, PartlyCoveringImageLeavesGreyAndWarns) {
    fixtures::writeRaster(path("utm.tif"), 40, 30, utmHeight, utmPlacement, 32617);
    // Covers only the western half of the model.
    fixtures::writeRgbImage(
        path("half.tif"), 60, 90, [](int, int) { return qRgb(200, 0, 0); },
        GeoTransform{499900, 10, 0, 4000100, 0, -10}, 32617);
    ImportOptions options;
    options.elevationFile = path("utm.tif");
    options.outputFolder = path("out");
    options.textureImage = path("half.tif");
    QString log;
    auto const result = fixtures::import(options, &log);
    ASSERT_TRUE(result);
    EXPECT_TRUE(log.contains(QStringLiteral("covers only"))) << log.toStdString();
    QImage const texture(result->textureFile);
    EXPECT_EQ(texture.pixel(10, 60) & 0xFFFFFFu, 0xC80000u);
    EXPECT_EQ(texture.pixel(150, 60) & 0xFFFFFFu, 0x808080u);
}

TEST_F(ImportTest, ReliefTextureFollowsTheHeights) {
    // A ridge running north-south: its western flank faces the light.
    auto heights = [](int column, int) { return 500.0 - 10.0 * std::abs(column - 20); };
    fixtures::writeRaster(path("ridge.tif"), 41, 30, heights, utmPlacement, 32617);
    ImportOptions options;
    options.elevationFile = path("ridge.tif");
    options.outputFolder = path("ridge");
    auto const result = fixtures::import(options);
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

// The whole path a user takes: AVImport, then AVRender on the scenery it
// wrote, with a video; ffprobe confirms frame count, size and codec.
TEST_F(ImportTest, ImportRenderVideoEndToEnd) {
    fixtures::writeRaster(path("valley.tif"), 40, 30, utmHeight, utmPlacement, 32617);
    auto const imported = fixtures::runAVImport({path("valley.tif"), "-o", path("valley"), "--frame-size", "160x120"});
    ASSERT_EQ(imported.exitCode, 0) << imported.standardError.toStdString();

    QProcess render;
    render.setWorkingDirectory(path("valley"));
    render.start(QString::fromUtf8(AVRENDER_EXE), {"-q", "-i", "scenery.avs", "--video", "valley.mp4", "--fps", "12"});
    ASSERT_TRUE(render.waitForFinished(300000));
    ASSERT_EQ(render.exitCode(), 0) << render.readAllStandardError().toStdString();
    EXPECT_EQ(QDir(path("valley/frames")).entryList(QDir::Files).size(), 48);
    // The starter flight looks at the terrain, not past it.
    QImage const frame(path("valley/frames/frame0024.png"));
    ASSERT_EQ(frame.size(), QSize(160, 120));
    int terrain = 0;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            terrain += (frame.pixel(x, y) & 0xFFFFFFu) != 0 ? 1 : 0;
    EXPECT_GT(terrain, frame.width() * frame.height() / 4) << "the camera sees too little terrain";

    QProcess probe;
    probe.start("ffprobe",
                {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                 "stream=codec_name,width,height,nb_read_frames", "-of", "default=nw=1", path("valley/valley.mp4")});
    ASSERT_TRUE(probe.waitForFinished(60000));
    QString const info = QString::fromUtf8(probe.readAllStandardOutput());
    EXPECT_TRUE(info.contains("codec_name=h264")) << info.toStdString();
    EXPECT_TRUE(info.contains("width=160")) << info.toStdString();
    EXPECT_TRUE(info.contains("height=120")) << info.toStdString();
    EXPECT_TRUE(info.contains("nb_read_frames=48")) << info.toStdString();
}
