#include "scenery_delegate.h"

#include "point_number.h"

#include <QTextStream>

#include <type_traits>
#include <utility>
#include <variant>

namespace {

int toInteger(QString const& text) { return text.toInt(nullptr, 10); }

}  // namespace

SceneryDelegate::SceneryDelegate(QTextStream& log_, bool verbose_)
    : QFile(),
      log(&log_),
      verbose(verbose_),
      parameters(new SceneryData),
      run_(std::make_unique<RenderRun>(RenderSource{*parameters, log_, verbose, options})) {}

SceneryDelegate::~SceneryDelegate() {
    // The run refers to the record: it goes first.
    run_.reset();
    delete parameters;
    parameters = nullptr;
}

// ---------------------------------------------------------------------------
// Rendering, done by the run with the flight the record selects

bool SceneryDelegate::renderFinal() {
    bool const result = run_->render([this](TextureImage* texture) {
        return parameters->flyStraight ? straightFlight(texture) : curvedFlight(texture);
    });
    // The device's error string tells the reason too, as it did for every
    // failure set during the run.
    setErrorString(run_->errorString());
    return result;
}

void SceneryDelegate::Scan(TextureImage* texture, bool useBackground, unsigned int background, int exactMode) {
    run_->Scan(texture, useBackground, background, exactMode);
}

void SceneryDelegate::writeLog(QString const& text) {
    *log << text;
    log->flush();
}

// ---------------------------------------------------------------------------
// Reading a file

bool SceneryDelegate::open(QString const& fileName) {
    setFileName(fileName);
    // Refused without being opened: Qt would add warnings of its own.
    if (fileName.isEmpty()) {
        setErrorString(tr("No file name specified"));
        return false;
    }
    if (!QFile::open(QIODevice::ReadOnly | QIODevice::Text))
        return false;

    waypoints.clear();
    controlPoints.clear();
    parameters->writePng = false;

    QTextStream stream(this);
    bool allUnderstood = true;
    // Reading from the device and closing it clear its error string, so the
    // message of the last failing line is kept here and restored at the end.
    QString readerMessage;
    int lineNumber = 0;
    // Reads at most one character more than a line may hold, so an endless
    // line (a binary file, say) is recognised without reading it whole.
    QString line = stream.readLine(maximumLineLength + 1);
    while (!line.isEmpty()) {
        ++lineNumber;
        if (line.size() > maximumLineLength) {
            readerMessage =
                tr("Line %1 is longer than %2 characters: not a scenery file").arg(lineNumber).arg(maximumLineLength);
            allUnderstood = false;
            break;
        }
        if (line.contains(QChar(0))) {
            readerMessage = tr("Line %1 contains a NUL byte: not a scenery file").arg(lineNumber);
            allUnderstood = false;
            break;
        }
        compactLine(line);
        if (!processLineLoad(line)) {
            allUnderstood = false;
            readerMessage = errorString();
        }
        line = stream.readLine(maximumLineLength + 1);
    }

    normalisePointLists();
    close();
    if (!allUnderstood)
        setErrorString(readerMessage);
    return allUnderstood;
}

void SceneryDelegate::compactLine(QString& line) {
    qsizetype const equals = line.indexOf(QLatin1Char('='));
    if (equals < 0)
        return;
    QString key = line.left(equals);
    key.remove(QLatin1Char(' '));
    key.remove(QLatin1Char('\t'));
    line = key + line.mid(equals);
}

bool SceneryDelegate::processLineLoad(QString const& line) {
    if (line.startsWith(QLatin1String("[Param]")))
        return true;

    int result = processScalarLine(line);
    if (result == NoMatch)
        result = processWaypointLine(line);
    if (result == NoMatch)
        result = processControlPointLine(line);
    if (result == NoMatch) {
        setErrorString(QStringLiteral("No such key: %1").arg(line));
        return false;
    }
    return result == ValueRead;
}

