// AVRender: reads a scenery file and renders its flight into numbered frame files.
#include "machine.h"
#include "scenery_delegate.h"
#include "temporary_files.h"
#include "video_encoder.h"

#include <QCoreApplication>
#include <QImageReader>
#include <QObject>
#include <QRegularExpression>
#include <QString>
#include <QTextStream>

#include <getopt.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

namespace {

QString const programNameAndVersion = QStringLiteral("AVRender V1.0");

// Values of the long options that have no short form.
enum LongOnly {
    FramesOption = 256,
    SkipExistingOption,
    ProgressOption,
    VideoOption,
    FpsOption,
    CameraPathOption,
    PreviewOption
};

option const long_options[] = {
    {"input-file", 1, nullptr, 'i'},
    {"verbose", 0, nullptr, 'v'},
    {"help", 0, nullptr, 'h'},
    {"jobs", 1, nullptr, 'j'},
    {"quiet", 0, nullptr, 'q'},
    {"frames", 1, nullptr, FramesOption},
    {"skip-existing", 0, nullptr, SkipExistingOption},
    {"progress", 0, nullptr, ProgressOption},
    {"video", 1, nullptr, VideoOption},
    {"fps", 1, nullptr, FpsOption},
    {"camera-path", 1, nullptr, CameraPathOption},
    {"preview", 1, nullptr, PreviewOption},
    {nullptr, 0, nullptr, 0},
};

enum ExitCode { Success = 0, InvalidOption = 1, NonOptionArguments = 2, CannotOpen = 3, CannotRender = 4 };

// What the options beyond the scenery file ask for.
struct RunSettings {
    QString inputFileName = QStringLiteral("-");
    bool verbose = false;
    int jobs = 0;  // 0: every core the process may use
    std::optional<std::pair<int, int>> frames;
    bool skipExisting = false;
    bool progress = false;
    bool quiet = false;
    QString video;
    int fps = 25;
    QString cameraPath;
    QString preview;
};

void Usage(QTextStream& stream) {
    stream << "\n"
           << programNameAndVersion << "\n"
           << "\n"
           << "This program reads a Altivero scenery file and renders one or more image files.\n"
           << "The scenery file is created by the AVScenery program.\n"
           << "\n"
           << "Usage:\n"
           << "\n"
           << "AVRender -i scenery-file [-v]\n"
           << "AVRender [-h | -?]\n"
           << "\n"
           << "\n"
           << "Options:\n"
           << "\n"
           << "-i    --input-file     name of the scenery file (.avs).\n"
           << "-v    --verbose        verbose output\n"
           << "-h|-? --help           help\n"
           << "-j    --jobs           number of threads rendering frames (default: every core)\n"
           << "      --frames         render only frame indices A-B (overrides StartbildNr/EndbildNr)\n"
           << "      --skip-existing  skip frames whose output files all exist (resume a render)\n"
           << "      --progress       show progress even when standard error is not a terminal\n"
           << "-q    --quiet          show no progress\n"
           << "      --video          also write the frames as a video (.mp4, .webm or .gif)\n"
           << "      --fps            frames per second of the video (default 25)\n"
           << "      --camera-path    write each frame's camera to a CSV file instead of rendering\n"
           << "      --preview        write a picture of the path and nine small frames instead of rendering\n";
}

// Qt's own diagnostics ("QFSFileEngine::open: No file name specified" and
// the like) are not this program's messages: every failure is reported by the
// program's own line. Only the messages of the program's own categories (the
// TGA plug-in's) are printed, as their text alone; a fatal one is printed
// before Qt ends the process.
void printOwnMessagesOnly(QtMsgType type, QMessageLogContext const& context, QString const& message) {
    bool const own = context.category != nullptr && std::strncmp(context.category, "avrender.", 9) == 0;
    if (!own && type != QtFatalMsg)
        return;
    std::fputs(qPrintable(message + QLatin1Char('\n')), stderr);
    std::fflush(stderr);
}

// The cores this process may run on.
int availableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(CPU_COUNT(&set), 1);
    return std::max(static_cast<int>(std::thread::hardware_concurrency()), 1);
}

