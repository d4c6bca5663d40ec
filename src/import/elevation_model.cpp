#include "elevation_model.h"

#include "gdal_support.h"
#include "import_error.h"

#include <cpl_conv.h>
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

namespace {

// Relaxation passes over filled cells after the outward fill.
constexpr int smoothingPasses = 16;

template <typename T>
void flipRows(std::vector<T>& values, int width, int height) {
    for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(values.begin() + static_cast<qsizetype>(top) * width,
                         values.begin() + static_cast<qsizetype>(top + 1) * width,
                         values.begin() + static_cast<qsizetype>(bottom) * width);
}

template <typename T>
void flipColumns(std::vector<T>& values, int width, int height) {
    for (int row = 0; row < height; ++row) {
        auto const first = values.begin() + static_cast<qsizetype>(row) * width;
        std::reverse(first, first + width);
    }
}

QByteArray wktOf(OGRSpatialReferenceH srs) {
    if (!srs)
        return QByteArray();
    char* text = nullptr;
    if (OSRExportToWkt(srs, &text) != OGRERR_NONE || !text) {
        CPLFree(text);
        return QByteArray();
    }
    QByteArray const wkt(text);
    CPLFree(text);
    return wkt;
}

// What is read of the raster: a window of its cells, into a grid of
// model.width x model.height cells.
struct ReadWindow {
    PixelWindow cells;
    GDALRIOResampleAlg resampling = GRIORA_NearestNeighbour;
    bool reduced(ElevationModel const& model) const {
        return cells.width != model.width || cells.height != model.height;
    }
};

GDALRasterIOExtraArg resamplingArgument(ReadWindow const& window) {
    GDALRasterIOExtraArg extra;
    INIT_RASTERIO_EXTRA_ARG(extra);
    extra.eResampleAlg = window.resampling;
    return extra;
}

// Reads band values (as doubles) and the band's validity mask. Reduced, a
// cell takes the mean of the cells with data it covers, and has data when
// any of them has.
void readBand(GDALRasterBandH band, ReadWindow const& window, ElevationModel& model,
              std::vector<unsigned char>& valid) {
    int const width = model.width, height = model.height;
    PixelWindow const& w = window.cells;
    GDALRasterIOExtraArg extra = resamplingArgument(window);
    if (GDALRasterIOEx(band, GF_Read, w.column, w.row, w.width, w.height, model.metres.data(), width, height,
                       GDT_Float64, 0, 0, &extra) != CE_None)
        throw inputError(QStringLiteral("Cannot read the heights of %1: %2")
                             .arg(quoted(model.fileName), gdal::lastError(QStringLiteral("read error"))));
    if (GDALGetMaskFlags(band) & GMF_ALL_VALID) {
        std::fill(valid.begin(), valid.end(), static_cast<unsigned char>(1));
        return;
    }
    if (GDALRasterIOEx(GDALGetMaskBand(band), GF_Read, w.column, w.row, w.width, w.height, valid.data(), width, height,
                       GDT_Byte, 0, 0, &extra) != CE_None)
        throw inputError(QStringLiteral("Cannot read the nodata mask of %1: %2")
                             .arg(quoted(model.fileName), gdal::lastError(QStringLiteral("read error"))));
}

double metresPerValue(ElevationReadOptions const& options, GDALRasterBandH band, QTextStream& log) {
    if (options.metresPerValue)
        return *options.metresPerValue;
    QString const unit = QString::fromUtf8(GDALGetRasterUnitType(band)).trimmed();
    if (unit.isEmpty())
        return 1.0;
    if (std::optional<double> const factor = metresPerUnitName(unit)) {
        if (*factor != 1.0)
            log << QStringLiteral("Note: the heights are in \"%1\"; converted to metres (x %2).\n")
                       .arg(unit)
                       .arg(*factor);
        return *factor;
    }
    log << QStringLiteral(
               "Warning: unknown height unit \"%1\"; the values are taken as metres "
               "(use --vertical-unit to say how many metres one value is).\n")
               .arg(unit);
    return 1.0;
}

// Whether a raster without a coordinate system lies where longitudes and
// latitudes would, with cells of a tenth of a unit or less.
bool looksLikeDegrees(ElevationModel const& model) {
    auto const& gt = model.geoTransform;
    double const east = gt[0] + gt[1] * model.width, south = gt[3] + gt[5] * model.height;
    return gt[1] <= 0.1 && -gt[5] <= 0.1 && gt[0] >= -180 && east <= 360 && south >= -90 && gt[3] <= 90;
}

// Sets the metric cell size from the georeferencing or the user's sizes.
// The user's sizes are those of the raster's cells, `reduction` of which
// make one cell of the model.
void measureCells(ElevationModel& model, ElevationReadOptions const& options, OGRSpatialReferenceH srs,
                  std::array<double, 2> const& reduction, QTextStream& log) {
    auto const& gt = model.geoTransform;
    if (options.pixelSizeX) {
        model.cellMetresX = *options.pixelSizeX * reduction[0];
        model.cellMetresY = options.pixelSizeY.value_or(*options.pixelSizeX) * reduction[1];
    } else if (!model.georeferenced) {
        throw inputError(QStringLiteral("%1 carries no georeferencing, so the size of its cells is unknown: "
                                        "give it with --pixel-size METRES")
                             .arg(quoted(model.fileName)));
    } else if (srs && OSRIsGeographic(srs)) {
        double const degreesPerUnit = OSRGetAngularUnits(srs, nullptr) * 180.0 / std::numbers::pi;
        double const north = gt[3] * degreesPerUnit;
        double const south = (gt[3] + gt[5] * model.height) * degreesPerUnit;
        if (!(north <= 90.0 + 1e-9 && south >= -90.0 - 1e-9))
            throw inputError(QStringLiteral("%1 is geographic but reaches latitudes beyond 90 degrees (%2 to %3)")
                                 .arg(quoted(model.fileName))
                                 .arg(south)
                                 .arg(north));
        model.geographic = true;
        model.centreLatitude = (north + south) / 2;
        OGRErr error = OGRERR_NONE;
        double const semiMajor = OSRGetSemiMajor(srs, &error);
        double const inverseFlattening = OSRGetInvFlattening(srs, &error);
        MetresPerDegree const perDegree = metresPerDegree(model.centreLatitude, semiMajor, inverseFlattening);
        model.cellMetresX = gt[1] * degreesPerUnit * perDegree.longitude;
        model.cellMetresY = -gt[5] * degreesPerUnit * perDegree.latitude;
        log << QStringLiteral(
                   "Geographic model: at its centre latitude %1 degrees a cell is %2 m (east-west) x "
                   "%3 m (north-south).\n")
                   .arg(model.centreLatitude, 0, 'f', 4)
                   .arg(model.cellMetresX, 0, 'f', 3)
                   .arg(model.cellMetresY, 0, 'f', 3);
    } else if (srs && (OSRIsProjected(srs) || OSRIsLocal(srs))) {
        double const metresPerUnit = OSRGetLinearUnits(srs, nullptr);
        model.cellMetresX = gt[1] * metresPerUnit;
        model.cellMetresY = -gt[5] * metresPerUnit;
    } else if (srs) {
        throw inputError(QStringLiteral("%1 uses a coordinate system that is neither geographic nor projected; "
                                        "warp it to a projected one first")
                             .arg(quoted(model.fileName)));
    } else if (looksLikeDegrees(model)) {
        // Taken as metres, cells of a thousandth of a unit would make a film of grey.
        throw inputError(QStringLiteral("%1 names no coordinate system, and its cells of %2 x %3 at x %4, y %5 look "
                                        "like degrees: give it one (a .prj file beside it, or gdal_translate -a_srs "
                                        "EPSG:4326), or give the cell size with --pixel-size METRES")
                             .arg(quoted(model.fileName))
                             .arg(gt[1])
                             .arg(-gt[5])
                             .arg(gt[0])
                             .arg(gt[3]));
    } else {
        model.cellMetresX = gt[1];
        model.cellMetresY = -gt[5];
        log << QStringLiteral("Note: %1 names no coordinate system; its cell size (%2 x %3) is taken as metres.\n")
                   .arg(quoted(model.fileName))
                   .arg(model.cellMetresX)
                   .arg(model.cellMetresY);
    }
    if (!(model.cellMetresX > 0 && model.cellMetresY > 0 && std::isfinite(model.cellMetresX) &&
          std::isfinite(model.cellMetresY)))
        throw inputError(QStringLiteral("%1 has an unusable cell size of %2 x %3 m")
                             .arg(quoted(model.fileName))
                             .arg(model.cellMetresX)
                             .arg(model.cellMetresY));
}

// Opens the raster and checks that the requested band exists.
gdal::DatasetPtr openElevationRaster(ElevationReadOptions const& options, QTextStream& log) {
    gdal::DatasetPtr dataset = gdal::openRaster(options.fileName);
    if (!dataset) {
        if (!QFileInfo::exists(options.fileName))
            throw inputError(QStringLiteral("Cannot read %1: no such file").arg(quoted(options.fileName)));
        throw inputError(
            QStringLiteral("Cannot read %1 as a raster: %2")
                .arg(quoted(options.fileName), gdal::lastError(QStringLiteral("no GDAL driver recognises the file"))));
    }
    int const bands = GDALGetRasterCount(dataset.get());
    if (bands < 1) {
        // Containers (netCDF, HDF) list their rasters as subdatasets.
        QString hint;
        if (char const* const first =
                CSLFetchNameValue(GDALGetMetadata(dataset.get(), "SUBDATASETS"), "SUBDATASET_1_NAME"))
            hint = QStringLiteral("; it holds subdatasets, import one of them, e.g. %1").arg(QString::fromUtf8(first));
        throw inputError(QStringLiteral("%1 contains no raster band%2").arg(quoted(options.fileName), hint));
    }
    if (options.encoding != HeightEncoding::Band) {
        if (bands < 3)
            throw inputError(QStringLiteral("%1 has %2 band(s); heights in red, green and blue need three")
                                 .arg(quoted(options.fileName))
                                 .arg(bands));
        return dataset;
    }
    if (options.band < 1 || options.band > bands)
        throw inputError(QStringLiteral("%1 has %2 band(s); there is no band %3")
                             .arg(quoted(options.fileName))
                             .arg(bands)
                             .arg(options.band));
    if (bands > 1)
        log << QStringLiteral("Note: %1 has %2 bands; the heights are read from band %3.\n")
                   .arg(quoted(options.fileName))
                   .arg(bands)
                   .arg(options.band);
    return dataset;
}

// The raster's size, refused when too small for a terrain.
void checkRasterSize(GDALDatasetH dataset, QString const& fileName) {
    int const width = GDALGetRasterXSize(dataset), height = GDALGetRasterYSize(dataset);
    if (width < 2 || height < 2)
        throw inputError(QStringLiteral("%1 has only %2 x %3 cells; a terrain needs at least 2 x 2")
                             .arg(quoted(fileName))
                             .arg(width)
                             .arg(height));
}

// The grid the window is read into: the window's own cells, or at most
// maxSize cells along its longer side with the shape kept; refused when too
// large for the memory limit.
void takeGridSize(PixelWindow const& window, ElevationReadOptions const& options, ElevationModel& model) {
    model.width = window.width;
    model.height = window.height;
    int const longer = std::max(window.width, window.height);
    if (options.maxSize > 0 && longer > options.maxSize) {
        double const scale = double(options.maxSize) / longer;
        model.width = std::max(2, static_cast<int>(std::lround(window.width * scale)));
        model.height = std::max(2, static_cast<int>(std::lround(window.height * scale)));
    }
    double const needed = double(model.width) * double(model.height) * double(bytesPerElevationCell);
    if (needed > double(options.memoryLimit))
        throw outputError(QStringLiteral("The elevation model of %1 x %2 cells would need about %3 of memory, more "
                                         "than the limit of %4 (see --memory-limit); import a region of it or give "
                                         "a smaller --max-size")
                              .arg(model.width)
                              .arg(model.height)
                              .arg(formatBytes(needed), formatBytes(double(options.memoryLimit))));
}

// The window of cells to read: the region's, or the whole raster.
PixelWindow windowOf(GDALDatasetH dataset, ElevationReadOptions const& options, ElevationModel const& model,
                     QTextStream& log) {
    int const width = GDALGetRasterXSize(dataset), height = GDALGetRasterYSize(dataset);
    if (!options.region.given())
        return {0, 0, width, height};
    return regionWindow(options.region,
                        {options.fileName, width, height, model.georeferenced, model.geoTransform, model.srsWkt}, log);
}

// The placement of the grid read: the window's corner, cells enlarged by the reduction.
void placeGrid(ElevationModel& model, PixelWindow const& window) {
    auto& gt = model.geoTransform;
    gt[0] += gt[1] * window.column;
    gt[3] += gt[5] * window.row;
    gt[1] *= double(window.width) / model.width;
    gt[5] *= double(window.height) / model.height;
}

// The geotransform, when there is one: north-up grids only.
void takeGeoTransform(GDALDatasetH dataset, QString const& fileName, ElevationModel& model) {
    double gt[6];
    model.georeferenced = GDALGetGeoTransform(dataset, gt) == CE_None;
    if (!model.georeferenced)
        return;
    if (gt[2] != 0 || gt[4] != 0)
        throw inputError(
            QStringLiteral("%1 is rotated or sheared; warp it to a north-up grid first").arg(quoted(fileName)));
    if (!(std::isfinite(gt[0]) && std::isfinite(gt[1]) && std::isfinite(gt[3]) && std::isfinite(gt[5])) || gt[1] == 0 ||
        gt[5] == 0)
        throw inputError(QStringLiteral("%1 has an unusable georeferencing").arg(quoted(fileName)));
    std::copy(gt, gt + 6, model.geoTransform.begin());
}

// Room for the heights and their validity.
void allocateHeights(QString const& fileName, ElevationModel& model, std::vector<unsigned char>& valid) {
    try {
        model.metres.resize(static_cast<std::size_t>(model.width) * model.height);
        valid.resize(model.metres.size());
    } catch (std::bad_alloc const&) {
        throw outputError(QStringLiteral("Not enough memory for the %1 x %2 cells of %3")
                              .arg(model.width)
                              .arg(model.height)
                              .arg(quoted(fileName)));
    }
}

// Heights spread over the red, green and blue bands; a fourth band, when
// there is one, is the alpha: cells it leaves transparent hold no data.
void readEncodedHeights(GDALDatasetH dataset, ReadWindow const& window, ElevationReadOptions const& options,
                        ElevationModel& model, std::vector<unsigned char>& valid) {
    std::size_t const cells = model.metres.size();
    std::vector<unsigned char> rgb(cells * 3);
    PixelWindow const& w = window.cells;
    GDALRasterIOExtraArg extra = resamplingArgument(window);
    if (GDALDatasetRasterIOEx(dataset, GF_Read, w.column, w.row, w.width, w.height, rgb.data(), model.width,
                              model.height, GDT_Byte, 3, nullptr, 3, model.width * 3, 1, &extra) != CE_None)
        throw inputError(QStringLiteral("Cannot read the heights of %1: %2")
                             .arg(quoted(options.fileName), gdal::lastError(QStringLiteral("read error"))));
    std::fill(valid.begin(), valid.end(), static_cast<unsigned char>(1));
    if (GDALGetRasterCount(dataset) >= 4 &&
        GDALRasterIOEx(GDALGetRasterBand(dataset, 4), GF_Read, w.column, w.row, w.width, w.height, valid.data(),
                       model.width, model.height, GDT_Byte, 0, 0, &extra) != CE_None)
        throw inputError(QStringLiteral("Cannot read the alpha of %1").arg(quoted(options.fileName)));
    for (std::size_t i = 0; i < cells; ++i) {
        double const r = rgb[3 * i], g = rgb[3 * i + 1], b = rgb[3 * i + 2];
        model.metres[i] = options.encoding == HeightEncoding::TerrainRgb ? -10000.0 + (r * 65536 + g * 256 + b) * 0.1
                                                                         : r * 256 + g + b / 256 - 32768.0;
    }
}

// Applies the band's scale and offset and the unit's factor; values that do
// not come out finite count as missing.
void convertToMetres(GDALRasterBandH band, ElevationReadOptions const& options, ElevationModel& model,
                     std::vector<unsigned char>& valid, QTextStream& log) {
    int hasScale = 0, hasOffset = 0;
    double scale = GDALGetRasterScale(band, &hasScale);
    double offset = GDALGetRasterOffset(band, &hasOffset);
    if (!hasScale)
        scale = 1.0;
    if (!hasOffset)
        offset = 0.0;
    double const factor = metresPerValue(options, band, log);
    for (std::size_t i = 0; i < model.metres.size(); ++i) {
        double const value = (model.metres[i] * scale + offset) * factor;
        if (valid[i] && std::isfinite(value))
            model.metres[i] = value;
        else
            valid[i] = 0;
    }
}

// Makes the grid north-up, west to east.
void makeNorthUp(ElevationModel& model, std::vector<unsigned char>& valid) {
    auto& g = model.geoTransform;
    if (model.georeferenced && g[5] > 0) {
        flipRows(model.metres, model.width, model.height);
        flipRows(valid, model.width, model.height);
        g[3] += g[5] * model.height;
        g[5] = -g[5];
    }
    if (model.georeferenced && g[1] < 0) {
        flipColumns(model.metres, model.width, model.height);
        flipColumns(valid, model.width, model.height);
        g[0] += g[1] * model.width;
        g[1] = -g[1];
    }
}

void measureHeights(ElevationModel& model) {
    auto const [low, high] = std::minmax_element(model.metres.begin(), model.metres.end());
    model.minimum = *low;
    model.maximum = *high;
    double sum = 0.0;
    for (double const value : model.metres)
        sum += value;
    model.mean = sum / double(model.metres.size());
}

}  // namespace

