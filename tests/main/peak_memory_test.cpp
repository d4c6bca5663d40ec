// Peak memory of a render run with a large texture, measured on the program's
// own process.
#include "scene_files.h"

#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <thread>
#include <vector>

namespace {

struct MeasuredRun {
    bool started = false;
    bool timedOut = false;
    bool exited = false;  // false: ended by a signal
    int exitCode = -1;
    long peakRssKiB = -1;  // ru_maxrss of the program's process
    QByteArray standardError;
};

// Runs the program in the folder with fork, exec and wait4, and takes the
// peak resident set size of the program from the rusage of its process.
//
// A forked child inherits the parent's peak ("high water mark") and exec
// carries it into ru_maxrss, so the child resets it to its current size
// first (/proc/self/clear_refs, value 5); the current size of the test
// process is far below that of a run with a large texture.
MeasuredRun runMeasured(QStringList const& arguments, QString const& workingDir, QString const& errorFile,
                        int timeoutMs) {
    MeasuredRun run;
    std::vector<QByteArray> store{QByteArray(AVRENDER_EXE)};
    for (QString const& argument : arguments)
        store.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& entry : store)
        argv.push_back(entry.data());
    argv.push_back(nullptr);
    QByteArray const folder = QFile::encodeName(workingDir);

    int const errorFd = open(QFile::encodeName(errorFile).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int const nullFd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (errorFd < 0 || nullFd < 0) {
        ADD_FAILURE() << "cannot open the output files";
        return run;
    }

    pid_t const pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        int const clearRefs = open("/proc/self/clear_refs", O_WRONLY);
        if (clearRefs >= 0) {
            [[maybe_unused]] ssize_t const written = write(clearRefs, "5", 1);
            close(clearRefs);
        }
        if (chdir(folder.constData()) != 0)
            _exit(126);
        dup2(nullFd, STDIN_FILENO);
        dup2(nullFd, STDOUT_FILENO);
        dup2(errorFd, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(errorFd);
    close(nullFd);
    if (pid < 0) {
        ADD_FAILURE() << "fork failed";
        return run;
    }
    run.started = true;

    int status = 0;
    rusage usage{};
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pid_t const done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (done < 0) {
            ADD_FAILURE() << "wait4 failed";
            return run;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            run.timedOut = true;
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.exited = WIFEXITED(status);
    run.exitCode = run.exited ? WEXITSTATUS(status) : -1;
    run.peakRssKiB = usage.ru_maxrss;  // kibibytes on Linux
    QFile error(errorFile);
    if (error.open(QIODevice::ReadOnly))
        run.standardError = error.readAll();
    return run;
}

TEST(PeakMemory, LargeTextureIsHeldOnce) {
    constexpr int side = 8192;
    constexpr int frameWidth = 640;
    constexpr int frameHeight = 480;
    SceneFiles files;
    {
        // A checkerboard of 256-texel squares over a diagonal gradient; the
        // image is freed before the program runs.
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
    auto const errors = testsupport::makeTempDir();
    QByteArray const frame =
        "AusgabePNG=1\nAusDateiname=m%d\nBildanzahl=1\nAusBreite=" + QByteArray::number(frameWidth) +
        "\nAusHoehe=" + QByteArray::number(frameHeight) + "\n";

    // The same run over the small base texture shows the program's own overhead.
    files.scenery(frame, "small.avs");
    MeasuredRun const small = runMeasured({"-i", "small.avs"}, files.dir->path(), errors->filePath("small.txt"), 60000);
    files.scenery(frame + "TDateiname=big.png\n", "big.avs");
    MeasuredRun const big = runMeasured({"-i", "big.avs"}, files.dir->path(), errors->filePath("big.txt"), 120000);

    for (MeasuredRun const* run : {&small, &big}) {
        ASSERT_TRUE(run->started);
        EXPECT_FALSE(run->timedOut);
        EXPECT_TRUE(run->exited) << "ended by a signal";
        EXPECT_EQ(run->exitCode, 0) << run->standardError.toStdString();
        EXPECT_TRUE(run->standardError.isEmpty()) << run->standardError.toStdString();
    }
    EXPECT_EQ(QImage(files.path("m0.png")).size(), QSize(frameWidth, frameHeight));

    long long const MiB = 1024 * 1024;
    long long const textureBytes = 4LL * side * side;                 // decoded as 32-bit texels
    long long const heightMapBytes = 4LL * 20 * 20;                   // the base height map
    long long const frameBytes = 2 * 4LL * frameWidth * frameHeight;  // frame buffer and the image written
    long long const overheadBytes = 160 * MiB;                        // Qt, libraries, decoder buffers
    long long const boundKiB = (textureBytes + heightMapBytes + frameBytes + overheadBytes) / 1024;

    RecordProperty("peak_rss_kib_small_texture", static_cast<int>(small.peakRssKiB));
    RecordProperty("peak_rss_kib_8192_texture", static_cast<int>(big.peakRssKiB));
    RecordProperty("peak_rss_bound_kib", static_cast<int>(boundKiB));
    std::cout << "[ peak RSS ] 100 x 100 texture: " << small.peakRssKiB << " KiB (" << small.peakRssKiB / 1024
              << " MiB)\n"
              << "[ peak RSS ] 8192 x 8192 texture: " << big.peakRssKiB << " KiB (" << big.peakRssKiB / 1024
              << " MiB), bound " << boundKiB << " KiB (" << boundKiB / 1024 << " MiB), difference "
              << (big.peakRssKiB - small.peakRssKiB) / 1024 << " MiB against " << textureBytes / MiB
              << " MiB of texels\n";
    EXPECT_GT(big.peakRssKiB, textureBytes / 1024) << "the texture cannot have been loaded";
    EXPECT_LT(big.peakRssKiB, boundKiB);
}

}  // namespace
