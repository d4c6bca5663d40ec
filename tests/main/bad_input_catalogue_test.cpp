// A catalogue of bad and edge inputs run through the program. Every row names
// one input (scenery text, image bytes, folders), the exit code and the
// standard-error text expected, and the files the run must leave behind: a
// refused or failed run leaves no half-written file. Every run must end within
// a time bound, without crashing, with nothing on standard output.
#include "scene_files.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using testsupport::writeFile;
using Setup = std::function<void(SceneFiles const&)>;

struct Row {
    std::string name;
    // Writes s.avs and whatever else the row needs into the scene folder.
    Setup setup;
    int exitCode;
    // "<any>" stands for any text within one line (an operating-system
    // message, say), "<lines>" for any number of whole lines (diagnostics of
    // an image decoder, each on a line of its own).
    QByteArray standardError;
    // Each file the run creates, relative to the scene folder, as
    // "name look WxH": "blank" for a frame of one colour (nothing drawn),
    // "drawn" otherwise. Empty for a run that must leave no file.
    QString newFiles = {};
};

// The lines that make a run write one PNG frame named f0.png.
QByteArray const oneFrame = "AusgabePNG=1\nAusDateiname=f%d\nBildanzahl=1\nStartbildNr=0\nEndbildNr=0\n";
QByteArray const cannotRender = "Error: Cannot render file \"s.avs\": ";
QByteArray const cannotOpen = "Error: Cannot open file \"s.avs\": ";

bool matchesExpected(QByteArray const& actual, QByteArray const& expected) {
    QString pattern = QRegularExpression::escape(QString::fromUtf8(expected));
    pattern.replace(QLatin1String("\\<any\\>"), QLatin1String("[^\\n]*"));
    pattern.replace(QLatin1String("\\<lines\\>"), QLatin1String("(?:[^\\n]*\\n)*"));
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(QString::fromUtf8(actual)).hasMatch();
}

// Every file below the folder, relative to it, sorted.
QStringList filesBelow(QString const& folder) {
    QStringList result;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        result << QDir(folder).relativeFilePath(it.next());
    result.sort();
    return result;
}

void runRows(std::vector<Row> const& rows) {
    for (Row const& row : rows) {
        SCOPED_TRACE(row.name);
        SceneFiles files;
        row.setup(files);
        if (::testing::Test::HasFatalFailure())
            continue;
        QString const folder = files.dir->path();
        QStringList const before = filesBelow(folder);
        auto const result = testsupport::runProgram({"-i", "s.avs"}, folder, 20000);
        EXPECT_FALSE(result.timedOut || result.crashed);
        EXPECT_EQ(result.exitCode, row.exitCode);
        EXPECT_TRUE(matchesExpected(result.standardError, row.standardError))
            << result.standardError.left(600).toStdString();
        EXPECT_TRUE(result.standardOutput.isEmpty()) << result.standardOutput.left(600).toStdString();
        QStringList created;
        for (QString const& file : filesBelow(folder)) {
            if (before.contains(file))
                continue;
            QImage const frame = QImage(files.dir->filePath(file)).convertToFormat(QImage::Format_RGB32);
            QImage blank(frame.size(), frame.format());
            blank.fill(frame.isNull() ? 0 : frame.pixel(0, 0));
            created << QStringLiteral("%1 %2 %3x%4")
                           .arg(file, frame == blank ? QLatin1String("blank") : QLatin1String("drawn"))
                           .arg(frame.width())
                           .arg(frame.height());
        }
        EXPECT_EQ(created.join(QLatin1String(", ")), row.newFiles);
    }
}

// A scenery over the valid base images with the given extra lines.
Setup sceneryWith(QByteArray const& extra) {
    return [extra](SceneFiles const& files) { files.scenery(extra); };
}

// The scenery file itself holds exactly these bytes.
Setup sceneryBytes(QByteArray const& bytes) {
    return [bytes](SceneFiles const& files) { writeFile(files.path("s.avs"), bytes); };
}