ElevationModel readElevationModel(ElevationReadOptions const& options, QTextStream& log) {
    ElevationModel model;
    model.fileName = options.fileName;
    gdal::DatasetPtr const dataset = openElevationRaster(options, log);
    checkRasterSize(dataset.get(), options.fileName);
    takeGeoTransform(dataset.get(), options.fileName, model);
    OGRSpatialReferenceH const srs = GDALGetSpatialRef(dataset.get());
    model.srsWkt = wktOf(srs);

    // Heights spread over colour bytes do not average: those take the nearest cell.
    ReadWindow window{windowOf(dataset.get(), options, model, log),
                      options.encoding == HeightEncoding::Band ? GRIORA_Average : GRIORA_NearestNeighbour};
    takeGridSize(window.cells, options, model);
    placeGrid(model, window.cells);
    if (window.reduced(model))
        log << QStringLiteral(
                   "Note: %1 x %2 cells of %3 read as %4 x %5, each from about %6 x %7 (--max-size sets "
                   "how many).\n")
                   .arg(window.cells.width)
                   .arg(window.cells.height)
                   .arg(quoted(options.fileName))
                   .arg(model.width)
                   .arg(model.height)
                   .arg(double(window.cells.width) / model.width, 0, 'f', 1)
                   .arg(double(window.cells.height) / model.height, 0, 'f', 1);

    std::vector<unsigned char> valid;
    allocateHeights(options.fileName, model, valid);
    if (options.encoding == HeightEncoding::Band) {
        GDALRasterBandH const band = GDALGetRasterBand(dataset.get(), options.band);
        readBand(band, window, model, valid);
        convertToMetres(band, options, model, valid, log);
    } else {
        readEncodedHeights(dataset.get(), window, options, model, valid);
    }
    makeNorthUp(model, valid);
    measureCells(model, options, srs,
                 {double(window.cells.width) / model.width, double(window.cells.height) / model.height}, log);

    model.filledCells = fillNodata(model.metres, valid, model.width, model.height);
    if (model.filledCells < 0)
        throw inputError(QStringLiteral("%1 has no valid height: every cell is nodata").arg(quoted(options.fileName)));
    if (model.filledCells > 0) {
        double const share = 100.0 * double(model.filledCells) / double(qsizetype(model.width) * model.height);
        log << QStringLiteral("Filled %1 cell(s) without data from their neighbours: %2 % of the model.\n")
                   .arg(model.filledCells)
                   .arg(share, 0, 'f', 1);
        // A model mostly without data is likely a wrong nodata value or a tile beyond the coast.
        if (share > 25)
            log << QStringLiteral(
                "Warning: a quarter or more of the terrain is made up; check the raster's nodata "
                "value, or import a region that has data.\n");
    }
    measureHeights(model);
    return model;
}

