// Rendering through the program: frame files, names, formats and failures.
#include "scene_files.h"

#include <QDir>
#include <QImage>
#include <QImageReader>

#include <gtest/gtest.h>

namespace {

using testsupport::runProgram;

struct ProgramRun {
    SceneFiles files;
    testsupport::ProcessResult result;

    void render(QByteArray const& lines, QStringList extraArguments = {}) {
        files.scenery(lines);
        result = runProgram(QStringList{"-i", "s.avs"} + extraArguments, files.dir->path());
        EXPECT_FALSE(result.crashed);
        EXPECT_TRUE(result.standardOutput.isEmpty());
    }
    QStringList filesIn(char const* folder) const {
        return QDir(files.path(folder)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};

TEST(RenderRun, FramesInEveryFormatInOrderWithOffsetAndVerboseNames) {
    ProgramRun run;
    QDir(run.files.dir->path()).mkdir("out");
    run.render(
        "AusgabeTGA=1\nAusgabePNG=1\nAusgabeJPG=1\nAusgabePPM=1\nAusDateiname=out/f%04d\n"
        "Bildanzahl=4\nStartbildNr=1\nEndbildNr=2\nOffset=5\n",
        {"-v"});
    EXPECT_EQ(run.result.exitCode, 0);
    EXPECT_EQ(run.result.standardError,
              "out/f0006.tga\nout/f0006.png\nout/f0006.jpg\nout/f0006.ppm\n"
              "out/f0007.tga\nout/f0007.png\nout/f0007.jpg\nout/f0007.ppm\n");
    EXPECT_EQ(run.filesIn("out"), (QStringList{"f0006.jpg", "f0006.png", "f0006.ppm", "f0006.tga", "f0007.jpg",
                                               "f0007.png", "f0007.ppm", "f0007.tga"}));
    // The TGA frame is our 24-bit layout: 18 header bytes and three per pixel.
    EXPECT_EQ(QFileInfo(run.files.path("out/f0006.tga")).size(), 18 + 64 * 48 * 3);
    QImage const png(run.files.path("out/f0006.png"));
    QImage const tga(run.files.path("out/f0006.tga"));
    ASSERT_EQ(png.size(), QSize(64, 48));
    ASSERT_EQ(tga.size(), QSize(64, 48));
    EXPECT_EQ(png.convertToFormat(QImage::Format_RGB32), tga.convertToFormat(QImage::Format_RGB32));
}

TEST(RenderRun, DoubleSizeQualityIsReducedToTheRequestedSize) {
    ProgramRun run;
    run.render("AusgabePNG=1\nAusDateiname=q%d\nGenauRechnen=2\n");
    EXPECT_EQ(run.result.exitCode, 0);
    QImageReader reader(run.files.path("q0.png"));
    EXPECT_EQ(reader.size(), QSize(64, 48))
        << run.filesIn(".").join(' ').toStdString() << " " << reader.errorString().toStdString() << " "
        << run.result.standardError.toStdString();
}

TEST(RenderRun, NoFormatSelectedWritesAndPrintsNothing) {
    ProgramRun run;
    run.render("AusDateiname=n%d\nBildanzahl=3\nEndbildNr=2\n", {"-v"});
    EXPECT_EQ(run.result.exitCode, 0);
    EXPECT_TRUE(run.result.standardError.isEmpty());
    EXPECT_EQ(run.filesIn(".").size(), 3);  // the two images and the scenery
}

TEST(RenderRun, MissingImagesNameTheirFile) {
    ProgramRun texture;
    texture.render("TDateiname=nothere.png\nAusgabePNG=1\n");
    EXPECT_EQ(texture.result.exitCode, 4);
    EXPECT_EQ(texture.result.standardError,
              "Error: Cannot render file \"s.avs\": Could not open texture file \"nothere.png\".\n");
    ProgramRun heights;
    heights.render("HDateiname=gone.png\nAusgabePNG=1\n");
    EXPECT_EQ(heights.result.exitCode, 4);
    EXPECT_EQ(heights.result.standardError,
              "Error: Cannot render file \"s.avs\": Could not open elevation file \"gone.png\".\n");
}

TEST(RenderRun, CurvedFlightRefusalHasEmptyReason) {
    ProgramRun run;
    run.render("Rundflug=1\ncPunkt00=0,0,1\ncPunkt01=1,0,1\ncPunkt02=2,0,1\nAusgabePNG=1\n");
    EXPECT_EQ(run.result.exitCode, 4);
    EXPECT_EQ(run.result.standardError,
              "SceneryDelegate::CurvedFlight(): number of control points is 3, has to be greater than 3.\n"
              "Error: Cannot render file \"s.avs\": .\n");
}

TEST(RenderRun, UnwritableFramesAreReportedAndFailTheRun) {
    ProgramRun run;
    run.render("AusgabePNG=1\nAusgabePPM=1\nAusDateiname=missing/f%d\nBildanzahl=2\nEndbildNr=1\n", {"-v"});
    EXPECT_EQ(run.result.exitCode, 4);
    QList<QByteArray> const lines = run.result.standardError.split('\n');
    ASSERT_EQ(lines.size(), 6);
    EXPECT_TRUE(lines[0].startsWith("Warning: Cannot write frame file \"missing/f0.png\": ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[3].startsWith("Warning: Cannot write frame file \"missing/f1.ppm\": ")) << lines[3].toStdString();
    EXPECT_EQ(lines[4], "Error: Cannot render file \"s.avs\": 4 frame files could not be written.");
}

TEST(RenderRun, TexturesBeyondTheImageSystemsDefaultLimitLoad) {
    ProgramRun run;
    // 6000 x 6000 texels decode to 137 MiB, over the 128 MiB default.
    QImage big(6000, 6000, QImage::Format_RGB32);
    big.fill(0xFF336699u);
    ASSERT_TRUE(big.save(run.files.path("big.png")));
    run.render("TDateiname=big.png\nAusgabePNG=1\nAusDateiname=b%d\n");
    EXPECT_EQ(run.result.exitCode, 0) << run.result.standardError.toStdString();
}

TEST(RenderRun, RenderedFrameShowsTheTerrain) {
    ProgramRun run;
    run.render("AusgabePNG=1\nAusDateiname=v%d\nHintergrundVerwenden=1\nHintergrund=00FF00\n");
    ASSERT_EQ(run.result.exitCode, 0);
    QImage const frame(run.files.path("v0.png"));
    ASSERT_EQ(frame.size(), QSize(64, 48));
    int background = 0;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            background += frame.pixel(x, y) == 0xFF00FF00u;
    EXPECT_GT(background, 0);                                   // sky above the horizon
    EXPECT_LT(background, frame.width() * frame.height() / 2);  // mostly terrain
}

// The compass as the user sees it: world y grows toward the texture image's
// top, heading 0 looks north (+y), 90 east (+x), 180 south, 270 west. The
// texture is four wedges around its centre; from the centre, looking down at
// 60 degrees, the frame's centre shows the wedge the camera faces.
TEST(RenderRun, HeadingsFaceTheirCompassDirection) {
    SceneFiles files;
    QRgb const north = qRgb(255, 0, 0), east = qRgb(0, 255, 0), south = qRgb(0, 0, 255), west = qRgb(255, 255, 0);
    QImage texture(100, 100, QImage::Format_RGB32);
    for (int row = 0; row < 100; ++row)
        for (int column = 0; column < 100; ++column) {
            int const dx = column - 50, up = 50 - row;
            texture.setPixel(column, row,
                             std::abs(up) >= std::abs(dx) ? (up > 0 ? north : south) : (dx > 0 ? east : west));
        }
    ASSERT_TRUE(texture.save(files.path("t.png")));
    QImage flat(20, 20, QImage::Format_RGB32);
    flat.fill(qRgb(0, 0, 0));
    ASSERT_TRUE(flat.save(files.path("h.png")));

    struct Case {
        int heading;
        QRgb colour;
    };
    for (Case const c : {Case{0, north}, Case{90, east}, Case{180, south}, Case{270, west}}) {
        SCOPED_TRACE(c.heading);
        QByteArray const heading = QByteArray::number(c.heading);
        files.scenery(
            "BeobXA=50\nBeobYA=50\nBeobXE=50\nBeobYE=50\nNeigungA=-60\nNeigungE=-60\nLichtX=0\nLichtY=0\n"
            "LichtZ=-1\nAusgabePNG=1\nAusDateiname=o%d\nRichtungA=" +
            heading + "\nRichtungE=" + heading + "\n");
        testsupport::ProcessResult const result = testsupport::runProgram({"-i", "s.avs"}, files.dir->path());
        ASSERT_EQ(result.exitCode, 0) << result.standardError.toStdString();
        QImage const frame(files.path("o0.png"));
        ASSERT_EQ(frame.size(), QSize(64, 48));
        QRgb const seen = frame.pixel(32, 24);
        auto distance = [seen](QRgb colour) {
            return std::abs(qRed(seen) - qRed(colour)) + std::abs(qGreen(seen) - qGreen(colour)) +
                   std::abs(qBlue(seen) - qBlue(colour));
        };
        EXPECT_LT(distance(c.colour), 30) << std::hex << seen;
    }
}

}  // namespace
