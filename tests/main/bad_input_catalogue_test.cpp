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
#include <QImageReader>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using testsupport::writeFile;

// In an expected standard-error text, "<any>" stands for any text within one
// line (an operating-system message, say), "<lines>" for any number of whole
// lines (diagnostics of an image decoder, each on a line of its own).
constexpr char anyText[] = "<any>";
constexpr char anyLines[] = "<lines>";

using Setup = std::function<void(SceneFiles const&)>;

struct Row {
    std::string name;
    // Writes s.avs and whatever else the row needs into the scene folder.
    Setup setup;
    int exitCode;
    QByteArray standardError;
    // Files (relative to the scene folder) the run must create; none for a refused run.
    QStringList newFiles = {};
    // When valid, the size of the first new file read as an image.
    QSize frameSize = {};
    // How each new file looks, in order: "blank" for a frame
    // of one colour (nothing drawn), "drawn" otherwise.
    QByteArray frameLooks = {};
};

// The lines that make a run write one PNG frame named f0.png.
QByteArray const oneFrame = "AusgabePNG=1\nAusDateiname=f%d\nBildanzahl=1\nStartbildNr=0\nEndbildNr=0\n";
QByteArray const cannotRender = "Error: Cannot render file \"s.avs\": ";
QByteArray const cannotOpen = "Error: Cannot open file \"s.avs\": ";

bool matchesExpected(QByteArray const& actual, QByteArray const& expected) {
    QStringList lineParts;
    for (QString const& lines : QString::fromUtf8(expected).split(QLatin1String(anyLines))) {
        QStringList parts = lines.split(QLatin1String(anyText));
        for (QString& part : parts)
            part = QRegularExpression::escape(part);
        lineParts << parts.join(QLatin1String("[^\\n]*"));
    }
    QRegularExpression const pattern(
        QRegularExpression::anchoredPattern(lineParts.join(QLatin1String("(?:[^\\n]*\\n)*"))));
    return pattern.match(QString::fromUtf8(actual)).hasMatch();
}