namespace {

enum CellState : unsigned char { Missing = 0, Known = 1, Queued = 2 };

// Calls f(neighbour index) for the up to eight neighbours of cell i of a grid.
struct GridNeighbours {
    int width, height;
    template <class F>
    void operator()(qsizetype i, F&& f) const {
        int const row = static_cast<int>(i / width), column = static_cast<int>(i % width);
        for (int dr = -1; dr <= 1; ++dr)
            for (int dc = -1; dc <= 1; ++dc) {
                int const r = row + dr, c = column + dc;
                if ((dr != 0 || dc != 0) && r >= 0 && r < height && c >= 0 && c < width)
                    f(static_cast<qsizetype>(r) * width + c);
            }
    }
};

// The missing cells that touch a known one, marked as queued.
std::vector<qsizetype> firstFront(std::vector<unsigned char>& state, GridNeighbours const& forNeighbours) {
    std::vector<qsizetype> front;
    for (qsizetype i = 0; i < static_cast<qsizetype>(state.size()); ++i) {
        if (state[i] != Missing)
            continue;
        bool touches = false;
        forNeighbours(i, [&](qsizetype n) { touches = touches || state[n] == Known; });
        if (touches) {
            state[i] = Queued;
            front.push_back(i);
        }
    }
    return front;
}

// Fills the front, then the front beyond it, and so on, each cell with the
// mean of the neighbours known before its pass; returns the cells filled.
qsizetype fillOutward(std::vector<qsizetype> front, std::vector<double>& values, std::vector<unsigned char>& valid,
                      std::vector<unsigned char>& state, GridNeighbours const& forNeighbours) {
    qsizetype filled = 0;
    std::vector<double> means;
    std::vector<qsizetype> next;
    while (!front.empty()) {
        // Means from the cells known before this pass, stored only afterwards.
        means.assign(front.size(), 0.0);
        for (std::size_t k = 0; k < front.size(); ++k) {
            double sum = 0.0;
            int count = 0;
            forNeighbours(front[k], [&](qsizetype n) {
                if (state[n] == Known) {
                    sum += values[n];
                    ++count;
                }
            });
            means[k] = sum / count;
        }
        for (std::size_t k = 0; k < front.size(); ++k) {
            values[front[k]] = means[k];
            state[front[k]] = Known;
            valid[front[k]] = 1;
        }
        filled += static_cast<qsizetype>(front.size());
        next.clear();
        for (qsizetype const i : front)
            forNeighbours(i, [&](qsizetype n) {
                if (state[n] == Missing) {
                    state[n] = Queued;
                    next.push_back(n);
                }
            });
        front.swap(next);
    }
    return filled;
}

// Relaxes the filled cells towards the mean of all their neighbours, which
// smooths the seams the outward passes leave (still within the range).
void relaxFilledCells(std::vector<double>& values, std::vector<unsigned char> const& wasValid,
                      GridNeighbours const& forNeighbours) {
    std::vector<qsizetype> filledCells;
    for (qsizetype i = 0; i < static_cast<qsizetype>(wasValid.size()); ++i)
        if (!wasValid[i])
            filledCells.push_back(i);
    std::vector<double> relaxed(filledCells.size());
    for (int pass = 0; pass < smoothingPasses; ++pass) {
        for (std::size_t k = 0; k < filledCells.size(); ++k) {
            double sum = 0.0;
            int count = 0;
            forNeighbours(filledCells[k], [&](qsizetype n) {
                sum += values[n];
                ++count;
            });
            relaxed[k] = sum / count;
        }
        for (std::size_t k = 0; k < filledCells.size(); ++k)
            values[filledCells[k]] = relaxed[k];
    }
}

}  // namespace

