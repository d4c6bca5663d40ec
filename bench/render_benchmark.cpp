// Time to render one frame of a fixed synthetic scene: rolling hills under a
// procedural texture, seen from a camera at moderate height looking down at
// 20 degrees. Only TerrainScanner::Scan is timed; the scene is built before.
//
// Cases: 640 x 480 and 1920 x 1080, quality (exactMode) 0 (nearest texel)
// and 1 (filtered). Counters per case:
//   time_per_pixel CPU time per output pixel (frame CPU time / pixels)
//   cells_drawn    terrain cells drawn per frame (after the fog cut-off)
//   cells_visited  terrain cells visited per frame
#include "elevation_image.h"
#include "geometry.h"
#include "terrain_scanner.h"
#include "texture_image.h"
#include "transformation.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

// Height map: mapSize x mapSize samples, spacing world units apart.
constexpr int mapSize = 512;
constexpr double spacing = 4.0;
constexpr double zScale = 0.01;                      // world units per height count
constexpr double terrainExtent = mapSize * spacing;  // 2048 world units
// Texture: one texel per world unit over the whole terrain.
constexpr int textureSize = 2048;
// Cells per side of the drawing grid (8 world units each).
constexpr int gridCells = 256;

// Set by --frame_dir=DIR: each case writes its last frame there as a PNG, so
// that frames before and after a change can be compared pixel by pixel.
QString frameDir;

// Smooth hills between 0 and 60 world units: a sum of a few sines.
double hillHeight(double x, double y) {
    return 14.0 * (std::sin(x * 0.0061) + 1.0) + 11.0 * (std::sin(y * 0.0047 + 0.8) + 1.0) +
           5.0 * (std::sin((x + y) * 0.017 + 1.3) + 1.0);
}

// Small deterministic per-texel noise in [0, 31].
unsigned int texelNoise(int u, int v) {
    std::uint32_t h = static_cast<std::uint32_t>(u) * 0x9E3779B1u ^ static_cast<std::uint32_t>(v) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h & 31u;
}

unsigned int channel(double value) { return value < 0 ? 0u : value > 255 ? 255u : static_cast<unsigned int>(value); }

// Opaque field-like colours, one row of texels at a time: large patches of
// varying green and brown, field edges and fine noise, so that both magnified
// and minified texture lookups meet real detail. The smooth terms are
// separable, so their sines come from per-column and per-row tables.
struct TexturePattern {
    std::vector<double> fieldU, fieldV, greenU, greenV, blueV;

    explicit TexturePattern(int size) {
        for (int k = 0; k < size; ++k) {
            double const t = k;
            fieldU.push_back(std::sin(t * 0.021));
            fieldV.push_back(std::sin(t * 0.017));
            greenU.push_back(20 * std::sin(t * 0.005));
            greenV.push_back(20 * std::cos(t * 0.003));
            blueV.push_back(30 * std::cos(t * 0.011));
        }
    }

    // Texel (u, v), v counting from the bottom row.
    unsigned int colour(int u, int v) const {
        unsigned int const n = texelNoise(u, v);
        if ((u % 64) < 2 || (v % 96) < 2)
            return 0xFF000000u | channel(70 + n) << 16 | channel(60 + n) << 8 | channel(40 + n / 2);
        double const r = 90 + 50 * fieldU[u] * fieldV[v] + n;
        double const g = 120 + greenU[u] + greenV[v] + n;
        double const b = 50 + blueV[v] + n / 2;
        return 0xFF000000u | channel(r) << 16 | channel(g) << 8 | channel(b);
    }
};

// The read-only terrain data, shared by every case and built once.
struct Terrain {
    ElevationImage elevation{mapSize, mapSize, QImage::Format_RGB32};
    TextureImage texture{textureSize, textureSize, QImage::Format_ARGB32};

    Terrain() {
        elevation.pixelsPerUnitX = 1 / spacing;
        elevation.pixelsPerUnitY = 1 / spacing;
        elevation.setZScale(zScale);
        for (int row = 0; row < mapSize; ++row) {
            auto* const line = reinterpret_cast<QRgb*>(elevation.scanLine(row));
            double const y = (mapSize - 1 - row) * spacing;
            for (int column = 0; column < mapSize; ++column) {
                long const count = std::lround(hillHeight(column * spacing, y) / zScale);
                line[column] = 0xFF000000u | (static_cast<unsigned int>(count) & 0xFFFFFFu);
            }
        }
        elevation.refreshPixelCache();

        TexturePattern const pattern(textureSize);
        for (int row = 0; row < textureSize; ++row) {
            auto* const line = reinterpret_cast<QRgb*>(texture.scanLine(row));
            for (int column = 0; column < textureSize; ++column)
                line[column] = pattern.colour(column, textureSize - 1 - row);
        }
        texture.refreshPixelCache();
        texture.setBackgroundColor(0xFF0000FFu);
    }
};