namespace {

// The scalar keys, in the order in which they are tried, and where each value
// goes: a field of the record, or one of the flags that need more than a store.
using ScalarTarget = std::variant<double SceneryValues::*, int SceneryValues::*, unsigned int SceneryValues::*,
                                  bool SceneryValues::*, QString SceneryValues::*, SceneryFlagKey>;
struct ScalarKey {
    char const* key;
    ScalarTarget target;
};
ScalarKey const scalarKeys[] = {
    {"BeobXA", &SceneryValues::observerXStart},
    {"BeobYA", &SceneryValues::observerYStart},
    {"BeobZA", &SceneryValues::observerZStart},
    {"RichtungA", &SceneryValues::headingStart},
    {"NeigungA", &SceneryValues::tiltStart},
    {"BrennA", &SceneryValues::focalLengthStart},
    {"VerkantenA", &SceneryValues::bankStart},
    {"BeobXE", &SceneryValues::observerXEnd},
    {"BeobYE", &SceneryValues::observerYEnd},
    {"BeobZE", &SceneryValues::observerZEnd},
    {"RichtungE", &SceneryValues::headingEnd},
    {"NeigungE", &SceneryValues::tiltEnd},
    {"BrennE", &SceneryValues::focalLengthEnd},
    {"VerkantenE", &SceneryValues::bankEnd},
    {"Bildanzahl", &SceneryValues::frameCount},
    {"Offset", &SceneryValues::frameNumberOffset},
    {"StartbildNr", &SceneryValues::firstFrame},
    {"EndbildNr", &SceneryValues::lastFrame},
    {"LichtX", &SceneryValues::lightX},
    {"LichtY", &SceneryValues::lightY},
    {"LichtZ", &SceneryValues::lightZ},
    {"NebelA", &SceneryValues::fogStart},
    {"NebelE", &SceneryValues::fogEnd},
    {"Traegheit", &SceneryValues::inertia},
    {"AusgabeTGA", &SceneryValues::writeTga},
    {"AusgabeYUV", SceneryFlagKey::ObsoleteYuv},
    {"AusgabePNG", SceneryFlagKey::AlsoPng},
    {"AusgabeJPG", &SceneryValues::writeJpg},
    {"AusgabePPM", &SceneryValues::writePpm},
    {"AusDateiname", &SceneryValues::outputFileName},
    {"TDateiVerwenden", &SceneryValues::useTextureFile},
    {"TDateiname", &SceneryValues::textureFileName},
    {"HDateiname", &SceneryValues::elevationFileName},
    {"HDateiSkalaX", &SceneryValues::elevationScaleX},
    {"HDateiSkalaY", &SceneryValues::elevationScaleY},
    {"HDateiSkalaZA", &SceneryValues::zScaleStart},
    {"HDateiSkalaZE", &SceneryValues::zScaleEnd},
    {"MDateiVerwenden", &SceneryValues::useMaskFile},
    {"MaskenDateiName", &SceneryValues::maskFileName},
    {"AusBreite", &SceneryValues::outputWidth},
    {"AusHoehe", &SceneryValues::outputHeight},
    {"AusAuflX", &SceneryValues::gridResolutionXSetting},
    {"AusAuflY", &SceneryValues::gridResolutionYSetting},
    {"HintergrundVerwenden", &SceneryValues::useBackgroundColor},
    {"GenauRechnen", &SceneryValues::renderQuality},
    {"Hintergrund", &SceneryValues::backgroundArgb},
    {"Rundflug", SceneryFlagKey::Round},
    {"HoeheUeberBoden", &SceneryValues::heightAboveGround},
    {"VerkantenFaktor", &SceneryValues::bankFactor},
    {"Voraussicht", &SceneryValues::lookAhead},
    {"Recorder", &SceneryValues::recorder},
};

}  // namespace

int SceneryDelegate::processScalarLine(QString const& line) {
    for (ScalarKey const& entry : scalarKeys) {
        // Most keys do not start the line: tell without building a string.
        if (!line.startsWith(QLatin1StringView(entry.key)))
            continue;
        QString const key = QString::fromLatin1(entry.key);
        int const result = std::visit(
            [&](auto target) {
                if constexpr (std::is_same_v<decltype(target), SceneryFlagKey>)
                    return processFlagKey(line, key, target);
                else
                    return readValueFromKey(line, key, parameters->*target);
            },
            entry.target);
        if (result != NoMatch)
            return result;
    }
    return NoMatch;
}

