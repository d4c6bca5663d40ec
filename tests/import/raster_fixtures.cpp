#include "raster_fixtures.h"

#include "import_error.h"
#include "scenery_delegate.h"

#include <gdal.h>
#include <ogr_srs_api.h>

#include <QFile>
#include <QProcess>
#include <QTextStream>

#include <gtest/gtest.h>

#include <vector>

namespace fixtures {

namespace {

void setPlacement(GDALDatasetH dataset, std::optional<GeoTransform> const& gt, int epsg) {
    if (gt) {
        GeoTransform copy = *gt;
        GDALSetGeoTransform(dataset, copy.data());
    }
    if (epsg != 0) {
        OGRSpatialReferenceH const srs = OSRNewSpatialReference(nullptr);
        ASSERT_EQ(OSRImportFromEPSG(srs, epsg), OGRERR_NONE);
        GDALSetSpatialRef(dataset, srs);
        OSRDestroySpatialReference(srs);
    }
}

}  // namespace

void writeRaster(QString const& path, int width, int height, HeightFunction const& heights,
                 std::optional<GeoTransform> const& gt, int epsg, std::optional<double> nodata, char const* driver,
                 int dataType) {
    GDALAllRegister();
    auto const type = static_cast<GDALDataType>(dataType);
    GDALDatasetH const memory = GDALCreate(GDALGetDriverByName("MEM"), "", width, height, 1, type, nullptr);
    ASSERT_NE(memory, nullptr);
    std::vector<double> values(static_cast<std::size_t>(width) * height);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            values[static_cast<std::size_t>(row) * width + column] = heights(column, row);
    GDALRasterBandH const band = GDALGetRasterBand(memory, 1);
    ASSERT_EQ(GDALRasterIO(band, GF_Write, 0, 0, width, height, values.data(), width, height, GDT_Float64, 0, 0),
              CE_None);
    if (nodata)
        GDALSetRasterNoDataValue(band, *nodata);
    setPlacement(memory, gt, epsg);
    GDALDatasetH const file = GDALCreateCopy(GDALGetDriverByName(driver), path.toUtf8().constData(), memory, FALSE,
                                             nullptr, nullptr, nullptr);
    ASSERT_NE(file, nullptr) << CPLGetLastErrorMsg();
    GDALClose(file);
    GDALClose(memory);
}

void writeRgbImage(QString const& path, int width, int height, std::function<QRgb(int, int)> const& colour,
                   GeoTransform const& gt, int epsg) {
    GDALAllRegister();
    GDALDatasetH const file =
        GDALCreate(GDALGetDriverByName("GTiff"), path.toUtf8().constData(), width, height, 3, GDT_Byte, nullptr);
    ASSERT_NE(file, nullptr);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(width) * height * 3);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            QRgb const c = colour(column, row);
            unsigned char* p = &bytes[(static_cast<std::size_t>(row) * width + column) * 3];
            p[0] = static_cast<unsigned char>(qRed(c));
            p[1] = static_cast<unsigned char>(qGreen(c));
            p[2] = static_cast<unsigned char>(qBlue(c));
        }
    ASSERT_EQ(GDALDatasetRasterIO(file, GF_Write, 0, 0, width, height, bytes.data(), width, height, GDT_Byte, 3,
                                  nullptr, 3, width * 3, 1),
              CE_None);
    setPlacement(file, gt, epsg);
    GDALClose(file);
}

void writeTwoVariableNetcdf(QString const& path) {
    GDALAllRegister();
    GDALDatasetH const file =
        GDALCreateMultiDimensional(GDALGetDriverByName("netCDF"), path.toUtf8().constData(), nullptr, nullptr);
    ASSERT_NE(file, nullptr) << CPLGetLastErrorMsg();
    GDALGroupH const root = GDALDatasetGetRootGroup(file);
    GDALDimensionH dimensions[2] = {GDALGroupCreateDimension(root, "y", nullptr, nullptr, 3, nullptr),
                                    GDALGroupCreateDimension(root, "x", nullptr, nullptr, 4, nullptr)};
    GDALExtendedDataTypeH const type = GDALExtendedDataTypeCreate(GDT_Float32);
    for (char const* name : {"a", "b"})
        GDALMDArrayRelease(GDALGroupCreateMDArray(root, name, 2, dimensions, type, nullptr));
    GDALExtendedDataTypeRelease(type);
    GDALDimensionRelease(dimensions[0]);
    GDALDimensionRelease(dimensions[1]);
    GDALGroupRelease(root);
    GDALClose(file);
}

void writeHgt(QString const& path, int size, HeightFunction const& heights) {
    QByteArray bytes;
    bytes.reserve(size * size * 2);
    for (int row = 0; row < size; ++row)
        for (int column = 0; column < size; ++column) {
            auto const value = static_cast<quint16>(static_cast<qint16>(heights(column, row)));
            bytes.append(static_cast<char>(value >> 8));
            bytes.append(static_cast<char>(value & 0xFF));
        }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

std::optional<ImportResult> import(ImportOptions const& options, QString* log) {
    QString text;
    QTextStream stream(&text);
    try {
        ImportResult result = runImport(options, stream);
        stream.flush();
        if (log)
            *log = text;
        return result;
    } catch (ImportError const& error) {
        ADD_FAILURE() << "import failed (" << static_cast<int>(error.code()) << "): " << error.message().toStdString();
        return std::nullopt;
    }
}

Failure importFailure(ImportOptions const& options) {
    QString text;
    QTextStream stream(&text);
    try {
        runImport(options, stream);
        ADD_FAILURE() << "the import did not fail";
        return {};
    } catch (ImportError const& error) {
        return {static_cast<int>(error.code()), error.message()};
    }
}

std::unique_ptr<SceneryData> readScenery(QString const& path) {
    QString logText;
    QTextStream log(&logText);
    SceneryDelegate delegate(log, false);
    bool const accepted = delegate.open(path);
    EXPECT_TRUE(accepted) << delegate.errorString().toStdString();
    EXPECT_TRUE(logText.isEmpty()) << logText.toStdString();
    return accepted ? std::make_unique<SceneryData>(*delegate.parameters) : nullptr;
}

int countAt(QImage const& heightMap, int column, int row) {
    QRgb const pixel = heightMap.pixel(column, row);
    int const raw = static_cast<int>(pixel & 0xFFFFFFu);
    return raw >= 0x800000 ? raw - 0x1000000 : raw;
}

Run runAVImport(QStringList const& arguments, QString const& workingDir) {
    Run run;
    QProcess process;
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.start(QStringLiteral(AVIMPORT_EXE), arguments);
    if (!process.waitForStarted() || !process.waitForFinished(120000)) {
        ADD_FAILURE() << "AVImport did not run";
        process.kill();
        process.waitForFinished();
        return run;
    }
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    run.exitCode = process.exitCode();
    run.standardOutput = process.readAllStandardOutput();
    run.standardError = process.readAllStandardError();
    return run;
}

}  // namespace fixtures
