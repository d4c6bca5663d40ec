// The flights: smoothing curve, per-frame views, curves and refusals.
#include "frame_output.h"
#include "scene_files.h"
#include "scenery_delegate.h"

#include <QDir>
#include <QTextStream>

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <numbers>

namespace {

TEST(GetSmoothedValue, MatchesTheTableForEachInertia) {
    struct Row {
        double inertia;
        double s[5];
    };
    double const t[5] = {0.1, 0.25, 0.5, 0.75, 0.9};
    for (Row const& row : {Row{0, {0.1, 0.25, 0.5, 0.75, 0.9}}, Row{0.1, {0.063641, 0.231035, 0.5, 0.768965, 0.936359}},
                           Row{1, {0.024186, 0.140544, 0.5, 0.859456, 0.975814}},
                           Row{10, {0.020402, 0.126562, 0.5, 0.873438, 0.979598}}})
        for (int k = 0; k < 5; ++k)
            EXPECT_NEAR(SceneryDelegate::GetSmoothedValue(t[k], 0, 1, row.inertia), row.s[k], 5e-7)
                << "inertia " << row.inertia << " t " << t[k];
    EXPECT_EQ(SceneryDelegate::GetSmoothedValue(0, 3, 7, 1), 3.0);
    EXPECT_EQ(SceneryDelegate::GetSmoothedValue(1, 3, 7, 1), 7.0);
}

// Reads and renders a scenery, recording the frames' views.
struct Flight {
    QString logText;
    QTextStream log{&logText};
    SceneryDelegate delegate{log, false};
    QList<FrameView> frames;
    SceneFiles files;