// "blank" for an image of a single colour, "drawn" for anything else.
QString frameLook(QString const& path) {
    // The widest frames exceed the image system's default allocation limit of 128 MiB.
    int const limit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(0);
    QImage const frame = QImage(path).convertToFormat(QImage::Format_RGB32);
    QImageReader::setAllocationLimit(limit);
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            if (frame.pixel(x, y) != frame.pixel(0, 0))
                return QStringLiteral("drawn");
    return frame.isNull() ? QStringLiteral("unreadable") : QStringLiteral("blank");
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
        EXPECT_FALSE(result.timedOut);
        EXPECT_FALSE(result.crashed);
        EXPECT_EQ(result.exitCode, row.exitCode);
        EXPECT_TRUE(matchesExpected(result.standardError, row.standardError))
            << "expected:\n"
            << row.standardError.left(600).toStdString() << "\nactual:\n"
            << result.standardError.left(600).toStdString();
        EXPECT_TRUE(result.standardOutput.isEmpty()) << result.standardOutput.left(600).toStdString();
        QStringList created;
        QStringList looks;
        for (QString const& file : filesBelow(folder))
            if (!before.contains(file)) {
                created << file;
                looks << frameLook(files.dir->filePath(file));
            }
        EXPECT_EQ(created, row.newFiles);
        if (row.frameSize.isValid() && !created.isEmpty()) {
            EXPECT_EQ(QImageReader(files.dir->filePath(created.first())).size(), row.frameSize);
        }
        EXPECT_EQ(looks.join(' '), QString::fromLatin1(row.frameLooks));
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

// A run of one frame with the extra lines that draws f0.png of the size.
Row drawsOneFrame(QByteArray const& extra, QSize size) {
    return {extra.trimmed().toStdString(), sceneryWith(oneFrame + extra), 0, "", {"f0.png"}, size, "drawn"};
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
    auto decoderThen = [&](char const* what, char const* name) { return anyLines + couldNotOpen(what, name); };
    // The TGA reader writes its row-level message straight to standard error
    // without a line break, so the program's message follows on the same line.
    auto tgaThen = [&](char const* name) {
        return "QTgaHandler::read(): Cannot read from file" + couldNotOpen("texture", name);
    };
    // Headers of uncompressed 24-bit TGA files of 100 x 100 and 65535 x 65535 pixels.
    QByteArray const tga100(QByteArray::fromHex("000002000000000000000000640064001800"));
    QByteArray const tgaHuge(QByteArray::fromHex("000002000000000000000000ffffffff1800"));
    QByteArray const frames2x2 = "AusgabePNG=1\nAusgabePPM=1\nAusDateiname=missing/f%d\nBildanzahl=2\nEndbildNr=1\n";
    auto cannotWrite = [](char const* name) {
        return "Warning: Cannot write frame file \"missing/" + QByteArray(name) + "\": " + anyText + "\n";
    };

    runRows({
        // The first line of these bytes is no key; the second holds a NUL
        // byte, which ends the reading (hostile-input guard).
        {"binary garbage (64 KiB, seed 20240611)", sceneryBytes(pseudoRandomBytes(20240611u, 64 * 1024)), 3,
         cannotOpen + "Line 2 contains a NUL byte: not a scenery file.\n"},
        // The reason is the file system layer's own ("file to open is a directory").
        {"a folder as the scenery file",
         [](SceneFiles const& files) { ASSERT_TRUE(QDir().mkpath(files.path("s.avs"))); }, 3,
         cannotOpen + anyText + ".\n"},
        // A number beyond int does not convert at all, so no point key matches.
        {"Punkt99999999999", sceneryWith("Punkt99999999999=1,2\n"), 3,
         cannotOpen + "No such key: Punkt99999999999=1,2.\n"},
        // A curved flight refusal writes its own line and leaves the reason empty.
        {"three control points", sceneryWith(oneFrame + "Rundflug=1\ncPunkt00=0,0,1\ncPunkt01=1,0,1\ncPunkt02=2,0,1\n"),
         4,
         "SceneryDelegate::CurvedFlight(): number of control points is 3, has to be greater than 3.\n" + cannotRender +
             ".\n"},
        // The rasteriser works on screen positions within +-16384: the largest frame side renders.
        drawsOneFrame("AusBreite=16384\nAusHoehe=16\n", QSize(16384, 16)),
        // Double-size quality is reduced to the frame size.
        drawsOneFrame("GenauRechnen=2\n", QSize(64, 48)),
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
        {"texture TGA with half of its pixel rows",
         image("TDateiname", "cut.tga", [&](auto&) { return tga100 + QByteArray(100 * 50 * 3, '\x55'); }), 4,
         tgaThen("cut.tga")},
        // Hostile-input guard: the header's size must not be trusted for an allocation.
        {"TGA claiming 65535 x 65535 pixels with 10 bytes of data",
         image("TDateiname", "huge.tga", [&](auto&) { return tgaHuge + QByteArray(10, '\x55'); }), 4,
         tgaThen("huge.tga")},
        {"random bytes named .png", image("TDateiname", "noise.png", [](auto&) { return pseudoRandomBytes(7u, 4096); }),
         4, decoderThen("texture", "noise.png")},
        // Empty names, folders and missing files are not decoded: the program's line alone.
        {"an empty scenery file", sceneryBytes(""), 4, couldNotOpen("texture", "")},
        {"a folder as the texture",
         [](SceneFiles const& files) {
             ASSERT_TRUE(QDir().mkpath(files.path("texdir")));
             files.scenery(oneFrame + "TDateiname=texdir\n");
         },
         4, couldNotOpen("texture", "texdir")},
        {"a missing height map", sceneryWith(oneFrame + "HDateiname=gone.png\n"), 4,
         couldNotOpen("elevation", "gone.png")},

        // Unsafe output patterns are refused before the first frame; frames
        // that cannot be written fail the run after a warning for each file.
        {"AusDateiname=f%n", sceneryWith("AusgabePNG=1\nBildanzahl=1\nAusDateiname=f%n\n"), 4,
         cannotRender + "Invalid output file name pattern: f%n.png.\n"},
        {"an output folder that does not exist", sceneryWith(frames2x2), 4,
         cannotWrite("f0.png") + cannotWrite("f0.ppm") + cannotWrite("f1.png") + cannotWrite("f1.ppm") + cannotRender +
             "4 frame files could not be written.\n"},
    });
}

// NaN and infinite numbers in every real-valued key. The run must end
// cleanly: refused with a message naming the key, or rendered. A view value
// that is not a number draws nothing, and so does an infinite one, which the
// flight blends into a NaN (start + 0 * (end - start) is NaN when either end
// is infinite): even the first frame of a flight with an infinite end value
// is blank. One key stands for each way a value reaches the render.
TEST(BadInputCatalogue, NonFiniteNumbers) {
    struct Case {
        char const* key;
        // The outcome for nan, inf and -inf: how the three frames look, or the
        // reason of the refusal (starting with "Invalid").
        QByteArray nan, inf, minusInf;
    };
    QByteArray const positive = "(must be a positive number)";
    QByteArray const blank = "blank blank blank";
    QByteArray const drawn = "drawn drawn drawn";
    std::vector<Case> const cases = {
        {"BeobXA", blank, blank, blank},
        {"RichtungE", blank, blank, blank},
        {"NeigungA", blank, blank, blank},
        {"BrennA", blank, blank, blank},
        {"NebelA", blank, blank, blank},
        // An infinite fog distance is no fog at all, from the second frame on.
        {"NebelE", blank, "blank drawn drawn", "blank drawn drawn"},
        {"Traegheit", blank, blank, blank},
        {"LichtZ", blank, blank, blank},
        {"HDateiSkalaX", "Invalid value of HDateiSkalaX: nan " + positive,
         "Invalid value of HDateiSkalaX: inf " + positive, "Invalid value of HDateiSkalaX: -inf " + positive},
        // Heights that are not numbers leave only the cells outside the
        // height map's strict interpolation domain (height 0) drawn.
        {"HDateiSkalaZA", drawn, drawn, drawn},
        {"HoeheUeberBoden", drawn, drawn, drawn},  // stored only
    };
    // The flight runs over three frames so that end values count too.
    QByteArray const frames = "AusgabePNG=1\nAusDateiname=f%d\nBildanzahl=3\nStartbildNr=0\nEndbildNr=2\n";
    std::vector<Row> rows;
    for (Case const& c : cases)
        for (auto const& [value, outcome] :
             {std::pair{"nan", c.nan}, std::pair{"inf", c.inf}, std::pair{"-inf", c.minusInf}}) {
            QByteArray const line = QByteArray(c.key) + "=" + value;
            if (outcome.startsWith("Invalid"))
                rows.push_back(
                    {line.toStdString(), sceneryWith(frames + line + "\n"), 4, cannotRender + outcome + ".\n"});
            else
                rows.push_back({line.toStdString(),
                                sceneryWith(frames + line + "\n"),
                                0,
                                "",
                                {"f0.png", "f1.png", "f2.png"},
                                QSize(64, 48),
                                outcome});
        }
    runRows(rows);
}

}  // namespace
