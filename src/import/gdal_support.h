// GDAL plumbing shared by the import steps: one-time set-up, owned dataset
// handles, argument lists for the GDAL utility functions, error text, and
// datasets that read and write memory the caller owns.
#pragma once

#include <gdal.h>

#include <QByteArray>
#include <QString>

#include <initializer_list>
#include <memory>
#include <vector>

namespace gdal {

// Registers the drivers (once), keeps GDAL from printing on its own (its
// messages reach the user through lastError), keeps it from writing
// .aux.xml side files next to the user's input, and holds its block cache
// to 64 MB unless GDAL_CACHEMAX says otherwise.
void initialise();

struct DatasetCloser {
    void operator()(void* dataset) const {
        if (dataset)
            GDALClose(dataset);
    }
};
using DatasetPtr = std::unique_ptr<void, DatasetCloser>;

// Opens a raster read-only; null when GDAL cannot read it.
DatasetPtr openRaster(QString const& fileName);

// A NULL-terminated argument vector for the GDAL utility and creation functions.
class ArgumentList {
  public:
    ArgumentList() = default;
    ArgumentList(std::initializer_list<QByteArray> items);
    ArgumentList& operator<<(QByteArray const& item);
    char** data();

  private:
    std::vector<QByteArray> items_;
    std::vector<char*> pointers_;
};

// The message of GDAL's last error, or `fallback` when it recorded none.
QString lastError(QString const& fallback = QString());
void clearError();

// A MEM dataset whose bands live in the caller's buffer: `bands` bands of
// `type`, interleaved by pixel (band k starts k samples after the first),
// rows `bytesPerLine` apart. The buffer must outlive the dataset.
DatasetPtr wrapBuffer(void* data, int width, int height, qsizetype bytesPerLine, int bands, GDALDataType type);

// An empty MEM dataset that owns its bands.
DatasetPtr createMemory(int width, int height, int bands, GDALDataType type);

}  // namespace gdal

// Half the physical memory, the default ceiling for what one import may allocate.
qint64 defaultMemoryLimit();

// "1.5 GiB", "320 MiB", "12 KiB", "100 bytes".
QString formatBytes(double bytes);
