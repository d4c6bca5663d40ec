// The scenery module: reading scenery files (key matching, value kinds,
// messages, point lists) and flying them (smoothing curve, per-frame views,
// curves, refusals, frame names).
#include "frame_output.h"
#include "scene_files.h"
#include "scenery_delegate.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QTextStream>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <limits>
#include <numbers>

namespace {

using V = SceneryValues;

// A delegate whose log stream is captured in a string, with the images of
// SceneFiles beside its scenery files.
struct Scenery {
    QString logText;
    QTextStream log{&logText};
    SceneryDelegate delegate{log, false};
    SceneFiles files;
    QList<FrameView> frames;

    // Reads exactly these lines.
    bool read(QByteArray const& contents) {
        testsupport::writeFile(files.path("r.avs"), contents);
        return delegate.open(files.path("r.avs"));
    }
    bool line(QString text) {
        SceneryDelegate::compactLine(text);
        return delegate.processLineLoad(text);
    }
    // Reads one line, which must be understood, and gives the field it sets.
    template <class T>
    T set(char const* text, T V::*field) {
        EXPECT_TRUE(line(QString::fromUtf8(text))) << text;
        return p().*field;
    }
    // Reads the lines after SceneFiles' scenery and renders it, recording the frames' views.
    bool run(QByteArray const& lines) {
        EXPECT_TRUE(delegate.open(files.scenery(lines))) << error();
        delegate.run().frameLog = &frames;
        QString const previous = QDir::currentPath();
        QDir::setCurrent(files.dir->path());
        bool const result = delegate.renderFinal();
        QDir::setCurrent(previous);
        return result;
    }
    SceneryData& p() { return *delegate.parameters; }
    std::string error() const { return delegate.errorString().toStdString(); }
};

// Control points n * 100, 0, 100 and waypoints 10 n + 10, 10 n + 20 with a = 1, p = -2.
QByteArray points(int controlPoints, int waypoints, QByteArray const& extra = "") {
    QString lines = QStringLiteral("Rundflug=1\n") + QString::fromLatin1(extra);
    for (int n = 0; n < controlPoints; ++n)
        lines += QString::asprintf("cPunkt%02d=%d,0,100\n", n, n * 100);
    for (int n = 0; n < waypoints; ++n)
        lines += QString::asprintf("Punkt%02d=%d,%d\nPunkt%02d_a=1.0\nPunkt%02d_p=-2.0\n", n, 10 * n + 10, 10 * n + 20,
                                   n, n);
    return lines.toLatin1();
}

TEST(SceneryReaderValues, NumbersFlagsColoursAndText) {
    Scenery r;
    EXPECT_EQ(r.set(" Beob XA\t= 12.5", &V::observerXStart), 12.5);
    EXPECT_EQ(r.set("NeigungE=-1.5e1", &V::tiltEnd), -15.0);
    EXPECT_EQ(r.set("Bildanzahl=abc", &V::frameCount), 0);
    EXPECT_EQ(r.set("Offset=99999999999", &V::frameNumberOffset), 0);  // out of range: 0
    EXPECT_EQ(r.set("BeobYA=2.5=3", &V::observerYStart), 0.0);         // not a number: 0
    EXPECT_TRUE(r.set("AusgabeTGA=2", &V::writeTga));
    EXPECT_FALSE(r.set("AusgabeTGA=true", &V::writeTga));
    EXPECT_EQ(r.set("Hintergrund=FF0000", &V::backgroundArgb), 0xFF0000FFu);
    EXPECT_EQ(r.set("Hintergrund=AA123456", &V::backgroundArgb), 0xFF563412u);  // fourth byte dropped
    EXPECT_EQ(r.set("Hintergrund=0x0000ff", &V::backgroundArgb), 0xFFFF0000u);
    EXPECT_EQ(r.set("TDateiname= tex.png", &V::textureFileName), QStringLiteral(" tex.png"));
    EXPECT_EQ(r.set("AusDateiname=f=%04d", &V::outputFileName), QStringLiteral("f=%04d"));
    EXPECT_FALSE(r.set("Rundflug=1", &V::flyStraight));
    EXPECT_TRUE(r.set("Rundflug=0", &V::flyStraight));
    EXPECT_TRUE(r.line(QStringLiteral("[Param] extra")));

    // Two and three numbers: each takes what is an integer ("2,3" is not).
    int a = 0, b = 0, c = 0;
    EXPECT_EQ(r.delegate.readValueFromKey(QStringLiteral("K=1,2,3"), QStringLiteral("K"), a, b), 1);
    EXPECT_EQ(QList<int>({a, b}), QList<int>({1, 0}));
    EXPECT_EQ(r.delegate.readValueFromKey(QStringLiteral("K=4,5,6,7"), QStringLiteral("K"), a, b, c), 1);
    EXPECT_EQ(QList<int>({a, b, c}), QList<int>({4, 5, 0}));
}

TEST(SceneryReaderMessages, RefusesEachBadLineWithItsMessageAndLeavesRecord) {
    // Punkt-1 and cPunkt99999999 are the end-to-end catalogue's rows.
    struct BadLine {
        char const* line;
        char const* message;
    };
    for (BadLine const& bad :
         {BadLine{"beobxa=1", "No such key: beobxa=1"}, BadLine{"BeobXA", "No key/value pair: BeobXA"},
          BadLine{"BeobXAB=1", "No such key: BeobXAB=1"}, BadLine{"Hintergrund=red", "No color value: red"},
          BadLine{"Hintergrund=1FFFFFFFF", "No color value: 1FFFFFFFF"}, BadLine{" [Param]", "No such key:  [Param]"},
          BadLine{"Punkt03=5", "No comma in two value parameter: Punkt03=5"},
          BadLine{"cPunkt03=1,2", "No second comma in three value parameter: cPunkt03=1,2"},
          BadLine{"cPunkt03=1", "No first comma in three value parameter: cPunkt03=1"},
          BadLine{"Punkt03_q=1", "No such key: Punkt03_q=1"}, BadLine{"Punkt7=1,2", "No such key: Punkt7=1,2"},
          BadLine{"Punkt007=1,2", "No such key: Punkt007=1,2"},
          BadLine{"cPunkt-3=1,2,3", "Negative point number: cPunkt-3=1,2,3"},
          BadLine{"Punkt10000_a=1", "Point number too large: Punkt10000_a=1"}}) {
        Scenery r;
        EXPECT_FALSE(r.line(QString::fromLatin1(bad.line))) << bad.line;
        EXPECT_EQ(r.error(), bad.message);
        EXPECT_EQ(r.p().backgroundArgb, SceneryData().backgroundArgb);
        EXPECT_TRUE(r.delegate.waypoints.isEmpty() && r.delegate.controlPoints.isEmpty()) << bad.line;
    }
}

TEST(SceneryReaderFile, EmptyLinesCarriageReturnsAndBadLines) {
    Scenery r;
    EXPECT_TRUE(r.read(""));
    EXPECT_FALSE(r.p().writePng);                                 // PNG is chosen by the file, not by default
    EXPECT_TRUE(r.read("[Param]\r\nBeobXA=5\r\n\r\nFoo=1\r\n"));  // stops at the first empty line
    EXPECT_EQ(r.p().observerXStart, 5.0);
    EXPECT_FALSE(r.delegate.isOpen());
    EXPECT_TRUE(r.read("\nBeobXA=3\n"));
    EXPECT_EQ(r.p().observerXStart, 5.0);
    ASSERT_TRUE(r.read("BrennA=10\nBrennA=20\n"));  // the last of a repeated key wins
    EXPECT_EQ(r.p().focalLengthStart, 20.0);

    // Bad lines do not stop the reading; the last message wins.
    EXPECT_FALSE(r.read("A=1\nBeobZA=42\nB=2\nBeobZE=43\n"));
    EXPECT_EQ(r.error(), "No such key: B=2");
    EXPECT_EQ(r.p().observerZStart, 42.0);
    EXPECT_EQ(r.p().observerZEnd, 43.0);

    EXPECT_FALSE(r.delegate.open(QStringLiteral("/nonexistent/scenery.avs")));
    EXPECT_EQ(r.error(), "No such file or directory");
}

// The obsolete YUV format selects PNG, whatever the order of the keys, with one notice.
TEST(SceneryReaderFile, PngSelectedByEitherKeyInAnyOrderWithOneNotice) {
    QString const notice = QStringLiteral(
        "Obsolete Output Image Format:\nThe YUV output image format selected in this input file is no longer "
        "accepted.\nThe PNG format is selected instead.\n");
    for (auto [contents, yuv] :
         {std::pair{"AusgabeYUV=1\nAusgabePNG=0\n", true}, std::pair{"AusgabePNG=0\nAusgabeYUV=1\n", true},
          std::pair{"AusgabeYUV=0\nAusgabePNG=0\n", false}}) {
        Scenery r;
        ASSERT_TRUE(r.read(contents));
        EXPECT_EQ(r.p().writePng, yuv) << contents;
        EXPECT_EQ(r.logText, yuv ? notice : QString());
    }
}

// A binary file or an endless line is refused before it reaches the record
// (the messages are the end-to-end catalogue's).
TEST(SceneryReaderFile, RefusesBinaryAndEndlessLines) {
    Scenery nul;
    EXPECT_FALSE(nul.read(QByteArray("BeobXA=1\nBeobYA=2\0\n", 20)));
    EXPECT_EQ(nul.p().observerXStart, 1.0);
    EXPECT_EQ(nul.p().observerYStart, 0.0);
    Scenery endless;
    EXPECT_FALSE(endless.read("AusDateiname=" + QByteArray(2 * 1024 * 1024, 'x') + "\n"));
    EXPECT_TRUE(endless.p().outputFileName.isEmpty());
}

// Waypoint lists are cut to the largest allowed size that fits, and dropped
// with fewer than four control points.
TEST(PointLists, KeepTheLargestAllowedWaypointCount) {
    struct Case {
        int controlPoints, given, kept;
    };
    for (Case c : {Case{4, 6, 0}, Case{4, 7, 7}, Case{4, 12, 7}, Case{4, 13, 13}, Case{4, 192, 97}, Case{4, 193, 193},
                   Case{4, 300, 193}, Case{3, 13, 0}}) {
        Scenery r;
        ASSERT_TRUE(r.read(points(c.controlPoints, c.given)));
        EXPECT_EQ(r.delegate.waypoints.size(), c.kept) << "given " << c.given;
        EXPECT_EQ(r.delegate.controlPoints.size(), c.controlPoints);
    }
    Scenery eight;
    ASSERT_TRUE(eight.read(points(4, 8)));
    ASSERT_EQ(eight.delegate.waypoints.size(), 7);
    EXPECT_EQ(eight.delegate.waypoints[0].x, 10);
    EXPECT_EQ(eight.delegate.waypoints[6].y, 80);
}

// Point lines read back what was written, in any order; gaps are zero
// entries, and reading a file again empties the lists but keeps the record.
TEST(PointLists, LinesReadBackInAnyOrderWithGapsAndEmptiedByReopening) {
    QString text;
    QTextStream stream(&text);
    Waypoint written(1, 2, 3, 45.0, -10.5);
    written.i = 2;
    written.write(stream, 4);
    Waypoint(0, 0, 0, 1234567.0, 0.001).write(stream, 100);
    ControlPoint(100, -200, 300, 0.0).write(stream, 12);
    EXPECT_EQ(text,
              QStringLiteral("Punkt04=1,2\nPunkt04_z=3\nPunkt04_i=2\nPunkt04_a=45\nPunkt04_p=-10.5\n"
                             "Punkt100=0,0\nPunkt100_z=0\nPunkt100_i=0\nPunkt100_a=1.23457e+06\nPunkt100_p=0.001\n"
                             "cPunkt12=100,-200,300\n"));
    Scenery r;
    QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts) << QStringLiteral("BeobXA=3");
    std::reverse(lines.begin(), lines.end());
    for (QString const& line : lines)
        ASSERT_TRUE(r.delegate.processLineLoad(line)) << line.toStdString();
    ASSERT_EQ(r.delegate.waypoints.size(), 101);
    Waypoint const& w = r.delegate.waypoints[4];
    EXPECT_EQ(QList<double>({double(w.x), double(w.y), double(w.z), w.i, w.a, w.p}),
              QList<double>({1, 2, 3, 2, 45, -10.5}));
    EXPECT_EQ(r.delegate.waypoints[100].a, 1234570.0);  // written with six digits
    ASSERT_EQ(r.delegate.controlPoints.size(), 13);
    EXPECT_EQ(r.delegate.controlPoints[12].z, 300);
    EXPECT_EQ(r.delegate.controlPoints[0].x, 0);  // a gap

