// A catalogue of bad inputs run through the program. Every row names one input
// (scenery text, image bytes, folders), the exit code and the standard-error
// text expected, and the files the run must leave behind. Every run must end
// within a time bound, without crashing, with nothing on standard output.
#include "scene_files.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QSize>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using testsupport::runProgram;
using testsupport::writeFile;

// Every run must finish well within this bound; a run that reaches it counts as a hang.
constexpr int timeBoundMs = 20000;

// In an expected standard-error text, "<any>" stands for any text within one
// line (an operating-system message, say), "<lines>" for any number of whole
// lines (diagnostics of an image decoder, each on a line of its own).
constexpr char anyText[] = "<any>";
constexpr char anyLines[] = "<lines>";

struct Row {
    std::string name;
    // Writes s.avs and whatever else the row needs into the scene folder.
    std::function<void(SceneFiles const&)> setup;
    int exitCode;
    QByteArray standardError;
    // Files (relative to the scene folder) the run must create; none for a refused run.
    QStringList newFiles = {};
    // When valid, the size of the first new file read as an image.
    QSize frameSize = {};
    // When not empty, how each new file looks, in order: "blank" for a frame
    // of one colour (nothing drawn), "drawn" otherwise.
    QByteArray frameLooks = {};
};

// The lines every row adds to make a run write one PNG frame named f0.png.
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

// "blank" for an image of a single colour, "drawn" for anything else,
// "unreadable" when it is no image.
QString frameLook(QString const& path) {
    // The widest frames of the catalogue exceed the image system's default
    // allocation limit of 128 MiB.
    int const limit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(0);
    QImage const frame = QImage(path).convertToFormat(QImage::Format_RGB32);
    QImageReader::setAllocationLimit(limit);
    if (frame.isNull())
        return QStringLiteral("unreadable");
    QRgb const first = frame.pixel(0, 0);
    for (int y = 0; y < frame.height(); ++y) {
        auto const* line = reinterpret_cast<QRgb const*>(frame.constScanLine(y));
        for (int x = 0; x < frame.width(); ++x)
            if (line[x] != first)
                return QStringLiteral("drawn");
    }
    return QStringLiteral("blank");
}

