// AVImport on rasters of several formats: heights, scales, texture and
// scenery; its refusals, its command line and exit codes, and the whole path
// from a raster to a rendered video.
#include "elevation_model.h"
#include "import_error.h"
#include "importer.h"
#include "scenery_delegate.h"
#include "scenery_writer.h"
#include "test_support.h"

#include <cpl_string.h>
#include <gdal_utils.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTextStream>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <optional>
#include <vector>

namespace {

using HeightFunction = std::function<double(int column, int row)>;

// Writes `path` from the raster `source` as gdal_translate does with the arguments.
void translate(QString const& source, QString const& path, QStringList const& arguments) {
    GDALAllRegister();
    GDALDatasetH const in = GDALOpen(source.toUtf8().constData(), GA_ReadOnly);
    ASSERT_NE(in, nullptr) << CPLGetLastErrorMsg();
    CPLStringList argv;
    for (QString const& argument : arguments)
        argv.AddString(argument.toUtf8().constData());
    GDALTranslateOptions* const options = GDALTranslateOptionsNew(argv.List(), nullptr);
    GDALDatasetH const out = GDALTranslate(path.toUtf8().constData(), in, options, nullptr);
    EXPECT_NE(out, nullptr) << CPLGetLastErrorMsg();
    if (out)
        GDALClose(out);
    GDALTranslateOptionsFree(options);
    GDALClose(in);
}

QString decimal(double value) { return QString::number(value, 'g', 17); }

// A one-band raster of value(column, row) in square cells of `cell` units whose
// north-west corner is (west, north): an ESRI ASCII grid converted with the
// arguments (a UTM zone 17 GeoTIFF unless they say otherwise).
void writeGrid(QString const& path, int width, int height, HeightFunction const& value, double west = 500000,
               double north = 4000000, double cell = 30, QStringList const& arguments = {"-a_srs", "EPSG:32617"}) {
    QString grid = QStringLiteral("ncols %1\nnrows %2\nxllcorner %3\nyllcorner %4\ncellsize %5\n")
                       .arg(width)
                       .arg(height)
                       .arg(decimal(west), decimal(north - height * cell), decimal(cell));
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            grid += decimal(value(column, row)) + (column + 1 < width ? u' ' : u'\n');
    testsupport::writeFile(path + ".asc", grid.toUtf8());
    translate(path + ".asc", path, arguments);
}

// A colour GeoTIFF of colour(column, row) placed like writeGrid's rasters,
// through a PNG and its world file.
void writeImage(QString const& path, int width, int height, std::function<QRgb(int, int)> const& colour, double west,
                double north, double cell, char const* srs = "EPSG:32617") {
    QImage image(width, height, QImage::Format_RGB32);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            image.setPixel(column, row, colour(column, row));
    ASSERT_TRUE(image.save(path + ".png"));
    QStringList const world{
        decimal(cell), "0", "0", decimal(-cell), decimal(west + cell / 2), decimal(north - cell / 2)};
    testsupport::writeFile(path + ".pgw", world.join(u'\n').toUtf8());
    translate(path + ".png", path, {"-a_srs", srs});
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

// What an import did: its result and the scenery it wrote as AVRender reads
// it, or the exit code and message of its refusal.
struct Imported {
    std::optional<ImportResult> result;
    std::unique_ptr<SceneryData> scenery;
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
    if (imported.result) {
        QString logText;
        QTextStream log(&logText);
        SceneryDelegate delegate(log, false);
        if (delegate.open(imported.result->sceneryFile))
            imported.scenery = std::make_unique<SceneryData>(*delegate.parameters);
        else
            ADD_FAILURE() << delegate.errorString().toStdString();
        EXPECT_TRUE(logText.isEmpty()) << logText.toStdString();
    }
    return imported;
}

double utmHeight(int column, int row) {
    return 300.0 + 2.5 * column - 1.7 * row + 40.0 * std::sin(column * row / 50.0);
}

// Every height-map pixel, turned back into metres through the scenery's
// scales, equals the input height within the count unit.
void expectHeights(Imported const& imported, HeightFunction const& input, double metresPerTexel, double exaggeration,
                   double unitMetres, std::function<bool(int, int)> const& skip = {}) {
    QImage const map(imported.result->heightMapFile);
    ASSERT_EQ(map.size(), QSize(imported.result->cellsX, imported.result->cellsY));
    EXPECT_FALSE(map.hasAlphaChannel());
    double const zScale = imported.scenery->zScaleStart;
    EXPECT_EQ(zScale, imported.scenery->zScaleEnd);
    for (int row = 0; row < map.height(); ++row)
        for (int column = 0; column < map.width(); ++column) {
            if (skip && skip(column, row))
                continue;
            int const raw = static_cast<int>(map.pixel(column, row) & 0xFFFFFFu);  // a signed 24-bit count
            ASSERT_NEAR((raw >= 0x800000 ? raw - 0x1000000 : raw) * zScale * metresPerTexel / exaggeration,
                        input(column, row), unitMetres)
                << "cell " << column << ", " << row;
        }
}

struct ImportTest : ::testing::Test {
    std::unique_ptr<QTemporaryDir> dir = testsupport::makeTempDir();
    QString path(QString const& name) const { return dir->filePath(name); }
    // Options importing the file into the output folder; "utm.tif" is written first.
    ImportOptions options(QString const& input, QString const& output = QStringLiteral("out")) {
        if (input == QLatin1String("utm.tif"))
            writeGrid(path(input), 40, 30, utmHeight);
        ImportOptions o;
        o.elevationFile = path(input);
        o.outputFolder = path(output);
        return o;
    }
};

TEST_F(ImportTest, ProjectedGeoTiffInMetres) {
    Imported const i = runImporter(options("utm.tif"));
    ASSERT_TRUE(i.scenery) << i.message.toStdString();
    EXPECT_EQ(i.result->cellMetresX, 30.0);
    EXPECT_EQ(i.result->cellMetresY, 30.0);
    EXPECT_EQ(i.scenery->elevationScaleX, 4.0);
    EXPECT_EQ(i.scenery->elevationScaleY, 4.0);
    EXPECT_NEAR(i.scenery->zScaleStart, 0.01 / 7.5, 1e-12);
    expectHeights(i, utmHeight, 30.0 / 4, 1.0, 0.01);
    EXPECT_EQ(QImage(i.result->textureFile).size(), QSize(160, 120));

    // The flight: east along the middle (the longer axis), above the highest point.
    SceneryData const& s = *i.scenery;
    EXPECT_EQ(s.headingStart, 90.0);
    EXPECT_EQ(s.headingEnd, 90.0);
    EXPECT_EQ(s.observerYStart, 60.0);
    EXPECT_GT(s.observerZStart, (300.0 + 2.5 * 39 + 40.0) / 7.5);
    EXPECT_EQ(s.observerZStart, s.observerZEnd);
    EXPECT_GE(s.observerXStart, 0.0);
    EXPECT_GT(s.observerXEnd, s.observerXStart);
    EXPECT_LE(s.observerXEnd, 160.0);
    EXPECT_LT(s.tiltStart, 0.0);  // looking down at the terrain

    // The count unit and the exaggeration set the vertical scale.
    ImportOptions scaled = options("utm.tif", "scaled");
    scaled.unitCm = 10;
    scaled.exaggeration = 2.5;
    scaled.texelsPerCell = 3;
    Imported const j = runImporter(scaled);
    ASSERT_TRUE(j.scenery) << j.message.toStdString();
    EXPECT_EQ(j.scenery->elevationScaleX, 3.0);
    EXPECT_NEAR(j.scenery->zScaleStart, 0.1 / 10.0 * 2.5, 1e-12);
    expectHeights(j, utmHeight, 30.0 / 3, 2.5, 0.1);
    EXPECT_EQ(QImage(j.result->textureFile).size(), QSize(120, 90));
}

// A geographic raster gets its cell size in metres at its centre latitude,
// texels square on the ground; the raster's missing values are filled: an
// SRTM tile and its voids.
TEST_F(ImportTest, SrtmTileWithVoids) {
    // A 3 arc-second tile; a block of voids (-32768) is filled from around it.
    auto inVoid = [](int column, int row) { return row >= 500 && row < 510 && column >= 600 && column < 620; };
    auto heights = [&](int column, int row) {
        return inVoid(column, row) ? -32768.0
                                   : std::round(1000.0 + 300.0 * std::sin(column / 100.0) * std::cos(row / 150.0));
    };
    writeHgt(path("N36W084.hgt"), 1201, heights);
    ImportOptions o;
    o.elevationFile = path("N36W084.hgt");
    o.texelsPerCell = 1;
    // Without an output folder the import goes to one named after the tile.
    QString const previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir->path()));
    Imported const i = runImporter(o);
    QDir::setCurrent(previous);
    ASSERT_TRUE(i.scenery) << i.message.toStdString();
    EXPECT_EQ(QFileInfo(i.result->outputFolder).fileName(), QStringLiteral("N36W084"));
    EXPECT_EQ(i.result->filledCells, 200);

