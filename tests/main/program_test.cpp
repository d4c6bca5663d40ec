// The program as a user runs it: options, usage text, exit codes and
// messages; frame files, their names and formats, what a frame shows; videos
// through ffmpeg; and the peak memory of a run with a large texture.
#include "scene_files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

using testsupport::runProgram;

QByteArray const usageText =
    "\nAVRender V1.0\n\n"
    "This program reads a Altivero scenery file and renders one or more image files.\n"
    "The scenery file is created by the AVScenery program.\n\n"
    "Usage:\n\nAVRender -i scenery-file [-v]\nAVRender [-h | -?]\n\n\nOptions:\n\n"
    "-i    --input-file     name of the scenery file (.avs).\n"
    "-v    --verbose        verbose output\n"
    "-h|-? --help           help\n"
    "-j    --jobs           number of threads rendering frames (default: every core)\n"
    "      --frames         render only frame indices A-B (overrides StartbildNr/EndbildNr)\n"
    "      --skip-existing  skip frames whose output files all exist (resume a render)\n"
    "      --progress       show progress even when standard error is not a terminal\n"
    "-q    --quiet          show no progress\n"
    "      --video          also write the frames as a video (.mp4, .webm or .gif)\n"
    "      --fps            frames per second of the video (default 25)\n"
    "      --camera-path    write each frame's camera to a CSV file instead of rendering\n"
    "      --preview        write a picture of the path and nine small frames instead of rendering\n";

TEST(CommandLine, HelpAndUnknownOptionsPrintUsageAndSucceed) {
    for (QStringList const& arguments :
         {QStringList{"-h"}, QStringList{"-?"}, QStringList{"--help"}, QStringList{"-x"}, QStringList{"-i"},
          QStringList{"--input-file"}, QStringList{"--verbose=3"}, QStringList{"-v", "--bogus"}}) {
        auto const result = runProgram(arguments);
        EXPECT_EQ(result.exitCode, 0) << arguments.join(' ').toStdString();
        EXPECT_EQ(result.standardError, usageText) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.standardOutput.isEmpty());
    }
    auto const stray = runProgram({"a.avs", "-v", "b c"});
    EXPECT_EQ(stray.exitCode, 2);
    EXPECT_EQ(stray.standardError, "Error: Non-option ARGV elements.\na.avs b c \n" + usageText);
}

TEST(CommandLine, InputFileNamesAndTheirRefusals) {
    auto const dir = testsupport::makeTempDir();
    testsupport::writeFile(dir->filePath("a.avs"), "Foo=1\n");
    testsupport::writeFile(dir->filePath("b.avs"), "Bar=2\n");
    QByteArray const fooRefused = "Error: Cannot open file \"a.avs\": No such key: Foo=1.\n";
    for (auto const& [arguments, standardError] : {
             // Without an input file the program reads "-" in its working folder.
             std::pair{QStringList{}, QByteArray("Error: Cannot open file \"-\": No such file or directory.\n")},
             {{"-i", ""}, "Error: Cannot open file \"\": No file name specified.\n"},
             // Every form of the option sets the file; the last one counts.
             {{"--input-file=a.avs"}, fooRefused},
             {{"-ia.avs"}, fooRefused},
             {{"--inp", "a.avs"}, fooRefused},
             {{"-i", "b.avs", "-i", "a.avs"}, fooRefused},
         }) {
        auto const result = runProgram(arguments, dir->path());
        EXPECT_EQ(result.exitCode, 3) << arguments.join(' ').toStdString();
        EXPECT_EQ(result.standardError, standardError) << arguments.join(' ').toStdString();
    }
}

TEST(CommandLine, BadOptionValuesAreRefused) {
    SceneFiles files;
    files.scenery("AusgabePNG=1\nAusDateiname=f%d\n");
    for (QStringList const& arguments :
         {QStringList{"-j", "0"}, QStringList{"-j", "x"}, QStringList{"--frames", "a-b"}, QStringList{"--frames", "1-"},
          QStringList{"--video", "v.avi"}, QStringList{"--video", "v"}, QStringList{"--fps", "0"},
          QStringList{"--camera-path", ""}, QStringList{"--camera-path", "p.csv", "--video", "v.mp4"},
          QStringList{"--preview", "p.gif"}, QStringList{"--preview", "p.png", "--camera-path", "p.csv"}}) {
        auto const result = runProgram(QStringList{"-i", "s.avs"} + arguments, files.dir->path());
        EXPECT_EQ(result.exitCode, 1) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.standardError.startsWith("Error: Invalid ")) << result.standardError.toStdString();
        EXPECT_EQ(QDir(files.dir->path()).entryList(QDir::Files).size(), 3);  // no frame written
    }
}

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