// Printable form of program output: control bytes and non-ASCII escaped, long text cut.
std::string printable(QByteArray const& text) {
    std::string result;
    for (char const c : text.left(600)) {
        auto const byte = static_cast<unsigned char>(c);
        if (c == '\n')
            result += "\\n\n";
        else if (byte < 0x20 || byte >= 0x7F)
            result += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0')).toStdString();
        else
            result += c;
    }
    if (text.size() > 600)
        result += "... (" + std::to_string(text.size()) + " bytes in all)";
    return result;
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

void runRow(Row const& row) {
    SCOPED_TRACE(row.name);
    SceneFiles files;
    row.setup(files);
    if (::testing::Test::HasFatalFailure())
        return;
    QString const folder = files.dir->path();
    QStringList const before = filesBelow(folder);

    QElapsedTimer timer;
    timer.start();
    auto const result = runProgram({"-i", "s.avs"}, folder, timeBoundMs);
    qint64 const elapsedMs = timer.elapsed();

    EXPECT_FALSE(result.timedOut) << row.name << ": still running after " << timeBoundMs << " ms";
    EXPECT_FALSE(result.crashed) << row.name << ": crashed";
    EXPECT_EQ(result.exitCode, row.exitCode) << row.name;
    EXPECT_TRUE(matchesExpected(result.standardError, row.standardError))
        << row.name << "\nexpected standard error:\n"
        << printable(row.standardError) << "\nactual standard error:\n"
        << printable(result.standardError);
    EXPECT_TRUE(result.standardOutput.isEmpty()) << row.name << ": " << printable(result.standardOutput);

    QStringList created;
    for (QString const& file : filesBelow(folder))
        if (!before.contains(file))
            created << file;
    EXPECT_EQ(created, row.newFiles) << row.name << ": files left behind: " << created.join(' ').toStdString();
    if (row.frameSize.isValid() && !row.newFiles.isEmpty()) {
        QImageReader reader(files.dir->filePath(row.newFiles.first()));
        EXPECT_EQ(reader.size(), row.frameSize) << row.name << ": " << reader.errorString().toStdString();
    }
    QStringList looks;
    for (QString const& file : created)
        looks << frameLook(files.dir->filePath(file));
    if (!row.frameLooks.isEmpty()) {
        EXPECT_EQ(looks.join(' '), QString::fromLatin1(row.frameLooks)) << row.name;
    }

    std::cout << "[ row ] " << row.name << ": exit " << result.exitCode << " in " << elapsedMs << " ms";
    if (!looks.isEmpty())
        std::cout << ", frames " << looks.join(' ').toStdString();
    for (QByteArray const& line : result.standardError.trimmed().split('\n'))
        if (!line.isEmpty())
            std::cout << "\n        " << printable(line);
    std::cout << "\n";
}

void runRows(std::vector<Row> const& rows) {
    for (Row const& row : rows)
        runRow(row);
}

// ---------------------------------------------------------------------------
// Input makers

// A scenery over the valid base images with the given extra lines.
std::function<void(SceneFiles const&)> sceneryWith(QByteArray const& extra) {
    return [extra](SceneFiles const& files) { files.scenery(extra); };
}

// The scenery file itself holds exactly these bytes.
std::function<void(SceneFiles const&)> sceneryBytes(QByteArray const& bytes) {
    return [bytes](SceneFiles const& files) { writeFile(files.path("s.avs"), bytes); };
}

// Fixed pseudo-random bytes: the engine's output sequence is fixed by the standard.
QByteArray pseudoRandomBytes(std::uint32_t seed, qsizetype count) {
    std::mt19937 engine(seed);
    QByteArray bytes(count, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(engine() & 0xFFu);
    return bytes;
}

// The 18-byte header of an uncompressed true-colour TGA file.
QByteArray tgaHeader(int width, int height, int bitsPerPixel) {
    QByteArray header(18, '\0');
    header[2] = 2;
    header[12] = static_cast<char>(width & 0xFF);
    header[13] = static_cast<char>((width >> 8) & 0xFF);
    header[14] = static_cast<char>(height & 0xFF);
    header[15] = static_cast<char>((height >> 8) & 0xFF);
    header[16] = static_cast<char>(bitsPerPixel);
    return header;
}

QByteArray readAll(QString const& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

// ---------------------------------------------------------------------------
// Scenery files: everything the reader refuses ends the run with code 3.

TEST(BadInputCatalogue, SceneryFiles) {
    QByteArray const garbage = pseudoRandomBytes(20240611u, 64 * 1024);
    QByteArray const longLine = "[Param]\nBeobXA=" + QByteArray(2 * 1024 * 1024, '7') + "\n";

    runRows({
        // The first line of these bytes (seed 20240611) is no key; the second
        // holds a NUL byte, which ends the reading.
        {"binary garbage (64 KiB, seed 20240611)", sceneryBytes(garbage), 3,
         cannotOpen + "Line 2 contains a NUL byte: not a scenery file.\n"},
        {"a 2 MiB line", sceneryBytes(longLine), 3,
         cannotOpen + "Line 2 is longer than 1048576 characters: not a scenery file.\n"},
        {"a NUL byte inside a value", sceneryBytes(QByteArray("[Param]\nBeobXA=1\0 2\nBeobYA=3\n", 26)), 3,
         cannotOpen + "Line 2 contains a NUL byte: not a scenery file.\n"},
        // The reason is the file system layer's own ("file to open is a directory").
        {"a folder as the scenery file",
         [](SceneFiles const& files) { ASSERT_TRUE(QDir().mkpath(files.path("s.avs"))); }, 3,
         cannotOpen + anyText + ".\n"},
        {"Punkt-1", sceneryWith("Punkt-1=1,2\n"), 3, cannotOpen + "Negative point number: Punkt-1=1,2.\n"},
        {"cPunkt99999999", sceneryWith("cPunkt99999999=1,2,3\n"), 3,
         cannotOpen + "Point number too large: cPunkt99999999=1,2,3.\n"},
        // A number beyond int does not convert at all, so no point key matches.
        {"Punkt99999999999", sceneryWith("Punkt99999999999=1,2\n"), 3,
         cannotOpen + "No such key: Punkt99999999999=1,2.\n"},
    });
}

// ---------------------------------------------------------------------------
// Scenery values that make the grid, the terrain or the frame meaningless
// (each refusal's message is the flight test's; here the program's framing
// of it, and the frame sides at the rasteriser's limit).

TEST(BadInputCatalogue, SceneryValues) {
    runRows({
        {"AusAuflX=0", sceneryWith(oneFrame + "AusAuflX=0\n"), 4,
         cannotRender + "Invalid value of AusAuflX: 0 (must be at least 1).\n"},
        // The rasteriser works on screen positions within +-16384, so a frame
        // side beyond 16384 pixels could never be drawn completely: refused.
        {"AusBreite=100000", sceneryWith(oneFrame + "AusBreite=100000\nAusHoehe=480\n"), 4,
         cannotRender + "Invalid value of AusBreite: 100000 (must be between 1 and 16384).\n"},
        // The largest frame side renders.
        {"AusBreite=16384",
         sceneryWith(oneFrame + "AusBreite=16384\nAusHoehe=16\n"),
         0,
         "",
         {"f0.png"},
         QSize(16384, 16),
         "drawn"},
    });
}

// ---------------------------------------------------------------------------
// NaN and infinite numbers in every real-valued key. The run must end
// cleanly: refused with a message naming the key, or rendered. The table
// records what happens. A view value that is not a number draws nothing,
// and so does an infinite one, which the flight blends into a NaN
// (start + 0 * (end - start) is NaN when either end is infinite): even the
// first frame of a flight with an infinite end value is blank. The keys
// marked "stored only" do not reach the render at all. One key stands for
// each way a value reaches the render (position, each view angle, focal
// length, fog, inertia, light, scales).

struct NonFiniteCase {
    char const* key;
    // The outcome for nan, inf and -inf: how the three frames look, or the
    // reason of the refusal (starting with "Invalid").
    QByteArray nan, inf, minusInf;
};

TEST(BadInputCatalogue, NonFiniteNumbers) {
    QByteArray const positive = "(must be a positive number)";
    QByteArray const blank = "blank blank blank";
    QByteArray const drawn = "drawn drawn drawn";
    std::vector<NonFiniteCase> const cases = {
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
    for (NonFiniteCase const& c : cases) {
        for (auto const& [value, outcome] : {std::pair{QByteArray("nan"), c.nan}, std::pair{QByteArray("inf"), c.inf},
                                             std::pair{QByteArray("-inf"), c.minusInf}}) {
            QByteArray const line = QByteArray(c.key) + "=" + value + "\n";
            Row row{line.trimmed().toStdString(), sceneryWith(frames + line), 0, ""};
            if (outcome.startsWith("Invalid")) {
                row.exitCode = 4;
                row.standardError = cannotRender + outcome + ".\n";
            } else {
                row.newFiles = QStringList{"f0.png", "f1.png", "f2.png"};
                row.frameSize = QSize(64, 48);
                row.frameLooks = outcome;
            }
            rows.push_back(row);
        }
    }
    runRows(rows);
}

// ---------------------------------------------------------------------------
// Images: anything that is not a complete image is refused with code 4.
// A decoder may explain on lines of its own why it gave up ("<lines>"), but
// its text must neither run into the program's message nor name the wrong
// format: a file named .png that no decoder accepts gets the program's
// message alone.

TEST(BadInputCatalogue, Images) {
    auto texture = [](char const* name) {
        return QByteArray(anyLines) + cannotRender + "Could not open texture file \"" + name + "\".\n";
    };
    auto elevation = [](char const* name) {
        return QByteArray(anyLines) + cannotRender + "Could not open elevation file \"" + name + "\".\n";
    };
    auto textureOnly = [](char const* name) {
        return cannotRender + "Could not open texture file \"" + name + "\".\n";
    };
    auto elevationOnly = [](char const* name) {
        return cannotRender + "Could not open elevation file \"" + name + "\".\n";
    };
    // A file with these bytes, and a scenery that uses it under `key`.
    auto image = [](char const* key, char const* name, std::function<QByteArray(SceneFiles const&)> bytes) {
        return [=](SceneFiles const& files) {
            writeFile(files.path(name), bytes(files));
            files.scenery(oneFrame + key + "=" + name + "\n");
        };
    };
    auto folder = [](char const* key, char const* name) {
        return [=](SceneFiles const& files) {
            ASSERT_TRUE(QDir().mkpath(files.path(name)));
            files.scenery(oneFrame + key + "=" + name + "\n");
        };
    };
    auto halfOfPng = [](SceneFiles const& files) {
        QByteArray const whole = readAll(files.path("t.png"));
        return whole.left(whole.size() / 2);
    };
    // The TGA reader writes its row-level message straight to standard error
    // without a line break, so the program's message follows on the same line.
    auto cutTgaTexture = [](char const* name) {
        return "QTgaHandler::read(): Cannot read from file" + cannotRender + "Could not open texture file \"" + name +
               "\".\n";
    };
    // A 100 x 100 24-bit TGA with only half of its pixel rows.
    auto cutTga = [](SceneFiles const&) { return tgaHeader(100, 100, 24) + QByteArray(100 * 50 * 3, '\x55'); };
    auto hugeTga = [](SceneFiles const&) { return tgaHeader(65535, 65535, 24) + QByteArray(10, '\x55'); };
    auto nothing = [](SceneFiles const&) { return QByteArray(); };
    auto garbage = [](SceneFiles const&) { return pseudoRandomBytes(7u, 4096); };

    runRows({
        // A file no reader recognises by its content is offered to the TGA
        // reader last, which takes any readable file and says why it fails.
        {"empty texture", image("TDateiname", "empty.png", nothing), 4, texture("empty.png")},
        {"empty height map", image("HDateiname", "empty.png", nothing), 4, elevation("empty.png")},
        {"empty TGA texture", image("TDateiname", "empty.tga", nothing), 4, texture("empty.tga")},
        {"texture PNG cut in half", image("TDateiname", "half.png", halfOfPng), 4, texture("half.png")},
        {"texture TGA with its pixel data cut", image("TDateiname", "cut.tga", cutTga), 4, cutTgaTexture("cut.tga")},
        {"TGA claiming 65535 x 65535 pixels with 10 bytes of data", image("TDateiname", "huge.tga", hugeTga), 4,
         cutTgaTexture("huge.tga")},
        {"random bytes named .png", image("TDateiname", "noise.png", garbage), 4, texture("noise.png")},
        // Empty names are refused without being opened: the program's line alone.
        {"an empty scenery file", sceneryBytes(""), 4, textureOnly("")},
        {"no TDateiname", sceneryBytes("[Param]\nHDateiname=h.png\n"), 4, textureOnly("")},
        {"an empty HDateiname", sceneryWith(oneFrame + "HDateiname=\n"), 4, elevationOnly("")},
        {"a folder as the texture", folder("TDateiname", "texdir"), 4, textureOnly("texdir")},
        {"a folder as the height map", folder("HDateiname", "hdir"), 4, elevationOnly("hdir")},
    });
}

// ---------------------------------------------------------------------------
// Output names: unsafe patterns are refused before the first frame (the
// flight test holds which patterns are refused), frames
// that cannot be written fail the run after a warning naming the file.

TEST(BadInputCatalogue, OutputNames) {
    auto pattern = [](QByteArray const& name) {
        return Row{"AusDateiname=" + name.left(40).toStdString() + (name.size() > 40 ? "..." : ""),
                   sceneryWith("AusgabePNG=1\nBildanzahl=1\nAusDateiname=" + name + "\n"), 4,
                   cannotRender + "Invalid output file name pattern: " + name + ".png.\n"};
    };
    auto cannotWrite = [](char const* name) {
        return "Warning: Cannot write frame file \"" + QByteArray(name) + "\": " + anyText + "\n" + cannotRender +
               "1 frame files could not be written.\n";
    };

    runRows({
        pattern("f%n"),
        pattern(QByteArray(2000, 'x') + "%d"),
        {"an output folder that does not exist", sceneryWith(oneFrame + "AusDateiname=missing/f%d\n"), 4,
         cannotWrite("missing/f0.png")},
        // A read-only folder stops everyone but root, who may write anyway;
        // for root "ro" is a regular file instead, and a path below a file
        // fails for everyone. Either way the frame cannot be written.
        {"a read-only output folder",
         [](SceneFiles const& files) {
             if (geteuid() == 0) {
                 writeFile(files.path("ro"), "not a folder\n");
             } else {
                 ASSERT_TRUE(QDir().mkpath(files.path("ro")));
                 ASSERT_EQ(chmod(QFile::encodeName(files.path("ro")).constData(), 0555), 0);
             }
             files.scenery(oneFrame + "AusDateiname=ro/f%d\n");
         },
         4, cannotWrite("ro/f0.png")},
        {"a folder where the frame file goes",
         [](SceneFiles const& files) {
             ASSERT_TRUE(QDir().mkpath(files.path("f0.png")));
             files.scenery(oneFrame);
         },
         4, cannotWrite("f0.png")},
    });
}

}  // namespace