    ASSERT_TRUE(r.read("BeobYA=4\n"));
    EXPECT_TRUE(r.delegate.waypoints.isEmpty());
    EXPECT_TRUE(r.delegate.controlPoints.isEmpty());
    EXPECT_EQ(r.p().observerXStart, 3.0);
}

// The run releases its camera and frame buffer, and the light is
// normalised unless it is zero.
TEST(StraightFlight, InertiaOnePositionsAndNumbers) {
    Scenery flight;
    ASSERT_TRUE(
        flight.run("Bildanzahl=5\nStartbildNr=0\nEndbildNr=4\nBeobXA=100\nBeobXE=200\nTraegheit=1\n"
                   "LichtX=0\nLichtY=0\nLichtZ=2\n"));
    ASSERT_EQ(flight.frames.size(), 5);
    double const expected[5] = {100, 114.054413, 150, 185.945587, 200};
    for (int k = 0; k < 5; ++k) {
        EXPECT_NEAR(flight.frames[k].observer.x, expected[k], 5e-6);
        EXPECT_EQ(flight.frames[k].number, k);
    }
    EXPECT_EQ(flight.delegate.run().camera, nullptr);
    EXPECT_EQ(flight.delegate.run().terrainExtentY, 100.0);  // 20 height-map rows 5 apart
    EXPECT_EQ(flight.delegate.run().lightDirection.z, 1.0);
    Scenery dark;
    ASSERT_TRUE(dark.run("LichtX=0\nLichtY=0\nLichtZ=0\nStartbildNr=3\nEndbildNr=2\n"));
    EXPECT_TRUE(dark.frames.isEmpty());  // an empty range renders nothing
    EXPECT_EQ(dark.delegate.run().lightDirection.z, 0.0);
}

