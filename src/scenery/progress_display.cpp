#include "progress_display.h"

#include <QTextStream>

namespace {

QString clock(double seconds) {
    long long const s = seconds > 0 && seconds < 1e9 ? static_cast<long long>(seconds) : 0;
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

ProgressDisplay::ProgressDisplay(QTextStream& log, bool enabled, long long totalFrames)
    : log_(log), enabled_(enabled), total_(totalFrames) {
    timer_.start();
}

ProgressDisplay::~ProgressDisplay() { finish(); }

QString ProgressDisplay::line(long long done, long long total, double elapsedSeconds) {
    double const rate = elapsedSeconds > 0 ? static_cast<double>(done) / elapsedSeconds : 0.0;
    QString text = QStringLiteral("Frame %1 of %2 (%3%), %4 frames/s, elapsed %5")
                       .arg(done)
                       .arg(total)
                       .arg(total > 0 ? done * 100 / total : 100)
                       .arg(rate, 0, 'f', 2)
                       .arg(clock(elapsedSeconds));
    if (done > 0 && done < total)
        text += QStringLiteral(", remaining %1").arg(clock(static_cast<double>(total - done) / rate));
    return text;
}

void ProgressDisplay::clearLine() {
    if (drawn_) {
        log_ << "\r\033[K";
        drawn_ = false;
    }
}

void ProgressDisplay::drawLine() {
    log_ << '\r' << line(done_, total_, static_cast<double>(timer_.nsecsElapsed()) / 1e9) << "\033[K";
    log_.flush();
    drawn_ = true;
}

void ProgressDisplay::message(QString const& text) {
    std::lock_guard lock(mutex_);
    clearLine();
    log_ << text;
    if (enabled_)
        drawLine();
    log_.flush();
}

void ProgressDisplay::frameDone() {
    std::lock_guard lock(mutex_);
    ++done_;
    if (enabled_)
        drawLine();
}

void ProgressDisplay::finish() {
    std::lock_guard lock(mutex_);
    clearLine();
    log_.flush();
}
