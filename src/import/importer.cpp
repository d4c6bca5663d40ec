#include "importer.h"

#include "coordinates.h"
#include "elevation_model.h"
#include "height_map.h"
#include "import_error.h"
#include "sun_light.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QTextStream>

#include <cmath>

namespace {

void saveImage(QImage const& image, QString const& fileName) {
    QImageWriter writer(fileName, "png");
    if (!writer.write(image))
        throw outputError(QStringLiteral("Cannot write %1: %2").arg(quoted(fileName), writer.errorString()));
}

void makeFolder(QString const& path) {
    if (!QDir().mkpath(path) || !QFileInfo(path).isDir())
        throw outputError(QStringLiteral("Cannot create the folder %1").arg(quoted(path)));
}

bool positiveFinite(double value) { return value > 0 && std::isfinite(value); }

// The output folder and its empty frames/ folder. A folder that holds
// anything is refused (a hand-edited scenery, frames of another terrain),
// unless forced: then the frames of the earlier import go.
void prepareOutputFolder(QDir const& folder, bool force) {
    bool const used = folder.exists() && !folder.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    if (used && !force)
        throw outputError(QStringLiteral("The output folder %1 is not empty: give --force to replace its height map, "
                                         "texture and scenery and empty its frames/ folder, or choose another with -o")
                              .arg(quoted(folder.path())));
    QDir frames(folder.filePath(QStringLiteral("frames")));
    if (used && frames.exists() && !frames.removeRecursively())
        throw outputError(QStringLiteral("Cannot empty the folder %1").arg(quoted(frames.path())));
    makeFolder(folder.path());
    makeFolder(frames.path());
}

}  // namespace