    // Metres per degree on WGS 84 from the usual cosine series, independent of
    // the ellipsoid formulas of the importer.
    double const p = 36.5 * std::numbers::pi / 180;
    double const cellX = 3.0 / 3600 * (111412.84 * std::cos(p) - 93.5 * std::cos(3 * p) + 0.118 * std::cos(5 * p));
    double const cellY =
        3.0 / 3600 * (111132.954 - 559.822 * std::cos(2 * p) + 1.175 * std::cos(4 * p) - 0.0023 * std::cos(6 * p));
    EXPECT_NEAR(i.result->cellMetresX, cellX, cellX * 1e-6);
    EXPECT_NEAR(i.result->cellMetresY, cellY, cellY * 1e-6);
    EXPECT_TRUE(i.log.contains(QStringLiteral("centre latitude 36.5000"))) << i.log.toStdString();
    // East-west cells are the finer ones: one texel each; north-south as many as keep texels square.
    int const texelsY = static_cast<int>(std::lround(1201 * cellY / cellX));
    EXPECT_EQ(i.scenery->elevationScaleX, 1.0);
    EXPECT_NEAR(i.scenery->elevationScaleY, texelsY / 1201.0, 1e-9);
    EXPECT_EQ(QImage(i.result->textureFile).size(), QSize(1201, texelsY));
    expectHeights(i, heights, cellX, 1.0, 0.01, inVoid);
}

