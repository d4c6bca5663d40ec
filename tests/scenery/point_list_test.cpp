// Waypoint and control point lines: filling, normalising and writing.
#include "scenery_delegate.h"
#include "test_support.h"

#include <QTextStream>

#include <gtest/gtest.h>

namespace {

struct Reader {
    QString logText;
    QTextStream log{&logText};
    SceneryDelegate delegate{log, false};
    std::unique_ptr<QTemporaryDir> dir = testsupport::makeTempDir();

    bool read(QByteArray const& contents) {
        QString const path = dir->filePath(QStringLiteral("points.avs"));
        testsupport::writeFile(path, contents);
        return delegate.open(path);
    }
};

QByteArray controlPoints(int count) {
    QByteArray lines;
    for (int n = 0; n < count; ++n)
        lines += QStringLiteral("cPunkt%1=%2,%3,%4\n")
                     .arg(n, 2, 10, QLatin1Char('0'))
                     .arg(n * 100)
                     .arg(-n)
                     .arg(7)
                     .toLatin1();
    return lines;
}

QByteArray waypoints(int count) {
    QByteArray lines;
    for (int n = 0; n < count; ++n)
        lines += QStringLiteral("Punkt%1=%2,%3\n")
                     .arg(n, 2, 10, QLatin1Char('0'))
                     .arg(10 * n + 10)
                     .arg(10 * n + 20)
                     .toLatin1();
    return lines;
}

TEST(PointListNormalisation, KeepsLargestAllowedWaypointCount) {
    struct Case {
        int given;
        int kept;
    };
    for (Case c :
         {Case{6, 0}, Case{7, 7}, Case{8, 7}, Case{12, 7}, Case{13, 13}, Case{24, 13}, Case{25, 25}, Case{48, 25},
          Case{49, 49}, Case{96, 49}, Case{97, 97}, Case{192, 97}, Case{193, 193}, Case{300, 193}}) {
        Reader r;
        ASSERT_TRUE(r.read(controlPoints(4) + waypoints(c.given)));
        EXPECT_EQ(r.delegate.waypoints.size(), c.kept) << "given " << c.given;
        EXPECT_EQ(r.delegate.controlPoints.size(), 4);
    }
}

TEST(PointListNormalisation, EightWaypointsKeepTheFirstSevenInOrder) {
    Reader r;
    ASSERT_TRUE(r.read(controlPoints(4) + waypoints(8)));
    ASSERT_EQ(r.delegate.waypoints.size(), 7);
    EXPECT_EQ(r.delegate.waypoints[0].x, 10);
    EXPECT_EQ(r.delegate.waypoints[6].x, 70);
    EXPECT_EQ(r.delegate.waypoints[6].y, 80);
}

TEST(PointListNormalisation, FewerThanFourControlPointsEmptyWaypoints) {
    Reader r;
    ASSERT_TRUE(r.read(controlPoints(3) + waypoints(13)));
    EXPECT_TRUE(r.delegate.waypoints.isEmpty());
    EXPECT_EQ(r.delegate.controlPoints.size(), 3);
}

TEST(PointListReading, GapsAreZeroEntriesAndOrderDoesNotMatter) {
    Reader r;
    ASSERT_TRUE(
        r.read("Punkt03_a=45.5\nPunkt03_z=9\nPunkt03=5,6\nPunkt03_p=-0.25\nPunkt03_i=2\ncPunkt02=1,-2,3\n"
               "Punkt100=1,2\n"));
    // Fewer than four control points: the waypoints are dropped after reading,
    // so look at the list through processLineLoad on a fresh delegate as well.
    EXPECT_TRUE(r.delegate.waypoints.isEmpty());
    ASSERT_EQ(r.delegate.controlPoints.size(), 3);
    EXPECT_EQ(r.delegate.controlPoints[0].x, 0);
    EXPECT_EQ(r.delegate.controlPoints[2].y, -2);
    EXPECT_EQ(r.delegate.controlPoints[2].extra, 0.0);

    Reader lines;
    for (char const* line : {"Punkt03_a=45.5", "Punkt03_z=9", "Punkt03=5,6", "Punkt03_p=-0.25", "Punkt03_i=2"})
        ASSERT_TRUE(lines.delegate.processLineLoad(QString::fromLatin1(line))) << line;
    ASSERT_EQ(lines.delegate.waypoints.size(), 4);
    EXPECT_EQ(lines.delegate.waypoints[0].x, 0);
    EXPECT_EQ(lines.delegate.waypoints[0].a, 0.0);
    Waypoint const& w = lines.delegate.waypoints[3];
    EXPECT_EQ(w.x, 5);
    EXPECT_EQ(w.y, 6);
    EXPECT_EQ(w.z, 9);
    EXPECT_EQ(w.i, 2.0);
    EXPECT_EQ(w.a, 45.5);
    EXPECT_EQ(w.p, -0.25);
    ASSERT_TRUE(lines.delegate.processLineLoad(QStringLiteral("Punkt100=1,2")));
    EXPECT_EQ(lines.delegate.waypoints.size(), 101);
}

TEST(PointListReading, SecondOpenEmptiesListsButKeepsOtherFields) {
    Reader r;
    ASSERT_TRUE(r.read(controlPoints(4) + waypoints(7) + "BeobXA=3\nAusgabePNG=1\n"));
    ASSERT_EQ(r.delegate.waypoints.size(), 7);
    ASSERT_TRUE(r.read("BeobYA=4\n"));
    EXPECT_TRUE(r.delegate.waypoints.isEmpty());
    EXPECT_TRUE(r.delegate.controlPoints.isEmpty());
    EXPECT_EQ(r.delegate.parameters->observerXStart, 3.0);
    EXPECT_FALSE(r.delegate.parameters->writePng);
}

TEST(PointWriting, WaypointLines) {
    QString text;
    QTextStream stream(&text);
    Waypoint(1, 2, 3, 45.0, -10.5).write(stream, 4);
    EXPECT_EQ(text, QStringLiteral("Punkt04=1,2\nPunkt04_z=3\nPunkt04_i=0\nPunkt04_a=45\nPunkt04_p=-10.5\n"));
    text.clear();
    Waypoint(0, 0, 0, 1234567.0, 0.001).write(stream, 100);
    EXPECT_EQ(text,
              QStringLiteral("Punkt100=0,0\nPunkt100_z=0\nPunkt100_i=0\nPunkt100_a=1.23457e+06\nPunkt100_p=0.001\n"));
}

TEST(PointWriting, ControlPointLineAndReadBack) {
    QString text;
    QTextStream stream(&text);
    ControlPoint(100, -200, 300, 0.0).write(stream, 12);
    EXPECT_EQ(text, QStringLiteral("cPunkt12=100,-200,300\n"));

    Reader r;
    ASSERT_TRUE(r.delegate.processLineLoad(text.trimmed()));
    ASSERT_EQ(r.delegate.controlPoints.size(), 13);
    EXPECT_EQ(r.delegate.controlPoints[12].z, 300);
}

}  // namespace