TEST(StraightFlight, RangeOffsetAndAngleConversion) {
    Scenery flight;
    ASSERT_TRUE(
        flight.run("Bildanzahl=5\nStartbildNr=2\nEndbildNr=3\nOffset=10\nTraegheit=0\nRichtungA=0\n"
                   "RichtungE=180\nNeigungA=-90\nNeigungE=-90\nVerkantenA=90\nVerkantenE=90\n"
                   "HDateiSkalaZA=1\nHDateiSkalaZE=3\nNebelA=500\nNebelE=0\n"));
    ASSERT_EQ(flight.frames.size(), 2);
    EXPECT_EQ(flight.frames[0].number, 12);
    EXPECT_EQ(flight.frames[1].number, 13);
    EXPECT_DOUBLE_EQ(flight.frames[0].heading, std::numbers::pi / 2);           // t = 0.5 of 0 ... 180 degrees
    EXPECT_DOUBLE_EQ(flight.frames[0].tilt, -89.999 / 180 * std::numbers::pi);  // never straight down
    EXPECT_DOUBLE_EQ(flight.frames[0].bank, std::numbers::pi / 2);
    EXPECT_DOUBLE_EQ(flight.frames[0].zScale, 2.0);
    EXPECT_EQ(flight.frames[1].fogDistance, 500.0);  // NebelE 0 keeps NebelA
    EXPECT_EQ(flight.frames[0].focalLength, 60.0);
}