// The flags whose value is not simply stored: the obsolete YUV output turns
// into PNG with a note, PNG output is only ever switched on, and the file's
// "round flight" is the record's negated straight flight.
int SceneryDelegate::processFlagKey(QString const& line, QString const& key, SceneryFlagKey kind) {
    bool flag = false;
    int const result = readValueFromKey(line, key, flag);
    if (result != ValueRead)
        return result;
    SceneryData& p = *parameters;
    switch (kind) {
        case SceneryFlagKey::ObsoleteYuv:
            if (flag) {
                writeLog(
                    tr("Obsolete Output Image Format:\nThe YUV output image format selected in this "
                       "input file is no longer accepted.\nThe PNG format is selected instead.\n"));
                p.writePng = true;
            }
            break;
        case SceneryFlagKey::AlsoPng:
            p.writePng = p.writePng || flag;
            break;
        case SceneryFlagKey::Round:
            p.flyStraight = !flag;
            break;
    }
    return result;
}

// ---------------------------------------------------------------------------
// Key matching and value kinds

int SceneryDelegate::matchKey(QString const& line, QString const& key, QString& valueText) {
    if (!line.startsWith(key))
        return NoMatch;
    qsizetype const equals = line.indexOf(QLatin1Char('='));
    if (equals < 0) {
        setErrorString(tr("No key/value pair: %1").arg(line));
        return Malformed;
    }
    // The line goes on with further key characters ("BeobXAB=1"): another key.
    if (equals != key.size())
        return NoMatch;
    valueText = line.mid(equals + 1);
    return ValueRead;
}

int SceneryDelegate::malformed(QString const& message) {
    setErrorString(message);
    return Malformed;
}

int SceneryDelegate::readValueFromKey(QString const& line, QString const& key, QString& value) {
    return readWith(line, key, [&](QString const& text) -> int {
        value = text;
        return ValueRead;
    });
}

int SceneryDelegate::readValueFromKey(QString const& line, QString const& key, unsigned int& colour) {
    return readWith(line, key, [&](QString const& text) -> int {
        bool ok = false;
        unsigned long const v = text.toULong(&ok, 16);
        if (!ok || v > 0xFFFFFFFFul)
            return malformed(tr("No color value: %1").arg(text));
        // The file gives the colour with red in the lowest byte.
        colour =
            static_cast<unsigned int>(0xFF000000ul | ((v & 0xFFul) << 16) | (v & 0xFF00ul) | ((v & 0xFF0000ul) >> 16));
        return ValueRead;
    });
}

int SceneryDelegate::readValueFromKey(QString const& line, QString const& key, bool& flag) {
    return readWith(line, key, [&](QString const& text) -> int {
        flag = toInteger(text) != 0;
        return ValueRead;
    });
}

int SceneryDelegate::readValueFromKey(QString const& line, QString const& key, int& value) {
    return readWith(line, key, [&](QString const& text) -> int {
        value = toInteger(text);
        return ValueRead;
    });
}

int SceneryDelegate::readValueFromKey(QString const& line, QString const& key, int& first, int& second) {
    return readWith(line, key, [&](QString const& text) -> int {
        qsizetype const comma = text.indexOf(QLatin1Char(','));
        if (comma < 0)
            return malformed(tr("No comma in two value parameter: %1").arg(line));
        first = toInteger(text.left(comma));
        second = toInteger(text.mid(comma + 1));
        return ValueRead;
    });
}

int SceneryDelegate::readValueFromKey(QString const& line, QString const& key, int& first, int& second, int& third) {
    return readWith(line, key, [&](QString const& text) -> int {
        qsizetype const firstComma = text.indexOf(QLatin1Char(','));
        if (firstComma < 0)
            return malformed(tr("No first comma in three value parameter: %1").arg(line));
        QString const rest = text.mid(firstComma + 1);
        qsizetype const secondComma = rest.indexOf(QLatin1Char(','));
        if (secondComma < 0)
            return malformed(tr("No second comma in three value parameter: %1").arg(line));
        first = toInteger(text.left(firstComma));
        second = toInteger(rest.left(secondComma));
        third = toInteger(rest.mid(secondComma + 1));
        return ValueRead;
    });
}

