#include "test_support.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace testsupport {

std::unique_ptr<QTemporaryDir> makeTempDir() {
    QString const base = QString::fromLatin1(AVRENDER_TEST_SCRATCH_DIR);
    QDir().mkpath(base);
    auto dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/t-XXXXXX"));
    EXPECT_TRUE(dir->isValid());
    return dir;
}

void writeFile(QString const& path, QByteArray const& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QMap<QString, QByteArray> folderContents(QString const& folder) {
    QMap<QString, QByteArray> result;
    for (QString const& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        QFile file(folder + QLatin1Char('/') + name);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        result.insert(name, QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256));
    }
    return result;
}

void setSetting(QString const& key, QString const& value) {
    QSettings settings(QStringLiteral("Altivero"), QString());
    QString const fullKey = QStringLiteral("Settings/") + key;
    if (value.isEmpty())
        settings.remove(fullKey);
    else
        settings.setValue(fullKey, value);
    settings.sync();
}

ProcessResult runProgram(QStringList const& arguments, QString const& workingDir, int timeoutMs, QString const& program,
                         QProcessEnvironment const& environment) {
    ProcessResult result;
    QProcess process;
    process.setWorkingDirectory(workingDir);
    process.setProcessEnvironment(environment);
    // A forked child inherits the parent's peak and exec carries it into the
    // child's, so the child resets it to its current size first
    // (/proc/self/clear_refs, value 5).
    process.setChildProcessModifier([] {
        int const clearRefs = open("/proc/self/clear_refs", O_WRONLY);
        if (clearRefs >= 0) {
            [[maybe_unused]] ssize_t const written = write(clearRefs, "5", 1);
            close(clearRefs);
        }
    });
    process.start(program, arguments);
    if (!process.waitForStarted()) {
        ADD_FAILURE() << "cannot start " << program.toStdString();
        return result;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        result.timedOut = true;
        process.kill();
        process.waitForFinished();
    }
    result.crashed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = process.exitCode();
    result.standardOutput = process.readAllStandardOutput();
    result.standardError = process.readAllStandardError();
    rusage usage{};
    if (getrusage(RUSAGE_CHILDREN, &usage) == 0)
        result.peakKiB = usage.ru_maxrss;  // kibibytes on Linux
    return result;
}

}  // namespace testsupport