// A raster without georeferencing needs the pixel size; the relief texture
// made from its heights is shaded and tinted by them.
TEST_F(ImportTest, SixteenBitPngNeedsAPixelSizeAndGetsAReliefTexture) {
    // A ridge running north-south: its western flank faces the light.
    auto heights = [](int column, int row) { return 500.0 - 10.0 * std::abs(column - 15) + row; };
    QImage png(31, 20, QImage::Format_Grayscale16);
    for (int row = 0; row < 20; ++row)
        for (int column = 0; column < 31; ++column)
            reinterpret_cast<quint16*>(png.scanLine(row))[column] = static_cast<quint16>(heights(column, row));
    ASSERT_TRUE(png.save(path("dem.png")));
    ImportOptions o = options("dem.png");
    Imported const failure = runImporter(o);
    EXPECT_EQ(failure.code, 2);
    EXPECT_TRUE(failure.message.contains(QStringLiteral("--pixel-size"))) << failure.message.toStdString();

    o.pixelSizeX = o.pixelSizeY = 10.0;
    Imported const i = runImporter(o);
    ASSERT_TRUE(i.scenery) << i.message.toStdString();
    expectHeights(i, heights, 10.0 / 4, 1.0, 0.01);
    QImage const texture(i.result->textureFile);
    ASSERT_EQ(texture.size(), QSize(124, 80));
    auto brightness = [&](int u) { return qGray(texture.pixel(u, 40)); };
    EXPECT_GT(brightness(30), brightness(90));  // lit western flank vs. shaded eastern one
    // Low ground is tinted green, the crest lighter and browner.
    EXPECT_GT(qGreen(texture.pixel(2, 40)), qRed(texture.pixel(2, 40)));
    EXPECT_GT(qRed(texture.pixel(62, 40)), qRed(texture.pixel(2, 40)));
}

TEST(FillNodata, FillsOutwardWithinTheKnownRange) {
    // 7 x 7 ramp with a 5 x 5 hole in the middle.
    std::vector<double> values(49);
    std::vector<unsigned char> valid(49);
    for (int i = 0; i < 49; ++i) {
        bool const hole = i / 7 >= 1 && i / 7 <= 5 && i % 7 >= 1 && i % 7 <= 5;
        values[i] = hole ? -1e30 : 10.0 * (i % 7) + i / 7;
        valid[i] = hole ? 0 : 1;
    }
    EXPECT_EQ(fillNodata(values, valid, 7, 7), 25);
    EXPECT_EQ(valid, std::vector<unsigned char>(49, 1));
    for (double const value : values) {
        EXPECT_GE(value, 0.0);
        EXPECT_LE(value, 66.0);
    }
    // Symmetric ring, symmetric fill: the centre gets the ring's mean.
    EXPECT_NEAR(values[3 * 7 + 3], 33.0, 1e-9);

    std::vector<unsigned char> none(4, 0), all(4, 1);
    std::vector<double> four(4, 0.0);
    EXPECT_EQ(fillNodata(four, none, 2, 2), -1);
    EXPECT_EQ(fillNodata(four, all, 2, 2), 0);
}

