// AVImport's refusals, and the program's command line and exit codes.
#include "importer.h"
#include "raster_fixtures.h"
#include "test_support.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cmath>

using fixtures::GeoTransform;

namespace {

struct ImportErrors : ::testing::Test {
    std::unique_ptr<QTemporaryDir> dir = testsupport::makeTempDir();
    QString path(QString const& name) const { return dir->filePath(name); }

    ImportOptions modelOptions(int width = 20, int height = 10) {
        fixtures::writeRaster(
            path("dem.tif"), width, height, [](int column, int row) { return 10.0 * column + row; },
            GeoTransform{500000, 30, 0, 4000000, 0, -30}, 32617);
        ImportOptions options;
        options.elevationFile = path("dem.tif");
        options.outputFolder = path("out");
        return options;
    }

    static void expectFailure(ImportOptions const& options, int code, QStringList const& words) {
        fixtures::Failure const failure = fixtures::importFailure(options);
        EXPECT_EQ(failure.code, code) << failure.message.toStdString();
        for (QString const& word : words)
            EXPECT_TRUE(failure.message.contains(word))
                << failure.message.toStdString() << " lacks " << word.toStdString();
    }
};

}  // namespace

TEST_F(ImportErrors, MissingAndUnreadableFiles) {
    ImportOptions options;
    options.elevationFile = path("nothing.tif");
    expectFailure(options, 2, {QStringLiteral("no such file")});
    testsupport::writeFile(path("notes.txt"), "just some words\n");
    options.elevationFile = path("notes.txt");
    expectFailure(options, 2, {QStringLiteral("Cannot read"), QStringLiteral("notes.txt")});
}

TEST_F(ImportErrors, RasterWithoutABand) {
    fixtures::writeTwoVariableNetcdf(path("two.nc"));
    ImportOptions options;
    options.elevationFile = path("two.nc");
    expectFailure(options, 2, {QStringLiteral("no raster band"), QStringLiteral("NETCDF:")});
    ImportOptions other = modelOptions();
    other.band = 2;
    expectFailure(other, 2, {QStringLiteral("there is no band 2")});
}

TEST_F(ImportErrors, ImageOutsideTheModel) {
    ImportOptions options = modelOptions();
    fixtures::writeRgbImage(
        path("far.tif"), 10, 10, [](int, int) { return qRgb(1, 2, 3); }, GeoTransform{600000, 30, 0, 4000000, 0, -30},
        32617);
    options.textureImage = path("far.tif");
    expectFailure(options, 2, {QStringLiteral("does not overlap"), QStringLiteral("far.tif")});
    EXPECT_FALSE(QFileInfo::exists(path("out"))) << "nothing is written after a refusal";
    options.textureImage = path("missing.jpg");
    expectFailure(options, 2, {QStringLiteral("texture image"), QStringLiteral("missing.jpg")});
}

TEST_F(ImportErrors, TextureBeyondTheMemoryLimit) {
    ImportOptions options = modelOptions();
    options.texelsPerCell = 1000;
    options.memoryLimit = qint64(64) << 20;
    // 20000 x 10000 texels x 4 bytes.
    expectFailure(options, 3,
                  {QStringLiteral("20000 x 10000"), QStringLiteral("762.9 MiB"), QStringLiteral("64.0 MiB")});
    EXPECT_FALSE(QFileInfo::exists(path("out")));
}

TEST_F(ImportErrors, ModelBeyondTheMemoryLimit) {
    ImportOptions options = modelOptions(200, 100);
    options.memoryLimit = 100000;
    expectFailure(options, 3, {QStringLiteral("200 x 100 cells"), QStringLiteral("97.7 KiB")});
}

TEST_F(ImportErrors, HeightsBeyondTwentyFourBits) {
    fixtures::writeRaster(
        path("deep.tif"), 10, 10, [](int column, int) { return column < 5 ? -100000.0 : 9000.0; },
        GeoTransform{500000, 30, 0, 4000000, 0, -30}, 32617);
    ImportOptions options;
    options.elevationFile = path("deep.tif");
    options.outputFolder = path("out");
    expectFailure(options, 2, {QStringLiteral("-100000.00 m"), QStringLiteral("--unit-cm 2")});
    options.unitCm = 2;
    EXPECT_TRUE(fixtures::import(options));
}

