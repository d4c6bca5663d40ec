// Encodes the frames of a render into a video file with an ffmpeg process.
//
// Frames go to ffmpeg's standard input as raw RGB in the order they are
// added; the video is written under a temporary name in the target folder and
// renamed into place only when ffmpeg has finished successfully, so a failed
// or interrupted render never leaves a truncated video behind.
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

#include <sys/types.h>

class VideoEncoder {
  public:
    VideoEncoder() = default;
    VideoEncoder(VideoEncoder const&) = delete;
    VideoEncoder& operator=(VideoEncoder const&) = delete;
    // An encoder that was not finished is stopped and its temporary file removed.
    ~VideoEncoder();

    // True for the suffixes a video can have: .mp4, .webm and .gif.
    static bool isSupportedName(QString const& fileName);

    // The ffmpeg arguments that encode raw RGB frames of the given size from
    // standard input into `output` in the container of `fileName`.
    static QStringList ffmpegArguments(QString const& fileName, QString const& output, int width, int height,
                                       int framesPerSecond);

    // Starts ffmpeg for frames of width x height; false with a message when
    // it cannot be started.
    bool start(QString const& fileName, int width, int height, int framesPerSecond, QString& error);

    // Sends one frame; false once ffmpeg no longer takes frames.
    bool addFrame(QImage const& frame);

    // Ends the input, waits for ffmpeg and renames the video into place.
    bool finish(QString& error);

    bool running() const { return process_ > 0; }

  private:
    void abort();
    QString ffmpegMessage() const;

    QString fileName_;
    QString temporaryName_;
    QString logName_;
    // Their slots in the list an interrupted run removes.
    int temporarySlot_ = -1, logSlot_ = -1, childSlot_ = -1;
    int width_ = 0;
    int height_ = 0;
    int input_ = -1;
    pid_t process_ = -1;
    bool broken_ = false;
    int frames_ = 0;
};
