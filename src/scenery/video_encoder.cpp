#include "video_encoder.h"

#include "scenery_text.h"
#include "temporary_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <vector>

extern char** environ;

namespace {

using scenery::tr;

QString suffixOf(QString const& fileName) { return QFileInfo(fileName).suffix().toLower(); }

// Writes all bytes, retrying after interruptions; false on any other error.
bool writeAll(int fd, char const* data, qsizetype size) {
    while (size > 0) {
        ssize_t const written = ::write(fd, data, static_cast<size_t>(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace

VideoEncoder::~VideoEncoder() {
    abort();
    // Removed or renamed into place by now.
    temporaryfiles::forget(temporarySlot_);
    temporaryfiles::forget(logSlot_);
}

bool VideoEncoder::isSupportedName(QString const& fileName) {
    QString const suffix = suffixOf(fileName);
    return suffix == QLatin1String("mp4") || suffix == QLatin1String("webm") || suffix == QLatin1String("gif");
}

QStringList VideoEncoder::ffmpegArguments(QString const& fileName, QString const& output, int width, int height,
                                          int framesPerSecond) {
    // Options without spaces in their values, written as the command line reads.
    auto options = [](char const* text) { return QString::fromLatin1(text).split(QLatin1Char(' ')); };
    QStringList arguments = options("-hide_banner -loglevel error -nostdin -y -f rawvideo -pix_fmt rgb24");
    arguments << "-s" << QStringLiteral("%1x%2").arg(width).arg(height) << "-r" << QString::number(framesPerSecond)
              << options("-i -");
    // 4:2:0 chroma needs even sizes: odd frames get one black row or column.
    QStringList const even{QStringLiteral("-vf"), QStringLiteral("pad=ceil(iw/2)*2:ceil(ih/2)*2")};
    QString const suffix = suffixOf(fileName);
    if (suffix == QLatin1String("mp4"))
        arguments << even << options("-c:v libx264 -pix_fmt yuv420p -crf 18 -movflags +faststart -f mp4");
    else if (suffix == QLatin1String("webm"))
        arguments << even << options("-c:v libvpx-vp9 -pix_fmt yuv420p -crf 30 -b:v 0 -row-mt 1 -f webm");
    else  // gif: one palette for the whole animation, computed from every frame
        arguments << options(
            "-vf split[a][b];[a]palettegen=stats_mode=full[p];[b][p]paletteuse=dither=sierra2_4a -f gif");
    arguments << output;
    return arguments;
}

bool VideoEncoder::start(QString const& fileName, int width, int height, int framesPerSecond, QString& error) {
    fileName_ = fileName;
    width_ = width;
    height_ = height;
    QFileInfo const target(fileName);
    {
        QTemporaryFile temporary(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                                 QStringLiteral(".XXXXXX"));
        temporary.setAutoRemove(false);
        temporarySlot_ = temporaryfiles::openRemembered(temporary);
        if (temporarySlot_ == temporaryfiles::notOpened) {
            error = tr("Cannot write the video \"%1\": %2").arg(fileName, temporary.errorString());
            return false;
        }
        temporaryName_ = temporary.fileName();
    }
    QTemporaryFile log(QDir::tempPath() + QStringLiteral("/avrender-ffmpeg-XXXXXX.log"));
    log.setAutoRemove(false);
    logSlot_ = temporaryfiles::openRemembered(log);
    logName_ = log.fileName();

    // A dying ffmpeg must show up as a failed write, not end this program.
    std::signal(SIGPIPE, SIG_IGN);

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        error = tr("Cannot start ffmpeg: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    QByteArray const logPath = QFile::encodeName(logName_);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.constData(), O_WRONLY | O_TRUNC, 0600);

    QList<QByteArray> arguments{"ffmpeg"};
    for (QString const& argument : ffmpegArguments(fileName, temporaryName_, width, height, framesPerSecond))
        arguments << argument.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int const result = posix_spawnp(&process_, "ffmpeg", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[0]);
    if (result != 0) {
        ::close(pipeEnds[1]);
        process_ = -1;
        QFile::remove(temporaryName_);
        QFile::remove(logName_);
        error = result == ENOENT ? tr("Cannot start ffmpeg to write the video \"%1\": ffmpeg is not installed "
                                      "(Debian package ffmpeg)")
                                       .arg(fileName)
                                 : tr("Cannot start ffmpeg to write the video \"%1\": %2")
                                       .arg(fileName, QString::fromLocal8Bit(std::strerror(result)));
        return false;
    }
    input_ = pipeEnds[1];
    childSlot_ = temporaryfiles::rememberChild(process_);
    return true;
}

bool VideoEncoder::addFrame(QImage const& frame) {
    if (!running() || broken_)
        return false;
    QImage const rgb = frame.convertToFormat(QImage::Format_RGB888);
    qsizetype const rowBytes = static_cast<qsizetype>(width_) * 3;
    if (rgb.width() != width_ || rgb.height() != height_) {
        broken_ = true;
        return false;
    }
    for (int row = 0; row < height_ && !broken_; ++row)
        broken_ = !writeAll(input_, reinterpret_cast<char const*>(rgb.constScanLine(row)), rowBytes);
    frames_ += broken_ ? 0 : 1;
    return !broken_;
}

QString VideoEncoder::ffmpegMessage() const {
    QFile log(logName_);
    if (!log.open(QIODevice::ReadOnly))
        return QString();
    QList<QByteArray> const lines = log.readAll().trimmed().split('\n');
    return QString::fromLocal8Bit(lines.isEmpty() ? QByteArray() : lines.last().trimmed());
}

bool VideoEncoder::finish(QString& error) {
    if (!running()) {
        error = tr("The video \"%1\" was not started").arg(fileName_);
        return false;
    }
    ::close(input_);
    input_ = -1;
    temporaryfiles::forgetChild(childSlot_);
    childSlot_ = -1;
    int status = 0;
    while (::waitpid(process_, &status, 0) < 0 && errno == EINTR) {
    }
    process_ = -1;
    bool const succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0 && !broken_ && frames_ > 0;
    if (!succeeded) {
        QString const reason = frames_ == 0 ? tr("no frames were rendered") : ffmpegMessage();
        error = tr("ffmpeg could not write the video \"%1\": %2").arg(fileName_, reason);
        QFile::remove(temporaryName_);
    } else {
        if (::rename(QFile::encodeName(temporaryName_).constData(), QFile::encodeName(fileName_).constData()) != 0) {
            error = tr("Cannot move the finished video into place as \"%1\"").arg(fileName_);
            QFile::remove(temporaryName_);
            QFile::remove(logName_);
            return false;
        }
        QFile::setPermissions(fileName_,
                              QFile::permissions(fileName_) | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    }
    QFile::remove(logName_);
    return succeeded;
}

void VideoEncoder::abort() {
    if (input_ >= 0) {
        ::close(input_);
        input_ = -1;
    }
    if (process_ > 0) {
        temporaryfiles::forgetChild(childSlot_);
        childSlot_ = -1;
        ::kill(process_, SIGTERM);
        int status = 0;
        while (::waitpid(process_, &status, 0) < 0 && errno == EINTR) {
        }
        process_ = -1;
        QFile::remove(temporaryName_);
        QFile::remove(logName_);
    }
}