TEST_F(ImportErrors, OutputFolderThatCannotBeMade) {
    ImportOptions options = modelOptions();
    testsupport::writeFile(path("file"), "x");
    options.outputFolder = path("file/out");
    expectFailure(options, 3, {QStringLiteral("Cannot create the folder")});
}

TEST_F(ImportErrors, OptionValuesAreChecked) {
    ImportOptions options = modelOptions();
    for (auto change : {+[](ImportOptions& o) { o.texelsPerCell = 0; }, +[](ImportOptions& o) { o.exaggeration = -1; },
                        +[](ImportOptions& o) { o.unitCm = std::nan(""); }, +[](ImportOptions& o) { o.band = 0; }}) {
        ImportOptions changed = options;
        change(changed);
        expectFailure(changed, 1, {});
    }
}

TEST(CommandLine, HelpGoesToStandardError) {
    fixtures::Run const run = fixtures::runAVImport({QStringLiteral("-h")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.standardOutput.isEmpty());
    EXPECT_TRUE(run.standardError.contains("Usage: AVImport")) << run.standardError.constData();
    EXPECT_TRUE(run.standardError.contains("--texels-per-cell"));
}

TEST(CommandLine, BadArgumentsExitWithOne) {
    for (QStringList const& arguments :
         {QStringList{}, QStringList{QStringLiteral("--no-such-option"), QStringLiteral("a.tif")},
          QStringList{QStringLiteral("a.tif"), QStringLiteral("b.tif")},
          QStringList{QStringLiteral("--texels-per-cell"), QStringLiteral("many"), QStringLiteral("a.tif")},
          QStringList{QStringLiteral("--frame-size"), QStringLiteral("640"), QStringLiteral("a.tif")}}) {
        fixtures::Run const run = fixtures::runAVImport(arguments);
        EXPECT_EQ(run.exitCode, 1) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(run.standardError.contains("AVImport: ")) << run.standardError.constData();
        EXPECT_TRUE(run.standardOutput.isEmpty());
    }
}

TEST(CommandLine, ImportsIntoAFolderNamedAfterTheInput) {
    auto const dir = testsupport::makeTempDir();
    fixtures::writeRaster(
        dir->filePath(QStringLiteral("valley.tif")), 12, 8, [](int column, int row) { return column * row; },
        GeoTransform{500000, 30, 0, 4000000, 0, -30}, 32617);
    fixtures::Run const run =
        fixtures::runAVImport({QStringLiteral("valley.tif"), QStringLiteral("-n"), QStringLiteral("2"),
                               QStringLiteral("--frame-size"), QStringLiteral("320x240")},
                              dir->path());
    EXPECT_EQ(run.exitCode, 0) << run.standardError.constData();
    EXPECT_TRUE(run.standardOutput.isEmpty());
    for (char const* name : {"valley/heightmap.png", "valley/texture.png", "valley/scenery.avs"})
        EXPECT_TRUE(QFileInfo::exists(dir->filePath(QLatin1String(name)))) << name;
    EXPECT_TRUE(QFileInfo(dir->filePath(QStringLiteral("valley/frames"))).isDir());
    auto const scenery = fixtures::readScenery(dir->filePath(QStringLiteral("valley/scenery.avs")));
    ASSERT_TRUE(scenery);
    EXPECT_EQ(scenery->outputWidth, 320);
    EXPECT_EQ(scenery->elevationScaleX, 2.0);
}

TEST(CommandLine, InputAndOutputErrorsHaveTheirCodes) {
    auto const dir = testsupport::makeTempDir();
    fixtures::Run const missing = fixtures::runAVImport({dir->filePath(QStringLiteral("none.tif"))});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.standardError.contains("no such file")) << missing.standardError.constData();

    fixtures::writeRaster(
        dir->filePath(QStringLiteral("big.tif")), 1000, 1000, [](int, int) { return 1.0; },
        GeoTransform{500000, 30, 0, 4000000, 0, -30}, 32617);
    // 1 024 000 texels square: more than any machine's memory.
    fixtures::Run const huge =
        fixtures::runAVImport({dir->filePath(QStringLiteral("big.tif")), QStringLiteral("-n"), QStringLiteral("1024"),
                               QStringLiteral("-o"), dir->filePath(QStringLiteral("big"))});
    EXPECT_EQ(huge.exitCode, 3);
    EXPECT_TRUE(huge.standardError.contains("3.81 TiB")) << huge.standardError.constData();
}
