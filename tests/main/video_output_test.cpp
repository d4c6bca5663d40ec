// Video output through ffmpeg: frames in order, codecs players accept, and
// clear failures.
#include "scene_files.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

using testsupport::runProgram;

QByteArray const flight =
    "AusgabePNG=1\nAusDateiname=f%d\nBildanzahl=5\nStartbildNr=0\nEndbildNr=4\nAusBreite=65\nAusHoehe=47\n";

// One ffprobe field of the first video stream.
QString probe(QString const& file, char const* field) {
    QProcess process;
    process.start("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                              QStringLiteral("stream=%1").arg(QLatin1String(field)), "-of", "default=nw=1:nk=1", file});
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

struct Case {
    char const* name;
    char const* codec;
    char const* pixelFormat;
};

TEST(VideoOutput, EveryContainerHoldsAllFramesInPlayableFormat) {
    for (Case const& c : {Case{"flight.mp4", "h264", "yuv420p"}, Case{"flight.webm", "vp9", "yuv420p"},
                          Case{"flight.gif", "gif", "bgra"}}) {
        SceneFiles files;
        files.scenery(flight);
        auto const result = runProgram({"-i", "s.avs", "-j", "2", "--video", c.name, "--fps", "10"}, files.dir->path());
        ASSERT_EQ(result.exitCode, 0) << c.name << ": " << result.standardError.toStdString();
        QString const video = files.path(c.name);
        EXPECT_EQ(probe(video, "codec_name"), QLatin1String(c.codec)) << c.name;
        EXPECT_EQ(probe(video, "nb_read_frames"), QLatin1String("5")) << c.name;
        EXPECT_EQ(probe(video, "pix_fmt"), QLatin1String(c.pixelFormat)) << c.name;
        // Odd frame sizes are padded to even ones for 4:2:0 chroma; GIF keeps them.
        bool const gif = QByteArray(c.name).endsWith(".gif");
        EXPECT_EQ(probe(video, "width"), QLatin1String(gif ? "65" : "66")) << c.name;
        EXPECT_EQ(probe(video, "height"), QLatin1String(gif ? "47" : "48")) << c.name;
        // Frame files are still written for the selected formats, and no
        // temporary file is left behind.
        QStringList const left = QDir(files.dir->path()).entryList(QDir::Files | QDir::Hidden);
        EXPECT_EQ(left,
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
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-i", files.path("v.mp4"), "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    ffmpeg.waitForFinished(60000);
    QByteArray const decoded = ffmpeg.readAllStandardOutput();
    int const frameBytes = 64 * 48 * 3;
    ASSERT_EQ(decoded.size(), 6 * frameBytes);
    QList<QImage> frames;
    for (int n = 0; n < 6; ++n)
        frames << QImage(files.path(QStringLiteral("f%1.png").arg(n).toUtf8().constData()))
                      .convertToFormat(QImage::Format_RGB888);
    auto difference = [&](int videoFrame, QImage const& image) {
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
            if (difference(videoFrame, frames[n]) < difference(videoFrame, frames[nearest]))
                nearest = n;
        EXPECT_EQ(nearest, videoFrame);
    }
}

TEST(VideoOutput, MissingFfmpegFailsClearly) {
    SceneFiles files;
    files.scenery(flight);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", files.dir->path());  // no ffmpeg here
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(files.dir->path());
    process.start(QString::fromUtf8(AVRENDER_EXE), {"-i", "s.avs", "--video", "v.mp4"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 4);
    EXPECT_EQ(process.readAllStandardError(),
              "Error: Cannot render file \"s.avs\": Cannot start ffmpeg to write the video \"v.mp4\": ffmpeg is not "
              "installed (Debian package ffmpeg).\n");
    EXPECT_FALSE(QFile::exists(files.path("f0.png")));  // nothing rendered
    EXPECT_EQ(QDir(files.dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

TEST(VideoOutput, UnwritableVideoAndBadOptionsAreRefused) {
    SceneFiles files;
    files.scenery(flight);
    auto const missingFolder = runProgram({"-i", "s.avs", "--video", "nowhere/v.mp4"}, files.dir->path());
    EXPECT_EQ(missingFolder.exitCode, 4);
    EXPECT_TRUE(missingFolder.standardError.startsWith(
        "Error: Cannot render file \"s.avs\": Cannot write the video \"nowhere/v.mp4\": "))
        << missingFolder.standardError.toStdString();
    for (QStringList const& arguments :
         {QStringList{"--video", "v.avi"}, QStringList{"--video", "v"}, QStringList{"--fps", "0"}}) {
        auto const result = runProgram(QStringList{"-i", "s.avs"} + arguments, files.dir->path());
        EXPECT_EQ(result.exitCode, 1) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.standardError.startsWith("Error: Invalid ")) << result.standardError.toStdString();
    }
}

}  // namespace
