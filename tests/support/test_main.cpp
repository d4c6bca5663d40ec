// Entry point of every test program: the image system and the settings store
// need the application object, and the settings must never be the user's own.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Each test process keeps its settings store (and anything else written
    // below HOME) in a folder of its own in the build tree, inherited by the
    // programs it starts: CTest runs test processes side by side, and one
    // test's setting must never reach another's run, nor the user's own.
    QDir().mkpath(QStringLiteral(AVRENDER_TEST_HOME));
    QTemporaryDir homeDir(QStringLiteral(AVRENDER_TEST_HOME "/run-XXXXXX"));
    QByteArray const home = QFile::encodeName(homeDir.path());
    QDir().mkpath(QString::fromUtf8(home + "/.config"));
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
