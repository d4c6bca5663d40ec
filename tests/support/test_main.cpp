// Entry point of every test program: the image system and the settings store
// need the application object, and the settings must never be the user's own.
#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Each test program keeps its settings store (and anything else written
    // below HOME) in its own folder of the build tree; the programs it starts
    // inherit this.
    QByteArray const home = AVRENDER_TEST_HOME;
    QDir().mkpath(QString::fromUtf8(home + "/.config"));
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