TEST(StraightFlight, SingleFrameFlightShowsTheStartAtDoubleFocalLengthInDoubleSize) {
    Scenery single;
    ASSERT_TRUE(single.run("Bildanzahl=1\nStartbildNr=0\nEndbildNr=2\nGenauRechnen=2\n"));
    ASSERT_EQ(single.frames.size(), 3);
    for (FrameView const& view : single.frames)
        EXPECT_EQ(view.observer.x, 10.0);
    EXPECT_EQ(single.frames[0].focalLength, 120.0);
}

TEST(CurvedFlight, FourControlPointsGiveEvenSteps) {
    Scenery flight;
    ASSERT_TRUE(flight.run(points(4, 7, "Bildanzahl=3\nStartbildNr=0\nEndbildNr=3\nVerkantenA=0.5\nVerkantenE=0.5\n")));
    ASSERT_EQ(flight.frames.size(), 4);
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(flight.frames[k].observer.x, 100.0 * k, 1e-9);
        EXPECT_NEAR(flight.frames[k].observer.z, 100.0, 1e-9);
        EXPECT_NEAR(flight.frames[k].heading, 1.0, 1e-12);
        EXPECT_NEAR(flight.frames[k].tilt, -std::numbers::pi + 2.0, 1e-12);  // mirrored about -pi/2
        EXPECT_EQ(flight.frames[k].bank, 0.5);                               // no degree conversion
        EXPECT_EQ(flight.frames[k].focalLength, 60.0);
    }
}

