#include "fuzz_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

namespace {

QTemporaryDir& scratch() {
    // Destroyed (and the folder removed) when the process exits normally.
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/avrender-fuzz-XXXXXX"));
    return dir;
}

// Fuzzed inputs provoke many warnings by design; they would drown libFuzzer's
// output. Only a fatal message (a failed Q_ASSERT, say) is shown before Qt aborts.
void discardMessage(QtMsgType type, QMessageLogContext const& context, QString const& text) {
    if (type == QtFatalMsg)
        std::fprintf(stderr, "Qt fatal: %s (%s:%d)\n", qPrintable(text), context.file != nullptr ? context.file : "?",
                     context.line);
}

}  // namespace

QString scratchDir() { return scratch().path(); }

void initialise() {
    if (QCoreApplication::instance() != nullptr)
        return;
    if (!scratch().isValid()) {
        std::fprintf(stderr, "fuzz: cannot create a temporary folder: %s\n", qPrintable(scratch().errorString()));
        std::abort();
    }
    QString const home = scratch().filePath(QStringLiteral("home"));
    QDir().mkpath(home + QStringLiteral("/.config"));
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    qInstallMessageHandler(discardMessage);
    // Qt gets a name of its own: libFuzzer's flags are not its business.
    static char applicationName[] = "avrender-fuzz";
    static int applicationArgc = 1;
    static char* applicationArgv[] = {applicationName, nullptr};
    // Lives until the process ends; kept reachable so the leak checker ignores it.
    static QCoreApplication* application = new QCoreApplication(applicationArgc, applicationArgv);
    Q_UNUSED(application);
}

}  // namespace fuzzsupport