// The camera path replaces the frames: one row per frame of the range, named
// by its frame number.
// A frame file that cannot be written or put in place is reported with the
// system's reason and fails the run; the frame's other file is still written
// and no temporary file is left behind.
TEST(RenderRun, FrameFilesThatCannotBeWritten) {
    struct Case {
        char const* what;
        char const* outputs;
        char const* shellSetup;  // run before the program
        bool folderAtFrameName;
        int reason;  // errno
        QStringList left;
    };
    // A file size limit of 20 blocks (at most 20 KiB) cuts the 230 KB frame
    // short as a full disk would; the signal a write beyond it sends is
    // ignored, so the write fails instead.
    Case const cases[] = {
        {"a folder holds the frame's name",
         "AusgabePNG=1\nAusgabePPM=1\n",
         "",
         true,
         EISDIR,
         {"f0.png", "f0.ppm", "h.png", "s.avs", "t.png"}},
        {"cut short by a file size limit",
         "AusgabePPM=1\n",
         "trap '' XFSZ; ulimit -f 20; ",
         false,
         EFBIG,
         {"h.png", "s.avs", "t.png"}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        SceneFiles files;
        if (c.folderAtFrameName) {
            ASSERT_TRUE(QDir().mkpath(files.path("f0.ppm")));
        }
        files.scenery(QByteArray(c.outputs) +
                      "AusDateiname=f%d\nBildanzahl=1\nStartbildNr=0\nEndbildNr=0\nAusBreite=320\nAusHoehe=240\n");
        QString const command = QString::fromLatin1(c.shellSetup) + "exec \"$0\" -i s.avs -j 2";
        auto const result = runProgram({"-c", command, QStringLiteral(AVRENDER_EXE)}, files.dir->path(), 120000, "sh");
        EXPECT_EQ(result.exitCode, 4);
        EXPECT_EQ(result.standardError, "Warning: Cannot write frame file \"f0.ppm\": " +
                                            QString::fromLocal8Bit(std::strerror(c.reason)).toUtf8() +
                                            "\nError: Cannot render file \"s.avs\": 1 frame files could not be "
                                            "written.\n");
        EXPECT_EQ(QDir(files.dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), c.left);
        if (c.left.contains("f0.png")) {
            EXPECT_EQ(QImage(files.path("f0.png")).size(), QSize(320, 240));
        }
    }
}

TEST(RenderRun, CameraPathInsteadOfFrames) {
    SceneFiles files;
    files.scenery("AusgabePNG=1\nAusDateiname=f%d\nBildanzahl=5\nStartbildNr=1\nEndbildNr=3\nOffset=7\n");
    auto const result = runProgram({"-i", "s.avs", "-v", "--camera-path", "p.csv"}, files.dir->path());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.standardError, QByteArray());
    QFile path(files.path("p.csv"));
    ASSERT_TRUE(path.open(QIODevice::ReadOnly));
    QList<QByteArray> const rows = path.readAll().split('\n');
    ASSERT_EQ(rows.size(), 5);
    EXPECT_EQ(rows[0], "frame,x,y,z,heading,tilt,bank,focal,fog,zscale");
    for (int k = 1; k <= 3; ++k)
        EXPECT_TRUE(rows[k].startsWith(QByteArray::number(7 + k) + ",")) << rows[k].toStdString();
    EXPECT_EQ(QDir(files.dir->path()).entryList(QDir::Files).size(), 4);  // no frame file
}