// The point and frame counts are refused on the log with an empty reason;
// the frame range and the length (a guard against huge counts) with a reason.
TEST(CurvedFlight, RefusalsNameTheirReason) {
    struct Case {
        int controlPoints, waypoints;
        QByteArray extra;
        QString logged, reason;
    };
    QString const curved = QStringLiteral("SceneryDelegate::CurvedFlight(): ");
    for (Case const& c :
         {Case{3, 7, "Bildanzahl=5\n", curved + "number of control points is 3, has to be greater than 3.\n", ""},
          Case{4, 6, "Bildanzahl=5\n", curved + "number of waypoints is 0, has to be greater than 6.\n", ""},
          Case{4, 7, "Bildanzahl=1\n", curved + "total number of frames is 1, has to be greater than 1.\n", ""},
          Case{4, 7, "Bildanzahl=3\nStartbildNr=0\nEndbildNr=4\n", "",
               "Frames 0 to 4 lie outside the curved flight's frames 0 to 3"},
          Case{4, 7, "Bildanzahl=1000001\nStartbildNr=0\nEndbildNr=0\n", "",
               "A curved flight of 1000001 frames is too long (at most 1000000)"}}) {
        Scenery flight;
        EXPECT_FALSE(flight.run(points(c.controlPoints, c.waypoints, c.extra)));
        EXPECT_EQ(flight.logText, c.logged);
        EXPECT_EQ(flight.delegate.renderErrorString(), c.reason);
        EXPECT_TRUE(flight.frames.isEmpty());
    }
}

// Scan draws the camera's current view with the run's objects: level white
// ground straight below, or the background when the fog distance is 0.
TEST(RenderDriver, ScanDrawsTheCurrentView) {
    Scenery scenery;
    RenderRun& run = scenery.delegate.run();
    run.renderWidth = 40;
    run.renderHeight = 30;
    run.lightDirection = C4Vector(0, 0, -1, 0);
    run.gridResolutionX = run.gridResolutionY = 8;
    run.terrainExtentX = run.terrainExtentY = 64;
    run.camera = std::make_unique<Transformation>(nullptr, run.lightDirection, 40, 30);
    run.elevation = std::make_unique<ElevationImage>(16, 16, QImage::Format_RGB32);
    run.elevation->fill(0xFF000000u);  // level ground at height 0
    run.elevation->refreshPixelCache();
    run.elevation->pixelsPerUnitX = run.elevation->pixelsPerUnitY = 0.25;
    run.frameImage = std::make_unique<TextureImage>(40, 30, QImage::Format_RGB32);
    TextureImage texture(64, 64, QImage::Format_RGB32);
    texture.fill(0xFFFFFFFFu);
    texture.refreshPixelCache();
    run.camera->SetzeTexturDatei(&texture);
    run.camera->SetView(C4Vector(32, 32, 40, 1), 0, -std::numbers::pi / 2 + 0.01, 30, 0);
    for (double fogDistance : {std::numeric_limits<double>::infinity(), 0.0}) {
        run.fogDistance = fogDistance;
        scenery.delegate.Scan(&texture, true, 0xFF0000FFu, 0);
        EXPECT_EQ(run.frameImage->pixel(20, 15), fogDistance > 0 ? 0xFFFFFFFFu : 0xFF0000FFu);
    }
}

