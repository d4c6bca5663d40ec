// AVImport: turns an elevation raster into a height map, a texture and a
// starter scenery for AVRender.
#include "command_line.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QTextStream messages(stderr);
    return runCommandLine(QCoreApplication::arguments(), messages);
}
