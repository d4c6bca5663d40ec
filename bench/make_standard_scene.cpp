// Builds the "standard flight" benchmark scene from the bundled demo data:
// the elevation model upsampled to 1612 x 1376 height samples with a texture
// of the same size (as PPM and as PNG), and scenery files for a 24-frame
// straight flight over a 512 x 512 cell grid at 640 x 480 and 1920 x 1080,
// nearest and filtered, reading the PPM images; one more reads the PNGs.
//
//   make_standard_scene DEMO-FOLDER OUTPUT-FOLDER
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTextStream>

#include <cmath>
#include <cstdio>

namespace {

constexpr int factor = 4;  // height samples per demo sample along each axis

int decode(QRgb pixel) {
    int const raw = static_cast<int>(pixel & 0xFFFFFFu);
    return raw >= 0x800000 ? raw - 0x1000000 : raw;
}

// Bilinear upsampling of the height counts; the result stays a height map.
QImage upsampleHeights(QImage const& source) {
    int const w = (source.width() - 1) * factor + 1, h = (source.height() - 1) * factor + 1;
    QImage result(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int const i = x / factor, j = y / factor;
            double const fx = double(x % factor) / factor, fy = double(y % factor) / factor;
            int const i1 = std::min(i + 1, source.width() - 1), j1 = std::min(j + 1, source.height() - 1);
            double const v = (1 - fy) * ((1 - fx) * decode(source.pixel(i, j)) + fx * decode(source.pixel(i1, j))) +
                             fy * ((1 - fx) * decode(source.pixel(i, j1)) + fx * decode(source.pixel(i1, j1)));
            long const count = std::lround(v);
            result.setPixel(x, y, 0xFF000000u | (static_cast<unsigned long>(count) & 0xFFFFFFu));
        }
    return result;
}

// `images` is the file type of the height map and texture ("ppm" or "png").
void writeScenery(QString const& path, int width, int height, int quality, QString const& images) {
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QTextStream out(&file);
    double const focal = 0.95 * width;
    out << "[Param]\n"
        << "TDateiname=texture." << images << "\nHDateiname=heightmap." << images << "\n"
        << "HDateiSkalaX=1\nHDateiSkalaY=1\nHDateiSkalaZA=0.0013\nHDateiSkalaZE=0.0013\n"
        << "AusAuflX=512\nAusAuflY=512\n"
        << "AusBreite=" << width << "\nAusHoehe=" << height << "\nGenauRechnen=" << quality << "\n"
        << "Bildanzahl=24\nStartbildNr=0\nEndbildNr=23\nTraegheit=1\n"
        << "BeobXA=160\nBeobYA=200\nBeobZA=260\nBeobXE=1000\nBeobYE=1050\nBeobZE=230\n"
        << "RichtungA=35\nRichtungE=45\nNeigungA=-20\nNeigungE=-22\n"
        << "BrennA=" << focal << "\nBrennE=" << focal << "\n"
        << "NebelA=800\nNebelE=800\nLichtX=1\nLichtY=-1\nLichtZ=-1\n"
        << "AusgabePPM=1\nAusDateiname=frames/f" << width << "q" << quality << "-%02d\n";
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_standard_scene DEMO-FOLDER OUTPUT-FOLDER\n");
        return 2;
    }
    QString const demo = QString::fromLocal8Bit(argv[1]), out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out + "/frames");
    QImage const heights = upsampleHeights(QImage(demo + "/heightmap.png"));
    QImage const texture = QImage(demo + "/texture.png")
                               .scaled(heights.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                               .convertToFormat(QImage::Format_RGB32);
    // The images as binary PPM, which decodes in a few milliseconds, and as
    // PNG, whose decoding alone takes about a tenth of a second.
    bool saved = !heights.isNull() && !texture.isNull();
    for (char const* type : {"ppm", "png"})
        saved = saved && heights.save(out + "/heightmap." + type) && texture.save(out + "/texture." + type);
    if (!saved) {
        std::fprintf(stderr, "cannot read the demo images or write the scene\n");
        return 1;
    }
    QString const ppm = QStringLiteral("ppm");
    for (int quality : {0, 1}) {
        writeScenery(QStringLiteral("%1/flight-640-q%2.avs").arg(out).arg(quality), 640, 480, quality, ppm);
        writeScenery(QStringLiteral("%1/flight-1920-q%2.avs").arg(out).arg(quality), 1920, 1080, quality, ppm);
    }
    writeScenery(out + "/flight-640-q0-png.avs", 640, 480, 0, QStringLiteral("png"));
    std::printf("%d x %d height samples and texels\n", heights.width(), heights.height());
    return 0;
}
