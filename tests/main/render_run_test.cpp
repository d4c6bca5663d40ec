// Rendering through the program: frame files, names, formats and what a frame shows.
#include "scene_files.h"

#include <QDir>
#include <QImage>

#include <gtest/gtest.h>

namespace {

using testsupport::runProgram;

TEST(RenderRun, FramesInEveryFormatInOrderWithOffsetAndVerboseNames) {
    SceneFiles files;
    QDir(files.dir->path()).mkdir("out");
    files.scenery(
        "AusgabeTGA=1\nAusgabePNG=1\nAusgabeJPG=1\nAusgabePPM=1\nAusDateiname=out/f%04d\n"
        "Bildanzahl=4\nStartbildNr=1\nEndbildNr=2\nOffset=5\nHintergrundVerwenden=1\nHintergrund=00FF00\n");
    auto const result = runProgram({"-i", "s.avs", "-v"}, files.dir->path());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.standardOutput.isEmpty());
    EXPECT_EQ(result.standardError,
              "out/f0006.tga\nout/f0006.png\nout/f0006.jpg\nout/f0006.ppm\n"
              "out/f0007.tga\nout/f0007.png\nout/f0007.jpg\nout/f0007.ppm\n");
    EXPECT_EQ(QDir(files.path("out")).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{"f0006.jpg", "f0006.png", "f0006.ppm", "f0006.tga", "f0007.jpg", "f0007.png", "f0007.ppm",
                           "f0007.tga"}));
    // The TGA frame is our 24-bit layout: 18 header bytes and three per pixel.
    EXPECT_EQ(QFileInfo(files.path("out/f0006.tga")).size(), 18 + 64 * 48 * 3);
    QImage const png(files.path("out/f0006.png"));
    ASSERT_EQ(png.size(), QSize(64, 48));
    EXPECT_EQ(png.convertToFormat(QImage::Format_RGB32),
              QImage(files.path("out/f0006.tga")).convertToFormat(QImage::Format_RGB32));
    // The background colour shows as sky above the horizon; most of the frame is terrain.
    int background = 0;
    for (int y = 0; y < png.height(); ++y)
        for (int x = 0; x < png.width(); ++x)
            background += png.pixel(x, y) == 0xFF00FF00u;
    EXPECT_GT(background, 0);
    EXPECT_LT(background, png.width() * png.height() / 2);
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

    for (auto const& [heading, colour] : {std::pair{0, north}, {90, east}, {180, south}, {270, west}}) {
        SCOPED_TRACE(heading);
        QByteArray const degrees = QByteArray::number(heading);
        files.scenery(
            "BeobXA=50\nBeobYA=50\nBeobXE=50\nBeobYE=50\nNeigungA=-60\nNeigungE=-60\nLichtX=0\nLichtY=0\n"
            "LichtZ=-1\nAusgabePNG=1\nAusDateiname=o%d\nRichtungA=" +
            degrees + "\nRichtungE=" + degrees + "\n");
        auto const result = runProgram({"-i", "s.avs"}, files.dir->path());
        ASSERT_EQ(result.exitCode, 0) << result.standardError.toStdString();
        QImage const frame(files.path("o0.png"));
        ASSERT_EQ(frame.size(), QSize(64, 48));
        QRgb const seen = frame.pixel(32, 24);
        int const distance = std::abs(qRed(seen) - qRed(colour)) + std::abs(qGreen(seen) - qGreen(colour)) +
                             std::abs(qBlue(seen) - qBlue(colour));
        EXPECT_LT(distance, 30) << std::hex << seen;
    }
}

}  // namespace
