// Video output through ffmpeg: frames in order, codecs players accept, no
// temporary file left behind, and clear failures.
#include "scene_files.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

using testsupport::runProgram;

QByteArray const flight =
    "AusgabePNG=1\nAusDateiname=f%d\nBildanzahl=5\nStartbildNr=0\nEndbildNr=4\nAusBreite=65\nAusHoehe=47\n";

// The output of a tool (ffprobe, ffmpeg) run on a file.
QByteArray toolOutput(char const* tool, QStringList const& arguments) {
    QProcess process;
    process.start(tool, arguments);
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

TEST(VideoOutput, EveryContainerHoldsAllFramesInPlayableFormat) {
    struct Case {
        char const* name;
        QByteArray probed;  // codec, pixel format, width, height, frames
    };
    // Odd frame sizes are padded to even ones for 4:2:0 chroma; GIF keeps them.
    for (Case const& c :
         {Case{"flight.mp4", "h264\nyuv420p\n66\n48\n5\n"}, Case{"flight.webm", "vp9\nyuv420p\n66\n48\n5\n"},
          Case{"flight.gif", "gif\nbgra\n65\n47\n5\n"}}) {
        SCOPED_TRACE(c.name);
        SceneFiles files;
        files.scenery(flight);
        auto const result = runProgram({"-i", "s.avs", "-j", "2", "--video", c.name, "--fps", "10"}, files.dir->path());
        ASSERT_EQ(result.exitCode, 0) << result.standardError.toStdString();
        QByteArray probed;
        for (char const* field : {"codec_name", "pix_fmt", "width", "height", "nb_read_frames"})
            probed += toolOutput("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                                             QStringLiteral("stream=%1").arg(QLatin1String(field)), "-of",
                                             "default=nw=1:nk=1", files.path(c.name)});
        EXPECT_EQ(probed, c.probed);
        // Frame files are still written for the selected formats, and no
        // temporary file is left behind.
        EXPECT_EQ(QDir(files.dir->path()).entryList(QDir::Files | QDir::Hidden),
                  (QStringList{"f0.png", "f1.png", "f2.png", "f3.png", "f4.png", c.name, "h.png", "s.avs", "t.png"}));
    }
}

TEST(VideoOutput, FramesReachTheVideoInFrameOrder) {
    // A turning flight rendered on three threads: every decoded video frame
    // must be nearest to the frame file of the same number.
    SceneFiles files;
    files.scenery(
        "AusgabePNG=1\nAusDateiname=f%d\nBildanzahl=6\nStartbildNr=0\nEndbildNr=5\nRichtungA=0\n"
        "RichtungE=300\nTraegheit=0\n");
    auto const result = runProgram({"-i", "s.avs", "-j", "3", "--video", "v.mp4"}, files.dir->path());
    ASSERT_EQ(result.exitCode, 0) << result.standardError.toStdString();
    QByteArray const decoded =
        toolOutput("ffmpeg", {"-v", "error", "-i", files.path("v.mp4"), "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    int const frameBytes = 64 * 48 * 3;
    ASSERT_EQ(decoded.size(), 6 * frameBytes);
    auto difference = [&](int videoFrame, int n) {
        QImage const image =
            QImage(files.dir->filePath(QStringLiteral("f%1.png").arg(n))).convertToFormat(QImage::Format_RGB888);
        long long sum = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64 * 3; ++x)
                sum += std::abs(static_cast<unsigned char>(decoded[videoFrame * frameBytes + y * 64 * 3 + x]) -
                                image.constScanLine(y)[x]);
        return sum;
    };
    for (int videoFrame = 0; videoFrame < 6; ++videoFrame) {
        int nearest = 0;
        for (int n = 1; n < 6; ++n)
            if (difference(videoFrame, n) < difference(videoFrame, nearest))
                nearest = n;
        EXPECT_EQ(nearest, videoFrame);
    }
}

TEST(VideoOutput, MissingFfmpegOrUnwritableVideoFailBeforeAnyFrame) {
    SceneFiles files;
    files.scenery(flight);
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

}  // namespace