// Each bound of each check, and the largest frame side, accepted.
TEST(RenderDriver, RefusesUnusableParametersNamingTheKey) {
    struct Case {
        QByteArray line;
        QString message;
    };
    for (Case const& c :
         {Case{"AusAuflX=65537\n", "Invalid value of AusAuflX: 65537 (must be at most 65536)"},
          Case{"AusAuflY=0\n", "Invalid value of AusAuflY: 0 (must be at least 1)"},
          Case{"AusAuflY=2000000000\n", "Invalid value of AusAuflY: 2000000000 (must be at most 65536)"},
          Case{"HDateiSkalaX=0\n", "Invalid value of HDateiSkalaX: 0 (must be a positive number)"},
          Case{"HDateiSkalaY=nan\n", "Invalid value of HDateiSkalaY: nan (must be a positive number)"},
          Case{"AusBreite=0\n", "Invalid value of AusBreite: 0 (must be between 1 and 16384)"},
          Case{"AusBreite=16385\n", "Invalid value of AusBreite: 16385 (must be between 1 and 16384)"},
          Case{"AusHoehe=9000\nGenauRechnen=2\n", "Invalid value of AusHoehe: 9000 (must be between 1 and 8192)"},
          Case{"AusBreite=16384\nAusHoehe=1\nStartbildNr=1\nEndbildNr=0\n", ""}}) {
        Scenery flight;
        EXPECT_EQ(flight.run(c.line), c.message.isEmpty());
        EXPECT_EQ(flight.delegate.renderErrorString(), c.message);
        EXPECT_EQ(flight.delegate.run().camera, nullptr);
    }
}

