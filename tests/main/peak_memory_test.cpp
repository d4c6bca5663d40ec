// Peak memory of a render run with a large texture, measured on the program's
// own process.
#include "scene_files.h"

#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

TEST(PeakMemory, LargeTextureIsHeldOnce) {
    constexpr int side = 8192;
    constexpr int frameWidth = 640;
    constexpr int frameHeight = 480;
    SceneFiles files;
    {
        // A checkerboard of 256-texel squares over a diagonal gradient; the
        // image is freed before the program runs. Its 256 MiB of texels are
        // also beyond the image system's default allocation limit of 128 MiB.
        QImage texture(side, side, QImage::Format_RGB32);
        for (int y = 0; y < side; ++y) {
            auto* line = reinterpret_cast<QRgb*>(texture.scanLine(y));
            for (int x = 0; x < side; ++x) {
                bool const dark = ((x >> 8) ^ (y >> 8)) & 1;
                int const shade = ((x + y) >> 6) & 0xFF;
                line[x] = dark ? qRgb(shade / 2, 60, 30) : qRgb(200, shade, 120);
            }
        }
        // Quality 80 is zlib level 1: quick to write and still small.
        ASSERT_TRUE(texture.save(files.path("big.png"), "PNG", 80));
    }
    files.scenery("AusgabePNG=1\nAusDateiname=m%d\nBildanzahl=1\nAusBreite=" + QByteArray::number(frameWidth) +
                  "\nAusHoehe=" + QByteArray::number(frameHeight) + "\nTDateiname=big.png\n");

    // The peak resident set size of the program is that of this process's
    // waited-for children, the program being the only one. A forked child
    // inherits the parent's peak and exec carries it into the child's, so the
    // child resets it to its current size first (/proc/self/clear_refs, value
    // 5); the current size of the test process is far below the program's.
    QProcess process;
    process.setWorkingDirectory(files.dir->path());
    process.setChildProcessModifier([] {
        int const clearRefs = open("/proc/self/clear_refs", O_WRONLY);
        if (clearRefs >= 0) {
            [[maybe_unused]] ssize_t const written = write(clearRefs, "5", 1);
            close(clearRefs);
        }
    });
    process.start(QStringLiteral(AVRENDER_EXE), {"-i", "s.avs"});
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(process.readAllStandardError(), QByteArray());
    EXPECT_EQ(QImage(files.path("m0.png")).size(), QSize(frameWidth, frameHeight));
    rusage usage{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    long long const peakKiB = usage.ru_maxrss;  // kibibytes on Linux

    long long const MiB = 1024 * 1024;
    long long const textureBytes = 4LL * side * side;                 // decoded as 32-bit texels
    long long const heightMapBytes = 4LL * 20 * 20;                   // the base height map
    long long const frameBytes = 2 * 4LL * frameWidth * frameHeight;  // frame buffer and the image written
    long long const overheadBytes = 160 * MiB;                        // Qt, libraries, decoder buffers
    long long const boundKiB = (textureBytes + heightMapBytes + frameBytes + overheadBytes) / 1024;
    RecordProperty("peak_rss_kib_8192_texture", static_cast<int>(peakKiB));
    RecordProperty("peak_rss_bound_kib", static_cast<int>(boundKiB));
    EXPECT_GT(peakKiB, textureBytes / 1024) << "the texture cannot have been loaded";
    EXPECT_LT(peakKiB, boundKiB);
}

}  // namespace
