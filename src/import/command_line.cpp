#include "command_line.h"

#include "import_error.h"
#include "importer.h"

#include <QColor>
#include <QCommandLineParser>
#include <QRegularExpression>
#include <QTextStream>

#include <new>

namespace {

QString const programName = QStringLiteral("AVImport");

// The value of option `name` read by `convert` (text, &ok), or `fallback` when the option is not given; refused unless
// it reads as `what`.
template <class Value, class Convert>
Value parseOption(QCommandLineParser const& parser, QString const& name, Value fallback, Convert convert,
                  char const* what) {
    if (!parser.isSet(name))
        return fallback;
    bool ok = false;
    Value const value = convert(parser.value(name), &ok);
    if (!ok)
        throw argumentError(
            QStringLiteral("--%1 needs %2, not \"%3\"").arg(name, QLatin1String(what), parser.value(name)));
    return value;
}

double parseNumber(QCommandLineParser const& parser, QString const& name, double fallback) {
    return parseOption(
        parser, name, fallback, [](QString const& text, bool* ok) { return text.toDouble(ok); }, "a number");
}

int parseInteger(QCommandLineParser const& parser, QString const& name, int fallback) {
    return parseOption(
        parser, name, fallback, [](QString const& text, bool* ok) { return text.toInt(ok); }, "a whole number");
}

// `count` comma-separated numbers, e.g. W,S,E,N.
std::vector<double> parseNumbers(QCommandLineParser const& parser, QString const& name, int count, char const* what) {
    auto const refused = [&] {
        return argumentError(
            QStringLiteral("--%1 needs %2, not \"%3\"").arg(name, QLatin1String(what), parser.value(name)));
    };
    std::vector<double> numbers;
    for (QString const& part : parser.value(name).split(QLatin1Char(','))) {
        bool ok = false;
        numbers.push_back(part.trimmed().toDouble(&ok));
        if (!ok)
            throw refused();
    }
    if (int(numbers.size()) != count)
        throw refused();
    return numbers;
}

TrackFlightOptions trackOptionsFrom(QCommandLineParser const& parser) {
    TrackFlightOptions track;
    track.heightAbove = parseNumber(parser, QStringLiteral("height-above"), track.heightAbove);
    track.smooth = parseNumber(parser, QStringLiteral("smooth"), track.smooth);
    track.lookAhead = parseNumber(parser, QStringLiteral("look-ahead"), track.lookAhead);
    if (parser.isSet(QStringLiteral("tilt")))
        track.tilt = parseNumber(parser, QStringLiteral("tilt"), 0.0);
    track.duration = parseNumber(parser, QStringLiteral("duration"), track.duration);
    track.fps = parseInteger(parser, QStringLiteral("fps"), track.fps);
    track.trackAltitude = parser.isSet(QStringLiteral("track-altitude"));
    track.followBehind = parseNumber(parser, QStringLiteral("follow-behind"), track.followBehind);
    return track;
}

RegionRequest regionFrom(QCommandLineParser const& parser) {
    RegionRequest region;
    if (parser.isSet(QStringLiteral("bbox"))) {
        std::vector<double> const b = parseNumbers(parser, QStringLiteral("bbox"), 4, "W,S,E,N");
        region.box = Box{b[0], b[1], b[2], b[3]};
    }
    region.boxCrs = parser.value(QStringLiteral("bbox-crs")).toUtf8();
    if (parser.isSet(QStringLiteral("center"))) {
        std::vector<double> const c = parseNumbers(parser, QStringLiteral("center"), 2, "LON,LAT in degrees");
        region.centre = std::array<double, 2>{c[0], c[1]};
    }
    region.radiusKm = parseNumber(parser, QStringLiteral("radius"), 0.0);
    region.file = parser.value(QStringLiteral("region"));
    return region;
}

ImportOptions optionsFrom(QCommandLineParser const& parser) {
    QStringList const inputs = parser.positionalArguments();
    if (inputs.isEmpty())
        throw argumentError(QStringLiteral("No elevation raster given"));
    if (inputs.size() > 1)
        throw argumentError(QStringLiteral("Only one elevation raster can be imported at a time, got %1: %2")
                                .arg(inputs.size())
                                .arg(inputs.join(QLatin1Char(' '))));
    ImportOptions options;
    options.elevationFile = inputs.first();
    options.outputFolder = parser.value(QStringLiteral("output"));
    options.textureImage = parser.value(QStringLiteral("texture"));
    options.band = parseInteger(parser, QStringLiteral("band"), options.band);
    options.region = regionFrom(parser);
    if (parser.isSet(QStringLiteral("max-size")))
        options.maxSize = parseInteger(parser, QStringLiteral("max-size"), 0);
    options.texelsPerCell = parseNumber(parser, QStringLiteral("texels-per-cell"), options.texelsPerCell);
    options.exaggeration = parseNumber(parser, QStringLiteral("exaggeration"), options.exaggeration);
    options.unitCm = parseNumber(parser, QStringLiteral("unit-cm"), options.unitCm);
    if (parser.isSet(QStringLiteral("vertical-unit")))
        options.metresPerValue = parseNumber(parser, QStringLiteral("vertical-unit"), 1.0);
    if (parser.isSet(QStringLiteral("pixel-size"))) {
        QStringList const parts = parser.value(QStringLiteral("pixel-size")).split(QLatin1Char(','));
        bool okX = false, okY = true;
        options.pixelSizeX = parts.value(0).toDouble(&okX);
        options.pixelSizeY = parts.size() > 1 ? parts.value(1).toDouble(&okY) : *options.pixelSizeX;
        if (parts.size() > 2 || !okX || !okY)
            throw argumentError(QStringLiteral("--pixel-size needs METRES or X,Y in metres, not \"%1\"")
                                    .arg(parser.value(QStringLiteral("pixel-size"))));
    }
    if (parser.isSet(QStringLiteral("frame-size"))) {
        static QRegularExpression const pattern(QStringLiteral("^(\\d{1,6})[xX](\\d{1,6})$"));
        QRegularExpressionMatch const match = pattern.match(parser.value(QStringLiteral("frame-size")));
        if (!match.hasMatch())
            throw argumentError(QStringLiteral("--frame-size needs WIDTHxHEIGHT, e.g. 640x480, not \"%1\"")
                                    .arg(parser.value(QStringLiteral("frame-size"))));
        options.frameWidth = match.captured(1).toInt();
        options.frameHeight = match.captured(2).toInt();
    }
    if (parser.isSet(QStringLiteral("sun-azimuth")))
        options.sunAzimuth = parseNumber(parser, QStringLiteral("sun-azimuth"), 0.0);
    if (parser.isSet(QStringLiteral("sun-elevation")))
        options.sunElevation = parseNumber(parser, QStringLiteral("sun-elevation"), 0.0);
    options.trackFile = parser.value(QStringLiteral("track"));
    options.texelsForTheTrack = !options.trackFile.isEmpty() && !parser.isSet(QStringLiteral("texels-per-cell"));
    options.track = trackOptionsFrom(parser);
    options.drawTrack = parser.isSet(QStringLiteral("draw-track"));
    options.force = parser.isSet(QStringLiteral("force"));
    if (parser.isSet(QStringLiteral("encoding"))) {
        QString const encoding = parser.value(QStringLiteral("encoding"));
        if (encoding == QLatin1String("terrain-rgb"))
            options.encoding = HeightEncoding::TerrainRgb;
        else if (encoding == QLatin1String("terrarium"))
            options.encoding = HeightEncoding::Terrarium;
        else
            throw argumentError(QStringLiteral("--encoding takes terrain-rgb or terrarium, not \"%1\"").arg(encoding));
    }
    if (parser.isSet(QStringLiteral("sea-level")))
        options.seaLevel = parseNumber(parser, QStringLiteral("sea-level"), 0.0);
    if (parser.isSet(QStringLiteral("track-colour")))
        options.trackColour = QColor::fromString(parser.value(QStringLiteral("track-colour")));
    options.trackWidth = parseNumber(parser, QStringLiteral("track-width"), options.trackWidth);
    if (parser.isSet(QStringLiteral("sun"))) {
        QString const text = parser.value(QStringLiteral("sun"));
        options.sunTime = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (!options.sunTime.isValid() || options.sunTime.timeSpec() == Qt::LocalTime)
            throw argumentError(QStringLiteral("--sun needs a date and time with its offset from UTC, e.g. "
                                               "2024-06-21T17:30+02:00 or 2024-06-21T15:30Z, not \"%1\"")
                                    .arg(text));
    }
    if (parser.isSet(QStringLiteral("memory-limit"))) {
        double const mebibytes = parseNumber(parser, QStringLiteral("memory-limit"), 0.0);
        if (!(mebibytes >= 1 && mebibytes < 1e12))
            throw argumentError(QStringLiteral("--memory-limit needs a number of MiB of at least 1"));
        options.memoryLimit = static_cast<qint64>(mebibytes * 1024.0 * 1024.0);
    }
    validateOptions(options);
    return options;
}

}  // namespace

