// The one-line progress display of a render on standard error: frames done
// of the total, frames per second, elapsed and estimated remaining time,
// redrawn in place. Every other message of the render goes through message(),
// which clears the line first, so progress never mixes with other output.
#pragma once

#include <QElapsedTimer>
#include <QString>

#include <mutex>

class QTextStream;

class ProgressDisplay {
  public:
    ProgressDisplay(QTextStream& log, bool enabled, long long totalFrames);
    ~ProgressDisplay();

    // Writes a complete message (ending in a newline).
    void message(QString const& text);
    // Counts one more frame as done and redraws the line.
    void frameDone();
    // Removes the line.
    void finish();

    // The text of the progress line for the given state (without control characters).
    static QString line(long long done, long long total, double elapsedSeconds);

  private:
    void clearLine();
    void drawLine();

    std::mutex mutex_;
    QTextStream& log_;
    bool enabled_;
    bool drawn_ = false;
    long long total_;
    long long done_ = 0;
    QElapsedTimer timer_;
};
