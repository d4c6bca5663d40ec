#include "gdal_support.h"

#include "machine.h"

#include <cpl_conv.h>
#include <cpl_error.h>

#include <cstdio>
#include <mutex>

namespace gdal {

void initialise() {
    static std::once_flag once;
    std::call_once(once, [] {
        GDALAllRegister();
        CPLSetErrorHandler(CPLQuietErrorHandler);
        CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");
        // GDAL's block cache takes 5 % of the physical memory by default; a
        // reduced read of a huge raster passes through it block by block and
        // needs far less.
        if (!CPLGetConfigOption("GDAL_CACHEMAX", nullptr))
            CPLSetConfigOption("GDAL_CACHEMAX", "64");
    });
}

DatasetPtr openRaster(QString const& fileName) {
    initialise();
    clearError();
    QByteArray const name = fileName.toUtf8();
    unsigned int const flags = GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR;
    return DatasetPtr(GDALOpenEx(name.constData(), flags, nullptr, nullptr, nullptr));
}

ArgumentList::ArgumentList(std::initializer_list<QByteArray> items) : items_(items) {}

ArgumentList& ArgumentList::operator<<(QByteArray const& item) {
    items_.push_back(item);
    return *this;
}

char** ArgumentList::data() {
    pointers_.clear();
    for (QByteArray& item : items_)
        pointers_.push_back(item.data());
    pointers_.push_back(nullptr);
    return pointers_.data();
}

QString lastError(QString const& fallback) {
    QString const message = QString::fromUtf8(CPLGetLastErrorMsg()).trimmed();
    return message.isEmpty() ? fallback : message;
}

void clearError() { CPLErrorReset(); }

DatasetPtr wrapBuffer(void* data, int width, int height, qsizetype bytesPerLine, int bands, GDALDataType type) {
    initialise();
    DatasetPtr dataset(GDALCreate(GDALGetDriverByName("MEM"), "", width, height, 0, type, nullptr));
    if (!dataset)
        return dataset;
    int const sampleBytes = GDALGetDataTypeSizeBytes(type);
    for (int band = 0; band < bands; ++band) {
        char pointer[64];
        std::snprintf(pointer, sizeof pointer, "DATAPOINTER=%p",
                      static_cast<void*>(static_cast<unsigned char*>(data) + band * sampleBytes));
        ArgumentList options{QByteArray(pointer), "PIXELOFFSET=" + QByteArray::number(bands * sampleBytes),
                             "LINEOFFSET=" + QByteArray::number(bytesPerLine)};
        if (GDALAddBand(dataset.get(), type, options.data()) != CE_None)
            return DatasetPtr();
    }
    return dataset;
}

DatasetPtr createMemory(int width, int height, int bands, GDALDataType type) {
    initialise();
    return DatasetPtr(GDALCreate(GDALGetDriverByName("MEM"), "", width, height, bands, type, nullptr));
}

}  // namespace gdal

qint64 defaultMemoryLimit() { return halfOfPhysicalMemory(qint64(4) << 30); }

QString formatBytes(double bytes) {
    char const* const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    int unit = 0;
    while (bytes >= 1024.0 && unit < 6) {
        bytes /= 1024.0;
        ++unit;
    }
    if (unit == 0)
        return QStringLiteral("%1 bytes").arg(static_cast<qint64>(bytes));
    return QStringLiteral("%1 %2").arg(bytes, 0, 'f', bytes < 10 ? 2 : 1).arg(QLatin1String(units[unit]));
}