QString usageText() {
    return QStringLiteral(
        "Usage: AVImport [options] ELEVATION-RASTER\n"
        "\n"
        "Turns an elevation model (band 1 of any raster GDAL reads: GeoTIFF, SRTM .hgt,\n"
        "ESRI ASCII grid, 16-bit PNG, ...) into the input of AVRender: an output folder\n"
        "with heightmap.png, texture.png, scenery.avs and an empty frames/ folder.\n"
        "Render the flight from inside that folder: AVRender -i scenery.avs\n"
        "\n"
        "Options:\n"
        "  -o, --output FOLDER        output folder (default: the raster's name without\n"
        "                             its suffix, in the current folder)\n"
        "  -t, --texture IMAGE        drape this image (any GDAL raster, e.g. an\n"
        "                             orthophoto) over the terrain; without it the texture\n"
        "                             is a shaded colour relief of the heights\n"
        "  -n, --texels-per-cell N    texels per elevation cell along the finer axis\n"
        "                             (default 4, and with --track as many as make a\n"
        "                             texel a twentieth of --height-above); texels are\n"
        "                             square in metres\n"
        "  -e, --exaggeration F       vertical exaggeration (default 1)\n"
        "  -u, --unit-cm N            height-map count unit in centimetres (default 1);\n"
        "                             heights must fit signed 24-bit counts of it\n"
        "  -b, --band N               the raster band holding the heights (default 1)\n"
        "      --bbox W,S,E,N         import only this box, in degrees of longitude and\n"
        "                             latitude (WGS 84),\n"
        "      --bbox-crs CRS         or in this coordinate system (EPSG:32633, WKT, a\n"
        "                             PROJ string; \"model\" for the raster's own)\n"
        "      --center LON,LAT       import only the square around this place, reaching\n"
        "      --radius KM            this far from it in each direction\n"
        "      --region FILE          import only the extent of the shapes in this vector\n"
        "                             file (GeoJSON, KML, GPX, shapefile, ...)\n"
        "                             A region partly outside the raster is clipped.\n"
        "      --max-size N           at most N cells along the longer side, averaged\n"
        "                             from the raster's overviews where it has them\n"
        "                             (default: twice the frame's longer side, four times\n"
        "                             with --track; 0 reads every cell)\n"
        "      --pixel-size M[,M]     cell size in metres (x, y) for rasters without\n"
        "                             georeferencing, or to override it\n"
        "      --vertical-unit M      metres per raster value (default: from the band's\n"
        "                             unit, else 1)\n"
        "      --frame-size WxH       frame size of the starter flight (default 640x480)\n"
        "      --track FILE           a curved flight along this GPS track (GPX, KML,\n"
        "                             GeoJSON, or CSV of lon,lat[,alt]) at an even speed\n"
        "      --height-above M       the track flight's height above the terrain (150)\n"
        "      --smooth M             smoothing of the track against GPS noise (30)\n"
        "      --look-ahead M         the camera looks at the track this far ahead (300)\n"
        "      --tilt DEG             fixed tilt (default: toward the look-ahead point)\n"
        "      --duration S, --fps N  length of the track flight (default: 40 m/s), and\n"
        "                             its frames a second (25)\n"
        "      --track-altitude       fly at the track's own altitudes\n"
        "      --follow-behind M      trail the track position by M metres, looking at it\n"
        "      --draw-track           paint the track into the texture, in\n"
        "      --track-colour C       this colour (a name or #rrggbb, default #e8302a),\n"
        "      --track-width M        this many metres wide (default three texels)\n"
        "      --sun DATE-TIME        light from the sun as it stands over the model's\n"
        "                             centre at this moment (ISO 8601 with its offset\n"
        "                             from UTC, e.g. 2024-06-21T17:30+02:00)\n"
        "      --sun-azimuth DEG      light from a sun at this azimuth (clockwise from\n"
        "      --sun-elevation DEG    north) and elevation, with the terrain's shadows in\n"
        "                             the texture (default: light from the north-west,\n"
        "                             35 degrees up, no shadows)\n"
        "      --memory-limit MIB     refuse outputs needing more memory (default: half\n"
        "                             the physical memory)\n"
        "      --encoding NAME        heights in red, green and blue: terrain-rgb\n"
        "                             (Mapbox) or terrarium, as web map tiles hold them\n"
        "      --sea-level M          colour the relief below this height as sea floor\n"
        "                             (default 0 when the model reaches below zero)\n"
        "      --force                import into a folder that is not empty: replace\n"
        "                             its height map, texture and scenery, empty frames/\n"
        "  -q, --quiet                print errors only\n"
        "  -h, -?, --help             print this text\n"
        "\n"
        "Exit codes: 0 done, 1 bad arguments, 2 input error (unreadable raster, no band,\n"
        "image outside the terrain, heights beyond the count range), 3 output error\n"
        "(cannot write, or the output would need more memory than the limit).\n"
        "All messages go to standard error.\n");
}