std::optional<int> parseCount(char const* text) {
    bool ok = false;
    int const value = QString::fromLatin1(text).toInt(&ok);
    if (!ok || value < 1 || value > 1024)
        return std::nullopt;
    return value;
}

// "A-B" or a single index "A"; indices may be negative ("-3--1").
std::optional<std::pair<int, int>> parseFrameRange(char const* text) {
    QRegularExpression const pattern(QStringLiteral("^(-?\\d+)(?:-(-?\\d+))?$"));
    QRegularExpressionMatch const match = pattern.match(QString::fromLatin1(text));
    if (!match.hasMatch())
        return std::nullopt;
    bool okFirst = false, okLast = true;
    int const first = match.captured(1).toInt(&okFirst);
    int const last = match.captured(2).isEmpty() ? first : match.captured(2).toInt(&okLast);
    if (!okFirst || !okLast)
        return std::nullopt;
    return std::pair{first, last};
}

// A picture file name the preview can be written under.
bool isPictureName(QString const& name) {
    QRegularExpression const pattern(QStringLiteral("\\.(png|jpe?g|ppm|tga)$"),
                                     QRegularExpression::CaseInsensitiveOption);
    return pattern.match(name).hasMatch();
}

// The short option string that getopt_long needs, derived from the table.
QByteArray shortOptions(QTextStream& log) {
    QByteArray result;
    for (int row = 0;; ++row) {
        option const& entry = long_options[row];
        if (entry.val == 0)
            break;
        result.append(static_cast<char>(entry.val));
        if (entry.has_arg == 1)
            result.append(':');
        else if (entry.has_arg == 2)
            result.append("::");
        else if (entry.has_arg != 0)
            log << QObject::tr("Error: long_options[%1].has_arg has an illegal value: %2").arg(row).arg(entry.has_arg);
    }
    return result;
}

// Real height maps and textures are far larger than the image system's default
// allocation limit allows; let an image take up to half of the machine's memory,
// so that a file that is too large still fails cleanly instead of exhausting it.
void raiseImageAllocationLimit() {
    long long const halfMemoryMiB = halfOfPhysicalMemory(std::int64_t(4) << 30) / (1024 * 1024);
    QImageReader::setAllocationLimit(
        static_cast<int>(std::clamp(halfMemoryMiB, 256LL, static_cast<long long>(INT_MAX))));
}

// Applies one option to the run; an exit code when the program must end
// here (help shown, or a value refused with its message and the usage).
std::optional<int> applyOption(int option, RunSettings& run, QTextStream& log) {
    auto refuse = [&log](QString const& message) {
        log << message;
        Usage(log);
        return std::optional<int>(InvalidOption);
    };
    switch (option) {
        case 'i':
            run.inputFileName = QString::fromLatin1(optarg);
            return std::nullopt;
        case 'v':
            run.verbose = true;
            return std::nullopt;
        case 'h':
        case '?':
            Usage(log);
            log.flush();
            return Success;
        case 'j':
            if (auto const jobs = parseCount(optarg)) {
                run.jobs = *jobs;
                return std::nullopt;
            }
            return refuse(QStringLiteral("Error: Invalid number of jobs: %1 (a whole number from 1 to 1024).\n")
                              .arg(QString::fromLatin1(optarg)));
        case FramesOption:
            if ((run.frames = parseFrameRange(optarg)))
                return std::nullopt;
            return refuse(
                QStringLiteral("Error: Invalid frame range: %1 (expected A-B).\n").arg(QString::fromLatin1(optarg)));
        case SkipExistingOption:
            run.skipExisting = true;
            return std::nullopt;
        case ProgressOption:
            run.progress = true;
            return std::nullopt;
        case 'q':
            run.quiet = true;
            return std::nullopt;
        case VideoOption:
            run.video = QString::fromLocal8Bit(optarg);
            if (VideoEncoder::isSupportedName(run.video))
                return std::nullopt;
            return refuse(QStringLiteral("Error: Invalid video file: %1 (its name must end in .mp4, .webm or .gif).\n")
                              .arg(run.video));
        case FpsOption:
            if (auto const fps = parseCount(optarg); fps && *fps <= 240) {
                run.fps = *fps;
                return std::nullopt;
            }
            return refuse(QStringLiteral("Error: Invalid frame rate: %1 (a whole number from 1 to 240).\n")
                              .arg(QString::fromLatin1(optarg)));
        case CameraPathOption:
            run.cameraPath = QString::fromLocal8Bit(optarg);
            if (!run.cameraPath.isEmpty())
                return std::nullopt;
            return refuse(QStringLiteral("Error: Invalid camera path file: the name is empty.\n"));
        case PreviewOption:
            run.preview = QString::fromLocal8Bit(optarg);
            if (isPictureName(run.preview))
                return std::nullopt;
            return refuse(QStringLiteral("Error: Invalid preview file: %1 (its name must end in .png, .jpg, .ppm or "
                                         ".tga).\n")
                              .arg(run.preview));
        default:
            return refuse(QStringLiteral("Invalid option.\n"));
    }
}