// The preview: the texture from above with the path drawn over it, beside
// the nine frames, each exactly the frame the renderer draws at a quarter of
// the width, height, focal length and grid; no frame file is written.
TEST(RenderRun, PreviewShowsThePathAndQuarterFrames) {
    QByteArray const flight =
        "AusgabePNG=1\nAusDateiname=f%d\nBildanzahl=9\nStartbildNr=0\nEndbildNr=8\nBeobXE=90\nBeobYE=90\n"
        "RichtungA=135\nRichtungE=135\n";
    SceneFiles files;
    files.scenery(flight);
    auto const result = runProgram({"-i", "s.avs", "--preview", "p.png"}, files.dir->path());
    ASSERT_EQ(result.exitCode, 0) << result.standardError.toStdString();
    EXPECT_EQ(result.standardError, QByteArray());
    EXPECT_EQ(QDir(files.dir->path()).entryList(QDir::Files).size(), 4);  // images, scenery, preview
    QImage const preview = QImage(files.path("p.png")).convertToFormat(QImage::Format_RGB32);
    // A 100 x 100 map, then three columns of 16 x 12 frames in cells of 28 x 24.
    ASSERT_EQ(preview.size(), QSize(100 + 3 * 28, 100));

    // The flight goes from world (10, 10) to (90, 90), looking south-east:
    // map pixels more than 12 away from that line are the texture's, and
    // the line itself is drawn in white (the texture has no white, the
    // marks across it and the dots are coloured).
    QImage const texture = QImage(files.path("t.png")).convertToFormat(QImage::Format_RGB32);
    int white = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            double const along = std::clamp((x + 0.5 - 10 + (100 - y - 0.5 - 10)) / 2.0, 0.0, 80.0);
            double const distance = std::hypot(x + 0.5 - (10 + along), (100 - y - 0.5) - (10 + along));
            QRgb const seen = preview.pixel(x, y);
            white += distance < 0.5 && std::min({qRed(seen), qGreen(seen), qBlue(seen)}) >= 180;
            EXPECT_TRUE(distance <= 12 || seen == texture.pixel(x, y)) << x << "," << y;
        }
    EXPECT_GE(white, 20);

    files.scenery(flight + "AusBreite=16\nAusHoehe=12\nAusAuflX=2\nAusAuflY=2\nBrennA=15\nBrennE=15\n");
    ASSERT_EQ(runProgram({"-i", "s.avs"}, files.dir->path()).exitCode, 0);
    for (int k = 0; k < 9; ++k) {
        QImage const frame = QImage(files.path(QByteArray("f") + QByteArray::number(k) + ".png"));
        EXPECT_EQ(preview.copy(100 + k % 3 * 28 + 6, k / 3 * 24 + 6, 16, 12),
                  frame.convertToFormat(QImage::Format_RGB32))
            << "frame " << k;
    }
}