void validateOptions(ImportOptions const& options) {
    if (options.elevationFile.isEmpty())
        throw argumentError(QStringLiteral("No elevation raster given"));
    if (options.band < 1)
        throw argumentError(QStringLiteral("The band number must be 1 or more"));
    if (!positiveFinite(options.texelsPerCell) || options.texelsPerCell > 1024)
        throw argumentError(QStringLiteral("The texels per cell must be a number above 0 and at most 1024"));
    if (!positiveFinite(options.exaggeration))
        throw argumentError(QStringLiteral("The exaggeration must be a positive number"));
    if (!positiveFinite(options.unitCm))
        throw argumentError(QStringLiteral("The count unit must be a positive number of centimetres"));
    if (options.pixelSizeX && !(positiveFinite(*options.pixelSizeX) && positiveFinite(options.pixelSizeY.value_or(1))))
        throw argumentError(QStringLiteral("The pixel size must be a positive number of metres"));
    if (options.metresPerValue && !positiveFinite(*options.metresPerValue))
        throw argumentError(QStringLiteral("The vertical unit must be a positive number of metres"));
    if (options.frameWidth < 1 || options.frameHeight < 1 || options.frameWidth > 65536 || options.frameHeight > 65536)
        throw argumentError(QStringLiteral("The frame size must be between 1x1 and 65536x65536"));
    if (options.maxSize && !(*options.maxSize == 0 || *options.maxSize >= 2))
        throw argumentError(QStringLiteral("The maximum size must be 0 (every cell) or at least 2 cells"));
    RegionRequest const& r = options.region;
    if (int(r.box.has_value()) + int(r.centre.has_value()) + int(!r.file.isEmpty()) > 1)
        throw argumentError(QStringLiteral("Give one region: --bbox, --center with --radius, or --region"));
    if (r.box && !(r.box->minX < r.box->maxX && r.box->minY < r.box->maxY))
        throw argumentError(QStringLiteral("The box needs west < east and south < north"));
    if (r.centre && !(std::fabs((*r.centre)[0]) <= 360 && std::fabs((*r.centre)[1]) <= 90))
        throw argumentError(QStringLiteral("The centre must be a longitude and a latitude in degrees"));
    if (r.centre.has_value() != (r.radiusKm != 0))
        throw argumentError(QStringLiteral("--center and --radius go together"));
    if (r.centre && !(r.radiusKm > 0 && r.radiusKm <= 20000))
        throw argumentError(QStringLiteral("The radius must be a positive number of kilometres, at most 20000"));
    if (!r.boxCrs.isEmpty() && !r.box)
        throw argumentError(QStringLiteral("--bbox-crs needs a --bbox"));
    if (!r.boxCrs.isEmpty() && r.boxCrs != "model" && !SpatialReference::fromUserInput(r.boxCrs))
        throw argumentError(
            QStringLiteral("The box's coordinate system \"%1\" is unknown").arg(QString::fromUtf8(r.boxCrs)));
    if (options.memoryLimit < 0)
        throw argumentError(QStringLiteral("The memory limit must be positive"));
    TrackFlightOptions const& t = options.track;
    if (!positiveFinite(t.heightAbove) || !positiveFinite(t.lookAhead) || !(t.smooth >= 0 && std::isfinite(t.smooth)))
        throw argumentError(
            QStringLiteral("The height above ground and the look-ahead must be positive numbers of "
                           "metres, the smoothing a number of metres"));
    if (!(t.followBehind >= 0 && std::isfinite(t.followBehind)))
        throw argumentError(QStringLiteral("The distance to follow behind must be a number of metres"));
    // The path is extended by these distances point by point.
    if (t.lookAhead > 1e6 || t.followBehind > 1e6)
        throw argumentError(QStringLiteral("The look-ahead and the distance to follow behind must be at most 1000 km"));
    if (t.tilt && !(*t.tilt >= -90 && *t.tilt <= 90))
        throw argumentError(QStringLiteral("The tilt must be between -90 and 90 degrees"));
    if (!(t.duration >= 0 && t.duration <= 86400) || t.fps < 1 || t.fps > 240)
        throw argumentError(QStringLiteral("The duration must be at most a day and the frame rate 1 to 240"));
    if (options.seaLevel && !std::isfinite(*options.seaLevel))
        throw argumentError(QStringLiteral("The sea level must be a number of metres"));
    if (options.drawTrack && options.trackFile.isEmpty())
        throw argumentError(QStringLiteral("--draw-track needs a --track"));
    if (!options.trackColour.isValid())
        throw argumentError(QStringLiteral("The track colour must be a colour name or #rrggbb"));
    if (!(options.trackWidth >= 0 && std::isfinite(options.trackWidth)))
        throw argumentError(QStringLiteral("The track width must be a positive number of metres"));
    if (options.sunTime.isValid() && (options.sunAzimuth || options.sunElevation))
        throw argumentError(QStringLiteral("Give the sun by a time or by azimuth and elevation, not both"));
    if (options.sunAzimuth.has_value() != options.sunElevation.has_value())
        throw argumentError(QStringLiteral("The sun needs both its azimuth and its elevation"));
    if (options.sunAzimuth && !std::isfinite(*options.sunAzimuth))
        throw argumentError(QStringLiteral("The sun's azimuth must be a number of degrees"));
    if (options.sunElevation && !(*options.sunElevation > 0))
        throw argumentError(QStringLiteral("The sun is below the horizon (elevation %1 degrees): it lights nothing")
                                .arg(*options.sunElevation));
    if (options.sunElevation && *options.sunElevation > 90)
        throw argumentError(QStringLiteral("The sun's elevation must be at most 90 degrees"));
}

int defaultMaxSize(ImportOptions const& options) {
    return (options.trackFile.isEmpty() ? 2 : 4) * std::max(options.frameWidth, options.frameHeight);
}

QString defaultOutputFolder(QString const& elevationFile) {
    QString name = QFileInfo(elevationFile).completeBaseName();
    if (name.isEmpty())
        name = QStringLiteral("terrain");
    return QDir::current().filePath(name);
}

namespace {

ElevationModel readModel(ImportOptions const& options, qint64 memoryLimit, QTextStream& log) {
    return readElevationModel({.fileName = options.elevationFile,
                               .band = options.band,
                               .encoding = options.encoding,
                               .pixelSizeX = options.pixelSizeX,
                               .pixelSizeY = options.pixelSizeY,
                               .metresPerValue = options.metresPerValue,
                               .memoryLimit = memoryLimit,
                               .region = options.region,
                               .maxSize = options.maxSize.value_or(defaultMaxSize(options))},
                              log);
}

// The scenery's sizes in world units: metres per count over metres per
// texel, exaggerated.
SceneryLayout layoutScenery(ElevationModel const& model, TextureLayout const& texture, ImportOptions const& options,
                            double unitMetres) {
    SceneryLayout scenery;
    scenery.cellsX = model.width;
    scenery.cellsY = model.height;
    scenery.scaleX = texture.scaleX;
    scenery.scaleY = texture.scaleY;
    scenery.zScale = unitMetres / texture.metresPerTexel * options.exaggeration;
    double const worldPerMetre = options.exaggeration / texture.metresPerTexel;
    scenery.lowest = model.minimum * worldPerMetre;
    scenery.highest = model.maximum * worldPerMetre;
    scenery.mean = model.mean * worldPerMetre;
    scenery.frameWidth = options.frameWidth;
    scenery.frameHeight = options.frameHeight;
    return scenery;
}

void writeSceneryFile(QString const& fileName, QByteArray const& text) {
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() || !file.flush())
        throw outputError(QStringLiteral("Cannot write %1: %2").arg(quoted(fileName), file.errorString()));
}