qsizetype fillNodata(std::vector<double>& values, std::vector<unsigned char>& valid, int width, int height) {
    qsizetype const cells = static_cast<qsizetype>(width) * height;
    std::vector<unsigned char> state(static_cast<std::size_t>(cells));
    qsizetype known = 0;
    for (qsizetype i = 0; i < cells; ++i) {
        state[i] = valid[i] ? Known : Missing;
        known += valid[i] ? 1 : 0;
    }
    if (known == cells)
        return 0;
    if (known == 0)
        return -1;
    std::vector<unsigned char> const wasValid(valid);
    GridNeighbours const forNeighbours{width, height};
    qsizetype const filled = fillOutward(firstFront(state, forNeighbours), values, valid, state, forNeighbours);
    relaxFilledCells(values, wasValid, forNeighbours);
    return filled;
}

MetresPerDegree metresPerDegree(double latitudeDegrees, double semiMajorAxis, double inverseFlattening) {
    double const flattening = inverseFlattening > 0 ? 1.0 / inverseFlattening : 0.0;
    double const e2 = flattening * (2.0 - flattening);
    double const phi = latitudeDegrees * std::numbers::pi / 180.0;
    double const s = std::sin(phi);
    double const w = std::sqrt(1.0 - e2 * s * s);
    double const primeVertical = semiMajorAxis / w;
    double const meridional = semiMajorAxis * (1.0 - e2) / (w * w * w);
    return {primeVertical * std::cos(phi) * std::numbers::pi / 180.0, meridional * std::numbers::pi / 180.0};
}