Terrain& terrain() {
    static Terrain shared;
    return shared;
}

// Arguments: frame width, frame height, quality (exactMode).
void BM_RenderFrame(benchmark::State& state) {
    int const width = static_cast<int>(state.range(0));
    int const height = static_cast<int>(state.range(1));
    int const exactMode = static_cast<int>(state.range(2));
    Terrain& scene = terrain();

    C4Vector light(-1.0, 1.0, -1.0, 0.0);
    normalise3(light);

    Transformation camera(nullptr, light, width, height);
    camera.SetzeTexturDatei(&scene.texture);
    TextureImage frame(width, height, QImage::Format_RGB32);

    // Near the south-west edge, looking north-north-east across the hills.
    double const focal = 0.9 * width;
    camera.SetView(C4Vector(700.0, 100.0, 150.0, 1.0), 20.0 * std::numbers::pi / 180.0,
                   -20.0 * std::numbers::pi / 180.0, focal, 0.0);

    TerrainScanner scanner({.camera = &camera,
                            .elevation = &scene.elevation,
                            .frameImage = &frame,
                            .lightDirection = light,
                            .renderWidth = width,
                            .renderHeight = height,
                            .terrainExtentX = terrainExtent,
                            .terrainExtentY = terrainExtent,
                            .gridResolutionX = double(gridCells),
                            .gridResolutionY = double(gridCells),
                            .fogDistance = terrainExtent / 2});
    bool const backToFront = state.range(3) != 0;
    if (backToFront)
        scanner.drawingOrder = TerrainScanner::DrawingOrder::BackToFront;

    for (auto _ : state) {
        scanner.Scan(&scene.texture, false, 0xFF000000u, exactMode);
        benchmark::DoNotOptimize(frame.constBits());
        benchmark::ClobberMemory();
    }

    double const pixels = static_cast<double>(width) * height;
    // A rate counter is value * iterations / CPU seconds; with kInvert it is
    // CPU seconds / (value * iterations): here the CPU seconds per output
    // pixel. The console shows it with an SI prefix ("83.3ns"); JSON and CSV
    // output give it in seconds.
    state.counters["time_per_pixel"] =
        benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["cells_drawn"] = static_cast<double>(scanner.cellsDrawn);
    // Pixels coloured per frame pixel: above 1 when triangles paint over each other.
    state.counters["shaded_per_pixel"] = static_cast<double>(scanner.pixelsDrawn) / pixels;
    state.counters["cells_visited"] = static_cast<double>(scanner.cellsVisited);
    state.SetLabel(std::string(exactMode == 0 ? "nearest" : "filtered") +
                   (backToFront ? ", back to front" : ", front to back"));

    if (!frameDir.isEmpty()) {
        QString const name = QStringLiteral("%1/frame_%2x%3_q%4%5.png")
                                 .arg(frameDir)
                                 .arg(width)
                                 .arg(height)
                                 .arg(exactMode)
                                 .arg(backToFront ? QStringLiteral("_back_to_front") : QString());
        if (!frame.save(name))
            state.SkipWithError("cannot write the frame file");
    }
}

BENCHMARK(BM_RenderFrame)
    ->ArgNames({"width", "height", "quality", "back_to_front"})
    ->Args({640, 480, 0, 0})
    ->Args({640, 480, 1, 0})
    ->Args({1920, 1080, 0, 0})
    ->Args({1920, 1080, 1, 0})
    ->Args({3840, 2160, 0, 0})
    ->Args({640, 480, 0, 1})
    ->Args({1920, 1080, 1, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // Our own option, taken out of the argument list before the check below.
    char const* const frameDirOption = "--frame_dir=";
    int kept = 1;
    for (int k = 1; k < argc; ++k) {
        if (std::strncmp(argv[k], frameDirOption, std::strlen(frameDirOption)) == 0)
            frameDir = QString::fromLocal8Bit(argv[k] + std::strlen(frameDirOption));
        else
            argv[kept++] = argv[k];
    }
    argc = kept;
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    // The camera and texture constructors read the settings store; point it at
    // an empty temporary folder so that the user's own settings never apply.
    QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "render_benchmark: cannot create a temporary folder\n");
        return 1;
    }
    QByteArray const homePath = QFile::encodeName(home.path());
    QDir().mkpath(home.path() + QStringLiteral("/.config"));
    qputenv("HOME", homePath);
    qputenv("XDG_CONFIG_HOME", homePath + "/.config");
    QCoreApplication application(argc, argv);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