// The preview's refusals: a name it cannot be written under, a range without
// frames, a folder that does not exist.
TEST(RenderRun, PreviewRefusals) {
    SceneFiles files;
    files.scenery("StartbildNr=3\nEndbildNr=2\n");
    auto const empty = runProgram({"-i", "s.avs", "--preview", "p.png"}, files.dir->path());
    EXPECT_EQ(empty.exitCode, 4);
    EXPECT_EQ(empty.standardError,
              "Error: Cannot render file \"s.avs\": The frame range is empty: there is nothing to preview.\n");
    files.scenery("");
    auto const missing = runProgram({"-i", "s.avs", "--preview", "nowhere/p.png"}, files.dir->path());
    EXPECT_EQ(missing.exitCode, 4);
    EXPECT_TRUE(
        missing.standardError.startsWith("Error: Cannot render file \"s.avs\": Cannot write the preview "
                                         "\"nowhere/p.png\": "))
        << missing.standardError.toStdString();
    EXPECT_EQ(QDir(files.dir->path()).entryList(QDir::Files).size(), 3);
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

// Every container holds all frames in a format players accept; the frame
// files are still written and no temporary file is left behind.
TEST(VideoOutput, EveryContainerHoldsAllFramesInPlayableFormat) {
    // Odd frame sizes are padded to even ones for 4:2:0 chroma; GIF keeps them.
    for (auto const& [name, probed] : {std::pair{"flight.mp4", "h264\n66\n48\nyuv420p\n5\n"},
                                       {"flight.webm", "vp9\n66\n48\nyuv420p\n5\n"},
                                       {"flight.gif", "gif\n65\n47\nbgra\n5\n"}}) {
        SCOPED_TRACE(name);
        SceneFiles files;
        files.scenery(
            "AusgabePNG=1\nAusDateiname=f%d\nBildanzahl=5\nStartbildNr=0\nEndbildNr=4\nAusBreite=65\n"
            "AusHoehe=47\n");
        auto const result = runProgram({"-i", "s.avs", "-j", "2", "--video", name, "--fps", "10"}, files.dir->path());
        ASSERT_EQ(result.exitCode, 0) << result.standardError.toStdString();
        auto const probe =
            runProgram({"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                        "stream=codec_name,width,height,pix_fmt,nb_read_frames", "-of", "default=nw=1:nk=1", name},
                       files.dir->path(), 60000, "ffprobe");
        EXPECT_EQ(probe.standardOutput, probed);
        EXPECT_EQ(QDir(files.dir->path()).entryList(QDir::Files | QDir::Hidden),
                  (QStringList{"f0.png", "f1.png", "f2.png", "f3.png", "f4.png", name, "h.png", "s.avs", "t.png"}));
    }
}

TEST(VideoOutput, MissingFfmpegOrUnwritableVideoFailBeforeAnyFrame) {
    SceneFiles files;
    files.scenery("AusgabePNG=1\nAusDateiname=f%d\n");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", files.dir->path());  // no ffmpeg here
    auto const noFfmpeg = runProgram({"-i", "s.avs", "--video", "v.mp4"}, files.dir->path(), 60000,
                                     QStringLiteral(AVRENDER_EXE), environment);
    EXPECT_EQ(noFfmpeg.exitCode, 4);
    EXPECT_EQ(noFfmpeg.standardError,
              "Error: Cannot render file \"s.avs\": Cannot start ffmpeg to write the video \"v.mp4\": ffmpeg is not "
              "installed (Debian package ffmpeg).\n");
    auto const missingFolder = runProgram({"-i", "s.avs", "--video", "nowhere/v.mp4"}, files.dir->path());
    EXPECT_EQ(missingFolder.exitCode, 4);
    EXPECT_TRUE(missingFolder.standardError.startsWith(
        "Error: Cannot render file \"s.avs\": Cannot write the video \"nowhere/v.mp4\": "))
        << missingFolder.standardError.toStdString();
    EXPECT_EQ(QDir(files.dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 3);  // nothing rendered
}

// Interrupted by SIGTERM mid-render, the program removes its temporary frame
// and video files and ends by that signal; the frame files left are whole.
TEST(VideoOutput, InterruptedRunLeavesNoTemporaryFile) {
    SceneFiles files;
    files.scenery("AusgabePNG=1\nAusDateiname=f%d\nBildanzahl=3000\nStartbildNr=0\nEndbildNr=2999\n");
    QProcess process;
    process.setWorkingDirectory(files.dir->path());
    process.start(QStringLiteral(AVRENDER_EXE), {"-i", "s.avs", "-j", "2", "--video", "v.mp4"});
    ASSERT_TRUE(process.waitForStarted());
    QElapsedTimer clock;
    clock.start();
    while (!QFileInfo::exists(files.path("f10.png")) && clock.elapsed() < 60000)
        QThread::msleep(10);
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);  // ended by the signal, not by an exit code
    QDir const folder(files.dir->path());
    QStringList const hidden = folder.entryList(QDir::Files | QDir::Hidden).filter(QRegularExpression("^\\."));
    EXPECT_TRUE(hidden.isEmpty()) << hidden.join(' ').toStdString();
    EXPECT_FALSE(QFileInfo::exists(files.path("v.mp4")));
    QStringList const frames = folder.entryList({"f*.png"});
    EXPECT_GE(frames.size(), 11);
    for (QString const& name : frames)
        EXPECT_FALSE(QImage(files.dir->filePath(name)).isNull()) << name.toStdString();
}

// Peak memory of a run with an 8192 x 8192 texture, measured on the program's
// own process: the texture is held once.
TEST(PeakMemory, LargeTextureIsHeldOnce) {
    constexpr int side = 8192, frameWidth = 640, frameHeight = 480;
    SceneFiles files;
    {
        // Freed before the program runs. Its 256 MiB of texels are beyond the
        // image system's default allocation limit of 128 MiB.
        QImage texture(side, side, QImage::Format_RGB32);
        texture.fill(qRgb(200, 120, 60));
        ASSERT_TRUE(texture.save(files.path("big.png"), "PNG", 80));  // zlib level 1: quick
    }
    files.scenery("AusgabePNG=1\nAusDateiname=m%d\nBildanzahl=1\nAusBreite=640\nAusHoehe=480\nTDateiname=big.png\n");

    // The program is this test's only child.
    auto const run = testsupport::runProgram({"-i", "s.avs"}, files.dir->path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(run.crashed);
    EXPECT_EQ(run.standardError, QByteArray());
    EXPECT_EQ(QImage(files.path("m0.png")).size(), QSize(frameWidth, frameHeight));
    long long const peakKiB = run.peakKiB;

    // 32-bit texels, the 20 x 20 height map, the frame buffer and the image
    // written, and 160 MiB for Qt, the libraries and decoder buffers.
    long long const textureBytes = 4LL * side * side;
    long long const boundKiB =
        (textureBytes + 4LL * 20 * 20 + 2 * 4LL * frameWidth * frameHeight + (160LL << 20)) / 1024;
    EXPECT_GT(peakKiB, textureBytes / 1024) << "the texture cannot have been loaded";
    EXPECT_LT(peakKiB, boundKiB);
}

}  // namespace