int runCommandLine(QStringList const& arguments, QTextStream& messages) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    auto valued = [&parser](QStringList const& names, char const* valueName) {
        parser.addOption(QCommandLineOption(names, QString(), QLatin1String(valueName)));
    };
    valued({QStringLiteral("o"), QStringLiteral("output")}, "folder");
    valued({QStringLiteral("t"), QStringLiteral("texture")}, "image");
    valued({QStringLiteral("n"), QStringLiteral("texels-per-cell")}, "n");
    valued({QStringLiteral("e"), QStringLiteral("exaggeration")}, "f");
    valued({QStringLiteral("u"), QStringLiteral("unit-cm")}, "n");
    valued({QStringLiteral("b"), QStringLiteral("band")}, "n");
    valued({QStringLiteral("pixel-size")}, "m");
    valued({QStringLiteral("vertical-unit")}, "m");
    valued({QStringLiteral("frame-size")}, "wxh");
    valued({QStringLiteral("track")}, "file");
    valued({QStringLiteral("height-above")}, "m");
    valued({QStringLiteral("smooth")}, "m");
    valued({QStringLiteral("look-ahead")}, "m");
    valued({QStringLiteral("tilt")}, "deg");
    valued({QStringLiteral("duration")}, "s");
    valued({QStringLiteral("fps")}, "n");
    valued({QStringLiteral("track-colour")}, "colour");
    valued({QStringLiteral("track-width")}, "m");
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("draw-track")}));
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("track-altitude")}));
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("force")}));
    valued({QStringLiteral("sea-level")}, "m");
    valued({QStringLiteral("encoding")}, "name");
    valued({QStringLiteral("follow-behind")}, "m");
    valued({QStringLiteral("sun")}, "date-time");
    valued({QStringLiteral("sun-azimuth")}, "deg");
    valued({QStringLiteral("sun-elevation")}, "deg");
    valued({QStringLiteral("memory-limit")}, "mib");
    valued({QStringLiteral("bbox")}, "w,s,e,n");
    valued({QStringLiteral("bbox-crs")}, "crs");
    valued({QStringLiteral("center")}, "lon,lat");
    valued({QStringLiteral("radius")}, "km");
    valued({QStringLiteral("region")}, "file");
    valued({QStringLiteral("max-size")}, "n");
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("q"), QStringLiteral("quiet")}));
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("?"), QStringLiteral("help")}));

    auto fail = [&messages](ImportError const& error) {
        messages << programName << ": " << error.message() << '\n';
        if (error.code() == ExitCode::BadArguments)
            messages << "Try \"" << programName << " --help\" for the options.\n";
        messages.flush();
        return static_cast<int>(error.code());
    };

    if (!parser.parse(arguments))
        return fail(argumentError(parser.errorText()));
    if (parser.isSet(QStringLiteral("help"))) {
        messages << usageText();
        messages.flush();
        return static_cast<int>(ExitCode::Success);
    }
    try {
        ImportOptions const options = optionsFrom(parser);
        QString discarded;
        QTextStream silent(&discarded);
        bool const quiet = parser.isSet(QStringLiteral("quiet"));
        runImport(options, quiet ? silent : messages);
        return static_cast<int>(ExitCode::Success);
    } catch (ImportError const& error) {
        return fail(error);
    } catch (std::bad_alloc const&) {
        return fail(outputError(QStringLiteral("Out of memory")));
    }
}