// Reads the command line into `run`; an exit code when the program must end here.
std::optional<int> parseCommandLine(int argc, char** argv, RunSettings& run, QTextStream& log) {
    QByteArray const options = shortOptions(log);
    opterr = 0;
    for (;;) {
        int index = 0;
        int const c = getopt_long(argc, argv, options.constData(), long_options, &index);
        if (c == -1)
            break;
        if (auto const exitCode = applyOption(c, run, log))
            return exitCode;
    }
    if (optind < argc) {
        log << QObject::tr("Error: Non-option ARGV elements.\n");
        while (optind < argc)
            log << argv[optind++] << " ";
        log << "\n";
        Usage(log);
        return NonOptionArguments;
    }
    // A camera path and a preview render no frames, so there are none for a video.
    int const insteadOfFrames = !run.cameraPath.isEmpty() + !run.preview.isEmpty() + !run.video.isEmpty();
    if (insteadOfFrames > 1) {
        log << QObject::tr("Error: Invalid options: take one of --camera-path, --preview and --video.\n");
        Usage(log);
        return InvalidOption;
    }
    return std::nullopt;
}

void applyRunSettings(RunSettings const& run, SceneryDelegate& delegate) {
    delegate.options.jobs = run.jobs > 0 ? run.jobs : availableCores();
    delegate.options.skipExisting = run.skipExisting;
    delegate.options.videoFile = run.video;
    delegate.options.videoFps = run.fps;
    delegate.options.cameraPathFile = run.cameraPath;
    delegate.options.previewFile = run.preview;
    delegate.options.progress = !run.quiet && (run.progress || isatty(STDERR_FILENO));
    if (run.frames) {
        delegate.parameters->firstFrame = run.frames->first;
        delegate.parameters->lastFrame = run.frames->second;
    }
}

}  // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(printOwnMessagesOnly);
    QTextStream log(stderr, QIODevice::ReadWrite);
    RunSettings run;
    if (auto const exitCode = parseCommandLine(argc, argv, run, log))
        return *exitCode;

    QCoreApplication application(argc, argv);
    raiseImageAllocationLimit();
    // Interrupted, a render leaves no temporary frame or video file behind.
    temporaryfiles::removeOnInterrupt();
    SceneryDelegate delegate(log, run.verbose);
    if (!delegate.open(run.inputFileName)) {
        log << QStringLiteral("Error: Cannot open file \"%1\": %2.\n").arg(run.inputFileName, delegate.errorString());
        return CannotOpen;
    }
    applyRunSettings(run, delegate);
    if (!delegate.renderFinal()) {
        log << QStringLiteral("Error: Cannot render file \"%1\": %2.\n")
                   .arg(run.inputFileName, delegate.renderErrorString());
        return CannotRender;
    }
    return Success;
}
