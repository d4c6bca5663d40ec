// Writes small height maps, textures and scenery files for flight tests.
#pragma once

#include "test_support.h"

#include <QImage>
#include <QTemporaryDir>

#include <memory>

struct SceneFiles {
    std::unique_ptr<QTemporaryDir> dir = testsupport::makeTempDir();

    SceneFiles() {
        QImage heights(20, 20, QImage::Format_RGB32);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 20; ++x)
                heights.setPixel(x, y, qRgb(0, (x * 7 + y * 3) & 255, 0));
        heights.save(path("h.png"));
        QImage texture(100, 100, QImage::Format_RGB32);
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x)
                texture.setPixel(x, y, qRgb(x * 2, y * 2, 128));
        texture.save(path("t.png"));
    }

    QString path(char const* name) const { return dir->filePath(QString::fromLatin1(name)); }

    // A scenery over the two images with the given extra lines; returns its path.
    QString scenery(QByteArray const& extra, char const* name = "s.avs") const {
        QByteArray const base =
            "[Param]\nTDateiname=t.png\nHDateiname=h.png\nHDateiSkalaX=5\nHDateiSkalaY=5\n"
            "AusBreite=64\nAusHoehe=48\nAusAuflX=10\nAusAuflY=10\nBeobXA=10\nBeobYA=10\nBeobZA=40\n"
            "BeobXE=60\nBeobYE=60\nBeobZE=40\nNeigungA=-30\nNeigungE=-30\nBrennA=60\nBrennE=60\n";
        testsupport::writeFile(path(name), base + extra);
        return path(name);
    }
};