int SceneryDelegate::readValueFromKey(QString const& line, QString const& key, double& value) {
    return readWith(line, key, [&](QString const& text) -> int {
        value = text.toDouble();
        return ValueRead;
    });
}

// ---------------------------------------------------------------------------
// Waypoint and control point lines

namespace {

// The number after a point prefix: up to the first "_" of the line, else up
// to the first "=", else to the end; a non-number gives 0.
int pointNumberAfter(QString const& line, qsizetype prefixLength) {
    qsizetype end = line.indexOf(QLatin1Char('_'));
    if (end < 0)
        end = line.indexOf(QLatin1Char('='));
    if (end < 0)
        end = line.size();
    return toInteger(line.mid(prefixLength, end - prefixLength));
}

bool beginsWithIgnoringCase(QString const& line, QLatin1String prefix) {
    return line.left(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
}

}  // namespace

bool SceneryDelegate::checkPointNumber(int number, QString const& line) {
    if (number < 0) {
        setErrorString(tr("Negative point number: %1").arg(line));
        return false;
    }
    if (number > maximumPointNumber) {
        setErrorString(tr("Point number too large: %1").arg(line));
        return false;
    }
    return true;
}

int SceneryDelegate::processWaypointLine(QString const& line) {
    int const n = beginsWithIgnoringCase(line, QLatin1String("Punkt")) ? pointNumberAfter(line, 5) : 0;
    QString const key = QStringLiteral("Punkt") + formatPointNumber(n);

    // The keys of one waypoint in the order they are tried; the first that
    // the line carries decides.
    enum Field { Position, Z, I, A, P };
    int x = 0, y = 0, z = 0;
    double value = 0.0;
    Field field = Position;
    int r = readValueFromKey(line, key, x, y);
    if (r == NoMatch) {
        field = Z;
        r = readValueFromKey(line, key + QLatin1String("_z"), z);
    }
    for (auto [suffix, candidate] : {std::pair{"_i", I}, std::pair{"_a", A}, std::pair{"_p", P}}) {
        if (r != NoMatch)
            break;
        field = candidate;
        r = readValueFromKey(line, key + QLatin1String(suffix), value);
    }
    if (r != ValueRead)
        return r;
    if (!checkPointNumber(n, line))
        return Malformed;

    while (waypoints.size() <= n)
        waypoints.append(Waypoint(0, 0, 0, 0.0, 0.0));
    Waypoint& entry = waypoints[n];
    switch (field) {
        case Position:
            entry.x = x;
            entry.y = y;
            break;
        case Z:
            entry.z = z;
            break;
        case I:
            entry.i = value;
            break;
        case A:
            entry.a = value;
            break;
        case P:
            entry.p = value;
            break;
    }
    return ValueRead;
}

int SceneryDelegate::processControlPointLine(QString const& line) {
    if (!beginsWithIgnoringCase(line, QLatin1String("cPunkt")))
        return NoMatch;
    int const n = pointNumberAfter(line, 6);
    int x = 0, y = 0, z = 0;
    int const r = readValueFromKey(line, QStringLiteral("cPunkt") + formatPointNumber(n), x, y, z);
    if (r != ValueRead)
        return r;
    if (!checkPointNumber(n, line))
        return Malformed;

    while (controlPoints.size() <= n)
        controlPoints.append(ControlPoint(0, 0, 0, 0.0));
    ControlPoint& entry = controlPoints[n];
    entry.x = x;
    entry.y = y;
    entry.z = z;
    return ValueRead;
}

// A curved flight needs four control points; its waypoint curves are built
// from 6 * 2^L + 1 waypoints, so the list is cut to the largest such count.
void SceneryDelegate::normalisePointLists() {
    if (controlPoints.size() < 4)
        waypoints.clear();
    qsizetype keep = 0;
    for (qsizetype count : {7, 13, 25, 49, 97, 193})
        if (count <= waypoints.size())
            keep = count;
    waypoints.remove(keep, waypoints.size() - keep);
}