std::optional<double> metresPerUnitName(QString const& unit) {
    QString const u = unit.trimmed().toLower();
    if (u == QLatin1String("m") || u == QLatin1String("metre") || u == QLatin1String("meter") ||
        u == QLatin1String("metres") || u == QLatin1String("meters") || u == QLatin1String("metre(s)"))
        return 1.0;
    if (u == QLatin1String("ft") || u == QLatin1String("foot") || u == QLatin1String("feet") ||
        u == QLatin1String("international foot"))
        return 0.3048;
    if (u == QLatin1String("us-ft") || u == QLatin1String("ftus") || u == QLatin1String("foot_us") ||
        u == QLatin1String("us survey foot") || u == QLatin1String("us_survey_foot"))
        return 1200.0 / 3937.0;
    if (u == QLatin1String("cm") || u == QLatin1String("centimetre") || u == QLatin1String("centimeter"))
        return 0.01;
    if (u == QLatin1String("mm") || u == QLatin1String("millimetre") || u == QLatin1String("millimeter"))
        return 0.001;
    if (u == QLatin1String("km") || u == QLatin1String("kilometre") || u == QLatin1String("kilometer"))
        return 1000.0;
    return std::nullopt;
}

double ElevationModel::heightAt(double column, double row) const {
    column = std::clamp(column, 0.0, width - 1.0);
    row = std::clamp(row, 0.0, height - 1.0);
    int const c = std::clamp(static_cast<int>(column), 0, std::max(width - 2, 0));
    int const r = std::clamp(static_cast<int>(row), 0, std::max(height - 2, 0));
    int const c1 = std::min(c + 1, width - 1), r1 = std::min(r + 1, height - 1);
    double const fx = column - c, fy = row - r;
    double const top = at(c, r) + fx * (at(c1, r) - at(c, r));
    double const bottom = at(c, r1) + fx * (at(c1, r1) - at(c, r1));
    return top + fy * (bottom - top);
}