// A texture image is draped by its coordinates: each pixel at its place,
// reprojected from another coordinate system, grey where it does not reach.
TEST_F(ImportTest, OrthophotosArePlacedByCoordinates) {
    // 5 m pixels reaching 100 m beyond the model on every side; red grows
    // eastwards and green southwards, linearly in the pixel index.
    writeImage(
        path("ortho.tif"), 280, 220, [](int column, int row) { return qRgb(column * 255 / 279, row * 255 / 219, 77); },
        499900, 4000100, 5);
    // Longitude/latitude pixels around 81 W, 36.1 N, where the model lies.
    writeImage(
        path("wgs.tif"), 200, 150, [](int, int) { return qRgb(10, 200, 30); }, -81.1, 36.2, 0.001, "EPSG:4326");
    // Covers only the western half of the model.
    writeImage(
        path("half.tif"), 60, 90, [](int, int) { return qRgb(200, 0, 0); }, 499900, 4000100, 10);
    ImportOptions o = options("utm.tif");
    for (char const* image : {"ortho.tif", "wgs.tif", "half.tif"}) {
        SCOPED_TRACE(image);
        o.textureImage = path(QLatin1String(image));
        Imported const i = runImporter(o);
        ASSERT_TRUE(i.scenery) << i.message.toStdString();
        bool const half = image == QLatin1String("half.tif");
        EXPECT_EQ(i.log.contains(QStringLiteral("covers only")), half) << i.log.toStdString();
        QImage const texture(i.result->textureFile);
        ASSERT_EQ(texture.size(), QSize(160, 120));
        if (image != QLatin1String("ortho.tif")) {
            QRgb const west = half ? 0xC80000u : 0x0AC81Eu, east = half ? 0x808080u : 0x0AC81Eu;
            EXPECT_EQ(texture.pixel(10, 60) & 0xFFFFFFu, west);
            EXPECT_EQ(texture.pixel(0, 0) & 0xFFFFFFu, west);
            EXPECT_EQ(texture.pixel(150, 60) & 0xFFFFFFu, east);
            EXPECT_EQ(texture.pixel(159, 119) & 0xFFFFFFu, east);
            continue;
        }
        // Texel centres lie half a cell east and north of the raster's corner.
        for (int v = 0; v < 120; v += 7)
            for (int u = 0; u < 160; u += 9) {
                double const column = (15 + (u + 0.5) * 7.5 + 100) / 5 - 0.5;
                double const row = (100 - 15 + (v + 0.5) * 7.5) / 5 - 0.5;
                QRgb const texel = texture.pixel(u, v);
                EXPECT_NEAR(qRed(texel), column * 255 / 279, 1.5) << u << ", " << v;
                EXPECT_NEAR(qGreen(texel), row * 255 / 219, 1.5) << u << ", " << v;
                EXPECT_EQ(qBlue(texel), 77);
            }
    }
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
    writeGrid(path("valley.tif"), 40, 30, utmHeight);
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
    writeGrid(path("dem.tif"), 20, 10, [](int column, int row) { return 10.0 * column + row; });
    writeGrid(path("model.tif"), 200, 100, [](int, int) { return 1.0; });
    writeGrid(path("deep.tif"), 10, 10, [](int column, int) { return column < 5 ? -100000.0 : 9000.0; });
    writeGrid(
        path("far.tif"), 10, 10, [](int, int) { return 1.0; }, 600000);
    // A netCDF file of two variables: a container without bands of its own,
    // its rasters listed as subdatasets.
    writeGrid(path("two.nc"), 4, 3, [](int, int) { return 1.0; }, 0, 3, 1, {"-of", "netCDF", "-b", "1", "-b", "1"});
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
    EXPECT_TRUE(runImporter(deep).scenery);
}

TEST(CommandLine, ExitCodesAndMessages) {
    auto const dir = testsupport::makeTempDir();
    writeGrid(dir->filePath("big.tif"), 2, 2, [](int, int) { return 1.0; }, 500000, 4000000, 30,
              {"-a_srs", "EPSG:32617", "-outsize", "1000", "1000"});
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