// The camera path holds, row for row, the views a render of the same flight
// draws, read back to the same doubles, and nothing else is written.
TEST(CameraPath, RowsAreTheRenderedViews) {
    QByteArray const flight =
        points(4, 7, "Bildanzahl=9\nStartbildNr=2\nEndbildNr=6\nOffset=100\nGenauRechnen=2\nNebelA=70\n");
    Scenery rendered, path;
    ASSERT_TRUE(rendered.run(flight)) << rendered.error();
    path.delegate.options.cameraPathFile = path.files.path("path.csv");
    ASSERT_TRUE(path.run(flight)) << path.error();
    EXPECT_TRUE(path.frames.isEmpty());
    QFile file(path.files.path("path.csv"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QList<QByteArray> const rows = file.readAll().split('\n');
    ASSERT_EQ(rows.size(), 7);  // header, five frames, and the empty text after the last line break
    EXPECT_EQ(rows[0], "frame,x,y,z,heading,tilt,bank,focal,fog,zscale");
    EXPECT_TRUE(rows[6].isEmpty());
    for (int k = 0; k < 5; ++k) {
        FrameView const& v = rendered.frames[k];
        QList<double> expected{double(v.number), v.observer.x, v.observer.y,  v.observer.z,  v.heading,
                               v.tilt,           v.bank,       v.focalLength, v.fogDistance, v.zScale};
        QList<double> read;
        for (QByteArray const& field : rows[k + 1].split(','))
            read.append(field.toDouble());
        EXPECT_EQ(read, expected) << rows[k + 1].toStdString();
    }
    EXPECT_EQ(QDir(path.files.dir->path()).entryList(QDir::Files).size(), 4);  // images, scenery, path
}

// A refused flight or an unwritable file leaves no file, and an earlier one
// stays as it was.
TEST(CameraPath, WrittenWholeOrNotAtAll) {
    Scenery refused;
    QString const name = refused.files.path("path.csv");
    testsupport::writeFile(name, "earlier");
    refused.delegate.options.cameraPathFile = name;
    EXPECT_FALSE(refused.run(points(3, 7, "Bildanzahl=5\n")));
    QFile earlier(name);
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    EXPECT_EQ(earlier.readAll(), "earlier");
    Scenery unwritable;
    unwritable.delegate.options.cameraPathFile = unwritable.files.path("missing/path.csv");
    EXPECT_FALSE(unwritable.run(""));
    EXPECT_TRUE(unwritable.delegate.renderErrorString().startsWith(
        QStringLiteral("Cannot write the camera path \"%1\": ").arg(unwritable.files.path("missing/path.csv"))));
    Scenery beyondInt;
    beyondInt.delegate.options.cameraPathFile = beyondInt.files.path("path.csv");
    EXPECT_FALSE(beyondInt.run("StartbildNr=2147483647\nEndbildNr=2147483647\nOffset=1\n"));
    EXPECT_EQ(beyondInt.delegate.renderErrorString(),
              QStringLiteral("Frame numbers 2147483648 to 2147483648 lie outside -2147483648 to 2147483647"));
    EXPECT_FALSE(QFile::exists(beyondInt.files.path("path.csv")));
}

// The one table of accepted and refused name patterns (the end-to-end
// catalogue runs f%n and an over-long name through the program).
TEST(FrameOutputPattern, AcceptsOneIntegerConversionOnly) {
    for (char const* good :
         {"frame%04d.png", "f%d", "%%d%i", "%-+ 0#3.3d", "plain.png", "100%%", "h%x", "v%02u", "%#o", "%X"})
        EXPECT_TRUE(FrameOutput::isValidPattern(good)) << good;
    for (char const* bad : {"%s", "%n", "%c", "%d%d", "%x%u", "%*d", "%.5000d", "%1234d", "%ld", "%", "f%", "%5"})
        EXPECT_FALSE(FrameOutput::isValidPattern(bad)) << bad;
    QString const refused = QStringLiteral("(refused)");
    QString const x1022 = QString(1022, QLatin1Char('x'));  // with "%d" at most 1023 bytes: one digit fits
    struct Name {
        QString pattern;
        int number;
        QString name;
    };
    // An unsigned conversion shows a negative number's bits, as printf does.
    for (Name const& c : {Name{"f%04d.tga", 7, "f0007.tga"}, Name{"h%x", 255, "hff"}, Name{"v%02u", 3, "v03"},
                          Name{"%#o", 8, "010"}, Name{"%X", -1, "FFFFFFFF"}, Name{"été%d", 3, "été3"},
                          Name{x1022 + "%d", 1, x1022 + "1"}, Name{x1022 + "%d", 10, refused}})
        EXPECT_EQ(FrameOutput::fileName(c.pattern, c.number).value_or(refused), c.name) << c.number;
}

// PPM frames are written by the program's own encoder: byte for byte what
// Qt's PPM writer gives, for the frame buffer's format and others, with
// alpha, at odd sizes and with rows so long that the frame is written in
// several pieces.
TEST(FrameOutputPpm, SameBytesAsQtsWriter) {
    for (QImage::Format const format :
         {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB888}) {
        for (QSize const size : {QSize(1, 1), QSize(7, 3), QSize(64, 33), QSize(40000, 7)}) {
            QImage image(size, QImage::Format_ARGB32);
            for (int i = 0; i < size.width() * size.height(); ++i)
                image.setPixel(i % size.width(), i / size.width(), 0x9e3779b9u * unsigned(i + 1));
            image = image.convertToFormat(format);
            QByteArray expected;
            QBuffer buffer(&expected);
            buffer.open(QIODevice::WriteOnly);
            ASSERT_TRUE(QImageWriter(&buffer, "ppm").write(image));
            QByteArray written;
            QBuffer device(&written);
            device.open(QIODevice::WriteOnly);
            ASSERT_TRUE(FrameOutput::writePpm(image, device));
            EXPECT_EQ(written, expected) << format << " " << size.width();
        }
    }
}

// Frame numbers at the end of int get their names; one beyond is refused
// before the first frame.
TEST(FrameOutputPattern, FrameNumbersWithinInt) {
    QByteArray const lowest = "AusgabePNG=1\nAusDateiname=f%d\nStartbildNr=-2147483648\nEndbildNr=-2147483648\n";
    Scenery atMinimum;
    ASSERT_TRUE(atMinimum.run(lowest));
    ASSERT_EQ(atMinimum.frames.size(), 1);
    EXPECT_EQ(atMinimum.frames[0].number, INT_MIN);
    Scenery below;
    EXPECT_FALSE(below.run(lowest + "Offset=-1\n"));
    EXPECT_EQ(below.delegate.renderErrorString(), QStringLiteral("Invalid output file name pattern: f%d.png"));
    EXPECT_TRUE(below.frames.isEmpty());
}

}  // namespace