    bool run(QByteArray const& lines) {
        EXPECT_TRUE(delegate.open(files.scenery(lines))) << delegate.errorString().toStdString();
        delegate.run().frameLog = &frames;
        QString const previous = QDir::currentPath();
        QDir::setCurrent(files.dir->path());
        bool const result = delegate.renderFinal();
        QDir::setCurrent(previous);
        return result;
    }
};

TEST(StraightFlight, InertiaOnePositionsAndNumbers) {
    Flight flight;
    ASSERT_TRUE(flight.run("Bildanzahl=5\nStartbildNr=0\nEndbildNr=4\nBeobXA=100\nBeobXE=200\nTraegheit=1\n"));
    ASSERT_EQ(flight.frames.size(), 5);
    double const expected[5] = {100, 114.054413, 150, 185.945587, 200};
    for (int k = 0; k < 5; ++k) {
        EXPECT_NEAR(flight.frames[k].observer.x, expected[k], 5e-6);
        EXPECT_EQ(flight.frames[k].number, k);
    }
}

TEST(StraightFlight, RangeOffsetAndAngleConversion) {
    Flight flight;
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

TEST(StraightFlight, SingleFrameFlightShowsTheStartAndEmptyRangeRendersNothing) {
    Flight single;
    ASSERT_TRUE(single.run("Bildanzahl=1\nStartbildNr=0\nEndbildNr=2\nGenauRechnen=2\n"));
    ASSERT_EQ(single.frames.size(), 3);
    for (FrameView const& view : single.frames)
        EXPECT_EQ(view.observer.x, 10.0);
    EXPECT_EQ(single.frames[0].focalLength, 120.0);  // doubled with the double-size frame
    Flight none;
    EXPECT_TRUE(none.run("StartbildNr=3\nEndbildNr=2\n"));
    EXPECT_TRUE(none.frames.isEmpty());
}

QByteArray curve(int controlPoints, int waypoints, QByteArray const& extra) {
    QByteArray lines = "Rundflug=1\n" + extra;
    for (int n = 0; n < controlPoints; ++n)
        lines += QStringLiteral("cPunkt%1=%2,0,100\n").arg(n, 2, 10, QLatin1Char('0')).arg(n * 100).toLatin1();
    for (int n = 0; n < waypoints; ++n)
        lines += QStringLiteral("Punkt%1=%2,%2\nPunkt%1_a=1.0\nPunkt%1_p=-2.0\n")
                     .arg(n, 2, 10, QLatin1Char('0'))
                     .arg(n * 10)
                     .toLatin1();
    return lines;
}

TEST(CurvedFlight, FourControlPointsGiveEvenSteps) {
    Flight flight;
    ASSERT_TRUE(flight.run(curve(4, 7, "Bildanzahl=3\nStartbildNr=0\nEndbildNr=3\nVerkantenA=0.5\nVerkantenE=0.5\n")));
    ASSERT_EQ(flight.frames.size(), 4);
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(flight.frames[k].observer.x, 100.0 * k, 1e-9);
        EXPECT_NEAR(flight.frames[k].observer.z, 100.0, 1e-9);
        EXPECT_NEAR(flight.frames[k].heading, 1.0, 1e-12);
        EXPECT_NEAR(flight.frames[k].tilt, -std::numbers::pi + 2.0, 1e-12);  // mirrored about -pi/2
        EXPECT_EQ(flight.frames[k].bank, 0.5);                               // no degree conversion
    }
}

TEST(CurvedFlight, RefusalsWriteTheirMessageAndLeaveTheErrorEmpty) {
    struct Case {
        int controlPoints, waypoints;
        QByteArray extra;
        QString message;
    };
    for (Case const& c : {Case{3, 2, "Bildanzahl=5\n", "number of control points is 3, has to be greater than 3.\n"},
                          Case{4, 6, "Bildanzahl=5\n", "number of waypoints is 0, has to be greater than 6.\n"},
                          Case{4, 7, "Bildanzahl=1\n", "total number of frames is 1, has to be greater than 1.\n"}}) {
        Flight flight;
        EXPECT_FALSE(flight.run(curve(c.controlPoints, c.waypoints, c.extra)));
        EXPECT_EQ(flight.logText, QStringLiteral("SceneryDelegate::CurvedFlight(): ") + c.message);
        EXPECT_TRUE(flight.delegate.renderErrorString().isEmpty());
        EXPECT_TRUE(flight.frames.isEmpty());
    }
}

TEST(CurvedFlight, FrameRangeBeyondTheCurvesAndOverlongFlightsAreRefused) {
    Flight beyond;
    EXPECT_FALSE(beyond.run(curve(4, 7, "Bildanzahl=3\nStartbildNr=0\nEndbildNr=4\n")));
    EXPECT_EQ(beyond.delegate.renderErrorString(),
              QStringLiteral("Frames 0 to 4 lie outside the curved flight's frames 0 to 3"));
    EXPECT_TRUE(beyond.frames.isEmpty());
    Flight overlong;
    EXPECT_FALSE(overlong.run(curve(4, 7, "Bildanzahl=1000001\nStartbildNr=0\nEndbildNr=0\n")));
    EXPECT_EQ(overlong.delegate.renderErrorString(),
              QStringLiteral("A curved flight of 1000001 frames is too long (at most 1000000)"));
    EXPECT_TRUE(overlong.frames.isEmpty());
}

TEST(RenderDriver, RefusesUnusableParametersNamingTheKey) {
    struct Case {
        QByteArray line;
        QString message;
    };
    for (Case const& c :
         {Case{"AusAuflX=0\n", "Invalid value of AusAuflX: 0 (must be at least 1)"},
          Case{"AusAuflY=-3\n", "Invalid value of AusAuflY: -3 (must be at least 1)"},
          Case{"AusAuflX=65537\n", "Invalid value of AusAuflX: 65537 (must be at most 65536)"},
          Case{"AusAuflY=2000000000\n", "Invalid value of AusAuflY: 2000000000 (must be at most 65536)"},
          Case{"HDateiSkalaX=0\n", "Invalid value of HDateiSkalaX: 0 (must be a positive number)"},
          Case{"HDateiSkalaY=nan\n", "Invalid value of HDateiSkalaY: nan (must be a positive number)"},
          Case{"AusBreite=0\n", "Invalid value of AusBreite: 0 (must be between 1 and 16384)"},
          Case{"AusBreite=16385\n", "Invalid value of AusBreite: 16385 (must be between 1 and 16384)"},
          Case{"AusHoehe=9000\nGenauRechnen=2\n", "Invalid value of AusHoehe: 9000 (must be between 1 and 8192)"}}) {
        Flight flight;
        EXPECT_FALSE(flight.run(c.line));
        EXPECT_EQ(flight.delegate.renderErrorString(), c.message);
        EXPECT_EQ(flight.delegate.run().camera, nullptr);
        EXPECT_EQ(flight.delegate.run().frameImage, nullptr);
    }
}

// Scan draws the delegate's current view with the run's sizes, grid and
// light: flat white ground under light straight down is white everywhere
// the terrain covers, and a fog distance of 0 leaves only the background.
TEST(RenderDriver, ScanDrawsTheCurrentViewIntoTheFrameBuffer) {
    QString logText;
    QTextStream log(&logText);
    SceneryDelegate delegate(log, false);
    delegate.run().renderWidth = 40;
    delegate.run().renderHeight = 30;
    delegate.run().lightDirection = C4Vector(0, 0, -1, 0);
    delegate.run().gridResolutionX = delegate.run().gridResolutionY = 8;
    delegate.run().terrainExtentX = delegate.run().terrainExtentY = 64;
    delegate.run().camera = std::make_unique<Transformation>(nullptr, delegate.run().lightDirection, 40, 30);
    delegate.run().elevation = std::make_unique<ElevationImage>(16, 16, QImage::Format_RGB32);
    delegate.run().elevation->fill(0xFF000000u);
    delegate.run().elevation->refreshPixelCache();
    delegate.run().elevation->pixelsPerUnitX = delegate.run().elevation->pixelsPerUnitY = 0.25;
    delegate.run().frameImage = std::make_unique<TextureImage>(40, 30, QImage::Format_RGB32);
    TextureImage texture(64, 64, QImage::Format_RGB32);
    texture.fill(0xFFFFFFFFu);
    texture.refreshPixelCache();
    delegate.run().camera->SetzeTexturDatei(&texture);
    delegate.run().camera->SetView(C4Vector(32, 32, 40, 1), 0, -std::numbers::pi / 2 + 0.01, 30, 0);

    delegate.run().fogDistance = std::numeric_limits<double>::infinity();
    delegate.Scan(&texture, true, 0xFF0000FFu, 0);
    QImage const lit = delegate.run().frameImage->copy();
    EXPECT_EQ(lit.pixel(20, 15), 0xFFFFFFFFu);
    delegate.run().fogDistance = 0;
    delegate.Scan(&texture, true, 0xFF0000FFu, 0);
    EXPECT_EQ(delegate.run().frameImage->pixel(20, 15), 0xFF0000FFu);
}

TEST(RenderDriver, LightIsNormalisedUnlessZero) {
    Flight up;
    ASSERT_TRUE(up.run("LichtX=0\nLichtY=0\nLichtZ=2\n"));
    EXPECT_EQ(up.delegate.run().lightDirection.z, 1.0);
    EXPECT_EQ(up.delegate.run().lightDirection.w, 0.0);
    Flight none;
    ASSERT_TRUE(none.run("LichtX=0\nLichtY=0\nLichtZ=0\n"));
    EXPECT_EQ(none.delegate.run().lightDirection.x, 0.0);
    EXPECT_EQ(none.delegate.run().lightDirection.z, 0.0);
}

TEST(FrameOutputPattern, AcceptsOneIntegerConversionOnly) {
    for (char const* good :
         {"frame%04d.png", "f%d", "%%d%i", "%-+ 0#3.3d", "plain.png", "100%%", "h%x", "v%02u", "%#o", "%X"})
        EXPECT_TRUE(FrameOutput::isValidPattern(good)) << good;
    for (char const* bad : {"%s", "%n", "%c", "%d%d", "%x%u", "%*d", "%.5000d", "%1234d", "%ld", "%", "f%", "%5"})
        EXPECT_FALSE(FrameOutput::isValidPattern(bad)) << bad;
    auto name = [](char const* pattern, int number) {
        return FrameOutput::fileName(QString::fromUtf8(pattern), number).value_or(QStringLiteral("(refused)"));
    };
    EXPECT_EQ(name("f%04d.tga", 7), QStringLiteral("f0007.tga"));
    EXPECT_EQ(name("h%x", 255), QStringLiteral("hff"));
    EXPECT_EQ(name("v%02u", 3), QStringLiteral("v03"));
    EXPECT_EQ(name("%#o", 8), QStringLiteral("010"));
    // An unsigned conversion shows a negative number's bits, as printf does.
    EXPECT_EQ(name("%X", -1), QStringLiteral("FFFFFFFF"));
    EXPECT_EQ(name("été%d", 3), QStringLiteral("été3"));
    EXPECT_FALSE(FrameOutput::fileName(QString(2000, QLatin1Char('x')) + QStringLiteral("%d"), 1).has_value());
    EXPECT_TRUE(FrameOutput::fileName(QString(1022, QLatin1Char('x')) + QStringLiteral("%d"), 1).has_value());
    EXPECT_FALSE(FrameOutput::fileName(QString(1022, QLatin1Char('x')) + QStringLiteral("%d"), 10).has_value());
}

}  // namespace