void reportImport(ImportResult const& result, ElevationModel const& model, double unitCm, QTextStream& log) {
    log << QStringLiteral("Model: %1 x %2 cells of %3 m x %4 m, heights %5 m .. %6 m\n")
               .arg(model.width)
               .arg(model.height)
               .arg(plainDecimal(model.cellMetresX, 6), plainDecimal(model.cellMetresY, 6))
               .arg(model.minimum, 0, 'f', 2)
               .arg(model.maximum, 0, 'f', 2)
        << QStringLiteral("Wrote %1 (%2 x %3, count unit %4 cm)\n")
               .arg(result.heightMapFile)
               .arg(model.width)
               .arg(model.height)
               .arg(plainDecimal(unitCm))
        << QStringLiteral("Wrote %1 (%2 x %3 texels of %4 m)\n")
               .arg(result.textureFile)
               .arg(result.texture.width)
               .arg(result.texture.height)
               .arg(plainDecimal(result.texture.metresPerTexel, 6))
        << QStringLiteral("Wrote %1; render it from inside %2 with: AVRender -i scenery.avs\n")
               .arg(result.sceneryFile, result.outputFolder);
    log.flush();
}

// Texels per cell: the user's, or for a track flight enough for texels of a
// twentieth of the height above ground, as far as the memory limit allows.
double texelsPerCell(ImportOptions const& options, ElevationModel const& model, qint64 memoryLimit) {
    if (!options.texelsForTheTrack)
        return options.texelsPerCell;
    double const finer = std::min(model.cellMetresX, model.cellMetresY);
    double texels = std::clamp(std::ceil(finer / (options.track.heightAbove / 20)), options.texelsPerCell, 1024.0);
    // Four bytes a texel, the texture held twice while it is built.
    auto bytes = [&model](double perCell) {
        TextureLayout const layout = layoutTexture(model, perCell);
        return 8.0 * double(layout.width) * double(layout.height);
    };
    while (texels > options.texelsPerCell && bytes(texels) > double(memoryLimit))
        texels = std::max(options.texelsPerCell, std::floor(texels * 0.8));
    return texels;
}

// The sun the options give: its place in the sky, or where it stands at the
// given moment over the model's centre; refused below the horizon.
std::optional<SunPosition> sunOf(ImportOptions const& options, ElevationModel const& model, QTextStream& log) {
    if (options.sunAzimuth)
        return SunPosition{std::fmod(std::fmod(*options.sunAzimuth, 360.0) + 360.0, 360.0), *options.sunElevation};
    if (!options.sunTime.isValid())
        return std::nullopt;
    std::optional<std::array<double, 2>> const centre = centreLongitudeLatitude(model);
    if (!centre)
        throw inputError(QStringLiteral("%1 has no coordinates to place the sun over: give --sun-azimuth and "
                                        "--sun-elevation instead of --sun")
                             .arg(quoted(model.fileName)));
    SunPosition const sun = sunAt(options.sunTime, (*centre)[0], (*centre)[1]);
    QString const where = QStringLiteral("%1 over longitude %2, latitude %3")
                              .arg(options.sunTime.toString(Qt::ISODate))
                              .arg((*centre)[0], 0, 'f', 4)
                              .arg((*centre)[1], 0, 'f', 4);
    if (!(sun.elevation > 0))
        throw argumentError(QStringLiteral("The sun is below the horizon at %1 (elevation %2 degrees): it lights "
                                           "nothing")
                                .arg(where)
                                .arg(sun.elevation, 0, 'f', 2));
    log << QStringLiteral("The sun at %1: azimuth %2, elevation %3 degrees.\n")
               .arg(where)
               .arg(sun.azimuth, 0, 'f', 2)
               .arg(sun.elevation, 0, 'f', 2);
    return sun;
}