// A file with these bytes, and a scenery that uses it under `key`.
Setup image(char const* key, char const* name, std::function<QByteArray(SceneFiles const&)> bytes) {
    return [=](SceneFiles const& files) {
        writeFile(files.path(name), bytes(files));
        files.scenery(oneFrame + key + "=" + name + "\n");
    };
}

// Fixed pseudo-random bytes: the engine's output sequence is fixed by the standard.
QByteArray pseudoRandomBytes(std::uint32_t seed, qsizetype count) {
    std::mt19937 engine(seed);
    QByteArray bytes(count, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(engine() & 0xFFu);
    return bytes;
}

TEST(BadInputCatalogue, SceneryAndImages) {
    auto couldNotOpen = [](char const* what, char const* name) {
        return cannotRender + "Could not open " + what + " file \"" + name + "\".\n";
    };
    // A decoder may explain on lines of its own why it gave up, but its text
    // must neither run into the program's message nor name the wrong format.
    auto decoderThen = [&](char const* what, char const* name) { return "<lines>" + couldNotOpen(what, name); };
    auto cannotWrite = [](char const* name) {
        return "Warning: Cannot write frame file \"missing/" + QByteArray(name) + "\": <any>\n";
    };

    runRows({
        // The first line of these bytes is no key; the second holds a NUL
        // byte, which ends the reading (hostile-input guard).
        {"binary garbage (64 KiB, seed 20240611)", sceneryBytes(pseudoRandomBytes(20240611u, 64 * 1024)), 3,
         cannotOpen + "Line 2 contains a NUL byte: not a scenery file.\n"},
        // The reason is the file system layer's own ("file to open is a directory").
        {"a folder as the scenery file",
         [](SceneFiles const& files) { ASSERT_TRUE(QDir().mkpath(files.path("s.avs"))); }, 3, cannotOpen + "<any>.\n"},
        // Integer-overflow guard: a number beyond int does not convert at all, so no point key matches.
        {"Punkt99999999999", sceneryWith("Punkt99999999999=1,2\n"), 3,
         cannotOpen + "No such key: Punkt99999999999=1,2.\n"},
        // The rasteriser works on screen positions within +-16384: the largest frame side renders.
        {"AusBreite=16384", sceneryWith(oneFrame + "AusBreite=16384\nAusHoehe=16\n"), 0, "", "f0.png drawn 16384x16"},
        // Double-size quality is reduced to the frame size.
        {"GenauRechnen=2", sceneryWith(oneFrame + "GenauRechnen=2\n"), 0, "", "f0.png drawn 64x48"},
        {"no format selected writes nothing", sceneryWith("AusDateiname=n%d\nBildanzahl=3\nEndbildNr=2\n"), 0, ""},

        // Images: anything that is not a complete image is refused with code 4.
        // A file no reader recognises by its content is offered to the TGA
        // reader last, which takes any readable file and says why it fails.
        {"empty height map", image("HDateiname", "empty.png", [](auto&) { return QByteArray(); }), 4,
         decoderThen("elevation", "empty.png")},
        {"texture PNG cut in half",
         image("TDateiname", "half.png",
               [](SceneFiles const& files) {
                   QFile whole(files.path("t.png"));
                   EXPECT_TRUE(whole.open(QIODevice::ReadOnly));
                   return whole.read(whole.size() / 2);
               }),
         4, decoderThen("texture", "half.png")},
        // Hostile-input guard: the header's size (65535 x 65535 pixels, 24-bit,
        // uncompressed) must not be trusted for an allocation. The TGA reader
        // writes its message without a line break before the program's.
        {"TGA claiming 65535 x 65535 pixels with 10 bytes of data",
         image("TDateiname", "huge.tga",
               [](auto&) {
                   return QByteArray::fromHex("000002000000000000000000ffffffff1800") + QByteArray(10, '\x55');
               }),
         4, "QTgaHandler::read(): Cannot read from file" + couldNotOpen("texture", "huge.tga")},
        {"random bytes named .png", image("TDateiname", "noise.png", [](auto&) { return pseudoRandomBytes(7u, 4096); }),
         4, decoderThen("texture", "noise.png")},
        // Empty names and folders are not decoded: the program's line alone.
        {"an empty scenery file", sceneryBytes(""), 4, couldNotOpen("texture", "")},
        {"a folder as the texture",
         [](SceneFiles const& files) {
             ASSERT_TRUE(QDir().mkpath(files.path("texdir")));
             files.scenery(oneFrame + "TDateiname=texdir\n");
         },
         4, couldNotOpen("texture", "texdir")},

        // Unsafe output patterns are refused before the first frame; frames
        // that cannot be written fail the run after a warning for each file.
        {"AusDateiname=f%n", sceneryWith("AusgabePNG=1\nBildanzahl=1\nAusDateiname=f%n\n"), 4,
         cannotRender + "Invalid output file name pattern: f%n.png.\n"},
        {"an output folder that does not exist",
         sceneryWith("AusgabePNG=1\nAusgabePPM=1\nAusDateiname=missing/f%d\nBildanzahl=2\nEndbildNr=1\n"), 4,
         cannotWrite("f0.png") + cannotWrite("f0.ppm") + cannotWrite("f1.png") + cannotWrite("f1.ppm") + cannotRender +
             "4 frame files could not be written.\n"},
    });
}

// NaN and infinite numbers in real-valued keys, one for each kind of value:
// position, angle, fog, scale. The run must end cleanly: refused with a
// message naming the key, or rendered. A view value that is not a number
// draws nothing, and so does an infinite one, which the flight blends into a
// NaN (start + 0 * (end - start) is NaN when either end is infinite): even the
// first frame of a flight with an infinite end value is blank.
TEST(BadInputCatalogue, NonFiniteNumbers) {
    // How the three frames look for nan and for inf and -inf, or the reason of
    // the refusal (starting with "Invalid", %1 standing for the value).
    struct Case {
        char const *key, *nan, *inf;
    };
    QString const invalidScale = QStringLiteral("Invalid value of HDateiSkalaX: %1 (must be a positive number)");
    // The flight runs over three frames so that end values count too.
    QByteArray const frames = "AusgabePNG=1\nAusDateiname=f%d\nBildanzahl=3\nStartbildNr=0\nEndbildNr=2\n";
    std::vector<Row> rows;
    for (Case const& c : {
             Case{"BeobXA", "blank blank blank", "blank blank blank"},
             Case{"RichtungE", "blank blank blank", "blank blank blank"},
             // An infinite fog distance is no fog at all, from the second frame on.
             Case{"NebelE", "blank blank blank", "blank drawn drawn"},
             Case{"HDateiSkalaX", "Invalid", "Invalid"},
             // Heights that are not numbers leave only the cells outside the
             // height map's strict interpolation domain (height 0) drawn.
             Case{"HDateiSkalaZA", "drawn drawn drawn", "drawn drawn drawn"},
         })
        for (QString const value : {"nan", "inf", "-inf"}) {
            QByteArray const line = c.key + ("=" + value.toUtf8());
            QStringList const looks = QString::fromLatin1(value == "nan" ? c.nan : c.inf).split(u' ');
            if (looks[0] == "Invalid")
                rows.push_back({line.toStdString(), sceneryWith(frames + line + "\n"), 4,
                                cannotRender + invalidScale.arg(value).toUtf8() + ".\n"});
            else
                rows.push_back({line.toStdString(), sceneryWith(frames + line + "\n"), 0, "",
                                QStringLiteral("f0.png %1 64x48, f1.png %2 64x48, f2.png %3 64x48")
                                    .arg(looks[0], looks[1], looks[2])});
        }
    runRows(rows);
}

}  // namespace
