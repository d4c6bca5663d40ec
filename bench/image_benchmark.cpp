// Time to decode the demo's texture and height map (8-bit RGB PNG files of
// real data, 1209 x 1290 and 403 x 344 pixels) as a run loads them
// (readImageFile), and through Qt's reader alone for comparison. The files
// are read from the page cache; every iteration decodes into a new image.
#include "image_file.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <QImageReader>
#include <QString>

namespace {

QString demoFile(char const* name) { return QStringLiteral(AVRENDER_DEMO_DIR "/") + QLatin1String(name); }

void BM_ReadImageFile(benchmark::State& state, char const* name) {
    QString const file = demoFile(name);
    for (auto _ : state) {
        QImage const image = readImageFile(file, nullptr);
        if (image.isNull())
            state.SkipWithError("the file could not be read");
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_QtReader(benchmark::State& state, char const* name) {
    QString const file = demoFile(name);
    for (auto _ : state) {
        QImage image;
        if (!QImageReader(file).read(&image))
            state.SkipWithError("the file could not be read");
        benchmark::DoNotOptimize(image.constBits());
    }
}

BENCHMARK_CAPTURE(BM_ReadImageFile, texture, "texture.png")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_QtReader, texture, "texture.png")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReadImageFile, heightmap, "heightmap.png")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_QtReader, heightmap, "heightmap.png")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
