// Writes the elevation data AVImport's memory and time are measured on
// (bench/import_memory.sh), from the demo's real height map (Jacksboro,
// 403 x 344 cells, heights in centimetre counts):
//   tile.tif     the heights in metres, Float32, tiled, with averaged
//                overviews down to a few cells;
//   mosaic.vrt   40000 x 40000 cells of one arc-second that reference the
//                tile 100 x 117 times, so the disk holds a single tile;
//   N36W085.hgt  the mosaic's first 3601 x 3601 cells as an SRTM
//                one-arc-second tile.
// Usage: make_mosaic DEMO-FOLDER OUTPUT-FOLDER
#include <gdal.h>
#include <gdal_utils.h>

#include <QDir>
#include <QFile>
#include <QImage>

#include <cstdio>
#include <vector>

namespace {

constexpr int mosaicSide = 40000;
constexpr double arcSecond = 1.0 / 3600;
// The corner of an SRTM tile: the centre of its north-west cell at 37 N, 85 W.
constexpr double west = -85 - arcSecond / 2, north = 37 + arcSecond / 2;

std::vector<float> metresOf(QImage const& heightMap) {
    std::vector<float> metres;
    for (int row = 0; row < heightMap.height(); ++row)
        for (int column = 0; column < heightMap.width(); ++column) {
            int const count = int(heightMap.pixel(column, row) & 0xFFFFFFu);
            metres.push_back(float((count >= 0x800000 ? count - 0x1000000 : count) / 100.0));
        }
    return metres;
}

bool writeTile(QString const& fileName, QImage const& heightMap) {
    char const* options[] = {"TILED=YES", "COMPRESS=DEFLATE", nullptr};
    GDALDatasetH const tile = GDALCreate(GDALGetDriverByName("GTiff"), fileName.toUtf8(), heightMap.width(),
                                         heightMap.height(), 1, GDT_Float32, const_cast<char**>(options));
    if (!tile)
        return false;
    double const gt[6] = {west, arcSecond, 0, north, 0, -arcSecond};
    GDALSetGeoTransform(tile, const_cast<double*>(gt));
    std::vector<float> metres = metresOf(heightMap);
    bool ok = GDALRasterIO(GDALGetRasterBand(tile, 1), GF_Write, 0, 0, heightMap.width(), heightMap.height(),
                           metres.data(), heightMap.width(), heightMap.height(), GDT_Float32, 0, 0) == CE_None;
    int levels[] = {2, 4, 8, 16, 32, 64};
    ok = ok && GDALBuildOverviews(tile, "AVERAGE", 6, levels, 0, nullptr, nullptr, nullptr) == CE_None;
    GDALClose(tile);
    return ok;
}

QByteArray mosaicXml(int tileWidth, int tileHeight) {
    QByteArray xml = QStringLiteral("<VRTDataset rasterXSize=\"%1\" rasterYSize=\"%1\">\n"
                                    "  <SRS>EPSG:4326</SRS>\n"
                                    "  <GeoTransform>%2, %3, 0, %4, 0, %5</GeoTransform>\n"
                                    "  <VRTRasterBand dataType=\"Float32\" band=\"1\">\n")
                         .arg(mosaicSide)
                         .arg(west, 0, 'g', 17)
                         .arg(arcSecond, 0, 'g', 17)
                         .arg(north, 0, 'g', 17)
                         .arg(-arcSecond, 0, 'g', 17)
                         .toUtf8();
    for (int y = 0; y < mosaicSide; y += tileHeight)
        for (int x = 0; x < mosaicSide; x += tileWidth)
            xml += QStringLiteral("    <SimpleSource><SourceFilename relativeToVRT=\"1\">tile.tif</SourceFilename>"
                                  "<SourceBand>1</SourceBand><SourceProperties RasterXSize=\"%1\" RasterYSize=\"%2\" "
                                  "DataType=\"Float32\" BlockXSize=\"256\" BlockYSize=\"256\"/>"
                                  "<SrcRect xOff=\"0\" yOff=\"0\" xSize=\"%1\" ySize=\"%2\"/>"
                                  "<DstRect xOff=\"%3\" yOff=\"%4\" xSize=\"%1\" ySize=\"%2\"/></SimpleSource>\n")
                       .arg(tileWidth)
                       .arg(tileHeight)
                       .arg(x)
                       .arg(y)
                       .toUtf8();
    return xml + "  </VRTRasterBand>\n</VRTDataset>\n";
}

bool writeSrtmTile(QString const& mosaic, QString const& fileName) {
    char const* arguments[] = {"-of", "SRTMHGT", "-ot", "Int16", "-srcwin", "0", "0", "3601", "3601", nullptr};
    GDALTranslateOptions* const options = GDALTranslateOptionsNew(const_cast<char**>(arguments), nullptr);
    GDALDatasetH const source = GDALOpen(mosaic.toUtf8(), GA_ReadOnly);
    GDALDatasetH const tile = source ? GDALTranslate(fileName.toUtf8(), source, options, nullptr) : nullptr;
    GDALTranslateOptionsFree(options);
    if (tile)
        GDALClose(tile);
    if (source)
        GDALClose(source);
    return tile != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "Usage: make_mosaic DEMO-FOLDER OUTPUT-FOLDER\n");
        return 1;
    }
    GDALAllRegister();
    QImage const heightMap(QDir(QString::fromLocal8Bit(argv[1])).filePath(QStringLiteral("heightmap.png")));
    QDir const out(QString::fromLocal8Bit(argv[2]));
    if (heightMap.isNull() || !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "make_mosaic: cannot read the height map or create the output folder\n");
        return 1;
    }
    QFile vrt(out.filePath(QStringLiteral("mosaic.vrt")));
    if (!writeTile(out.filePath(QStringLiteral("tile.tif")), heightMap) || !vrt.open(QIODevice::WriteOnly) ||
        vrt.write(mosaicXml(heightMap.width(), heightMap.height())) < 0 || !vrt.flush() ||
        !writeSrtmTile(vrt.fileName(), out.filePath(QStringLiteral("N36W085.hgt")))) {
        std::fprintf(stderr, "make_mosaic: cannot write %s: %s\n", qPrintable(out.path()), CPLGetLastErrorMsg());
        return 1;
    }
    vrt.close();
    return 0;
}