// One fog for the whole track flight, hiding the nearest edge of the terrain
// in view, but never so thick that the look-ahead point is more than 39 %
// fog: where the flight sees an edge closer than that, it says so.
void fogTheTrackFlight(ImportResult& result, ImportOptions const& options, QTextStream& log) {
    TrackFlight const& track = *result.trackFlight;
    double const diagonal = std::hypot(double(result.texture.width), double(result.texture.height));
    double const lookAhead = (options.track.followBehind > 0 ? options.track.followBehind : options.track.lookAhead) /
                             result.texture.metresPerTexel;
    double const thinnest = std::min(std::round(0.6 * diagonal), std::round(2 * lookAhead));
    double const hiding = fogHidingTheEdge(track.nearestEdge, diagonal);
    double const fog = std::max(hiding, thinnest);
    if (fog > hiding)
        log << QStringLiteral(
                   "Note: at frame %1 the flight looks at the edge of the terrain %2 m away, too near to hide it "
                   "in fog; import a larger region around the track to keep the edge out of view.\n")
                   .arg(track.nearestEdgeFrame)
                   .arg(track.nearestEdge * result.texture.metresPerTexel, 0, 'f', 0);
    result.flight.fogStart = result.flight.fogEnd = fog;
}

}  // namespace

ImportResult runImport(ImportOptions const& options, QTextStream& log) {
    validateOptions(options);
    qint64 const memoryLimit = options.memoryLimit > 0 ? options.memoryLimit : defaultMemoryLimit();
    double const unitMetres = options.unitCm / 100.0;
    ElevationModel const model = readModel(options, memoryLimit, log);
    checkCountRange(model.minimum, model.maximum, unitMetres);
    std::optional<SunPosition> const sun = sunOf(options, model, log);

    ImportResult result;
    result.cellsX = model.width;
    result.cellsY = model.height;
    result.cellMetresX = model.cellMetresX;
    result.cellMetresY = model.cellMetresY;
    result.filledCells = model.filledCells;
    result.texture = layoutTexture(model, texelsPerCell(options, model, memoryLimit));
    checkTextureMemory(result.texture, memoryLimit);

    std::optional<DrapeImage> drape;
    if (!options.textureImage.isEmpty())
        drape.emplace(openDrapeImage(options.textureImage, model, log));
    result.scenery = layoutScenery(model, result.texture, options, unitMetres);
    result.flight = planFlight(result.scenery);
    std::vector<TrackVertex> track;
    if (!options.trackFile.isEmpty()) {
        track = readTrack(options.trackFile, model);
        TrackFlightOptions trackOptions = options.track;
        trackOptions.viewHalfAngle = viewHalfAngle(options.frameWidth);
        result.trackFlight =
            planTrackFlight(track, options.trackFile, model, result.texture, options.exaggeration, trackOptions);
        fogTheTrackFlight(result, options, log);
    }

    result.outputFolder =
        options.outputFolder.isEmpty() ? defaultOutputFolder(options.elevationFile) : options.outputFolder;
    QDir const folder(result.outputFolder);
    prepareOutputFolder(folder, options.force);
    result.heightMapFile = folder.filePath(result.scenery.heightMapName);
    result.textureFile = folder.filePath(result.scenery.textureName);
    result.sceneryFile = folder.filePath(QStringLiteral("scenery.avs"));

    saveImage(encodeHeightMap(model, unitMetres), result.heightMapFile);
    // A relief takes the shadows into its shading; a draped image is darkened where they fall.
    std::vector<float> const sunlit = sun ? sunlitShare(model, *sun, options.exaggeration) : std::vector<float>();
    ReliefStyle style;
    if (sun)
        style.light = *sun;
    style.sunlit = sunlit;
    // Heights below zero mean the model reaches below the sea.
    style.seaLevel = options.seaLevel ? options.seaLevel : model.minimum < 0 ? std::optional(0.0) : std::nullopt;
    QImage texture = drape ? drapeTexture(*drape, model, result.texture)
                           : reliefTexture(model, result.texture, options.exaggeration, style);
    if (sun && drape)
        darkenShadows(texture, sunlit, model, result.texture);
    if (sun)
        result.scenery.light = lightDirection(*sun);
    if (options.drawTrack)
        drawTrack(texture, trackInWorld(track, model, result.texture), result.texture, options.trackColour,
                  options.trackWidth > 0 ? options.trackWidth : 3 * result.texture.metresPerTexel);
    saveImage(texture, result.textureFile);
    writeSceneryFile(
        result.sceneryFile,
        sceneryText(result.scenery, result.flight,
                    result.trackFlight ? trackFlightLines(*result.trackFlight, options.track) : QStringList()));
    reportImport(result, model, options.unitCm, log);
    return result;
}
