// The scenery reader: key matching, value kinds, messages, whole files and
// the point lists of a curved flight.
#include "scenery_delegate.h"
#include "test_support.h"

#include <QTextStream>

#include <gtest/gtest.h>

namespace {

// A delegate whose log stream is captured in a string.
struct Reader {
    QString logText;
    QTextStream log{&logText};
    SceneryDelegate delegate{log, false};
    std::unique_ptr<QTemporaryDir> dir = testsupport::makeTempDir();

    // Writes the lines to a file and reads it.
    bool read(QByteArray const& contents) {
        QString const path = dir->filePath(QStringLiteral("scenery.avs"));
        testsupport::writeFile(path, contents);
        return delegate.open(path);
    }
    bool line(QString text) {
        SceneryDelegate::compactLine(text);
        return delegate.processLineLoad(text);
    }
    SceneryData& p() { return *delegate.parameters; }
    std::string error() const { return delegate.errorString().toStdString(); }
};

TEST(SceneryReaderValues, NumbersFlagsColoursAndText) {
    Reader r;
    EXPECT_TRUE(r.line(QStringLiteral(" Beob XA\t= 12.5")));
    EXPECT_EQ(r.p().observerXStart, 12.5);
    EXPECT_TRUE(r.line(QStringLiteral("NeigungE=-1.5e1")));
    EXPECT_EQ(r.p().tiltEnd, -15.0);
    EXPECT_TRUE(r.line(QStringLiteral("Bildanzahl=abc")));
    EXPECT_EQ(r.p().frameCount, 0);
    EXPECT_TRUE(r.line(QStringLiteral("Offset=99999999999")));  // out of range: 0
    EXPECT_EQ(r.p().frameNumberOffset, 0);
    EXPECT_TRUE(r.line(QStringLiteral("BeobYA=2.5=3")));  // not a number: 0
    EXPECT_EQ(r.p().observerYStart, 0.0);

    EXPECT_TRUE(r.line(QStringLiteral("AusgabeTGA=2")));
    EXPECT_TRUE(r.p().writeTga);
    EXPECT_TRUE(r.line(QStringLiteral("AusgabeTGA=true")));
    EXPECT_FALSE(r.p().writeTga);

    EXPECT_TRUE(r.line(QStringLiteral("Hintergrund=FF0000")));
    EXPECT_EQ(r.p().backgroundArgb, 0xFF0000FFu);
    EXPECT_TRUE(r.line(QStringLiteral("Hintergrund=AA123456")));  // fourth byte dropped
    EXPECT_EQ(r.p().backgroundArgb, 0xFF563412u);
    EXPECT_TRUE(r.line(QStringLiteral("Hintergrund=0x0000ff")));
    EXPECT_EQ(r.p().backgroundArgb, 0xFFFF0000u);

    EXPECT_TRUE(r.line(QStringLiteral("TDateiname= tex.png")));
    EXPECT_EQ(r.p().textureFileName, QStringLiteral(" tex.png"));
    EXPECT_TRUE(r.line(QStringLiteral("AusDateiname=f=%04d")));
    EXPECT_EQ(r.p().outputFileName, QStringLiteral("f=%04d"));

    EXPECT_TRUE(r.line(QStringLiteral("Rundflug=1")));
    EXPECT_FALSE(r.p().flyStraight);
    EXPECT_TRUE(r.line(QStringLiteral("Rundflug=0")));
    EXPECT_TRUE(r.p().flyStraight);
    EXPECT_TRUE(r.line(QStringLiteral("[Param] extra")));

    // The last of a repeated key wins.
    ASSERT_TRUE(r.read("BrennA=10\nBrennA=20\n"));
    EXPECT_EQ(r.p().focalLengthStart, 20.0);
}

TEST(SceneryReaderValues, TwoAndThreeNumberValuesTakeWhatIsAnInteger) {
    Reader r;
    int a = 0, b = 0, c = 0;
    EXPECT_EQ(r.delegate.readValueFromKey(QStringLiteral("K=1,2,3"), QStringLiteral("K"), a, b), 1);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 0);  // "2,3" is not an integer
    EXPECT_EQ(r.delegate.readValueFromKey(QStringLiteral("K=4,5,6,7"), QStringLiteral("K"), a, b, c), 1);
    EXPECT_EQ(a, 4);
    EXPECT_EQ(b, 5);
    EXPECT_EQ(c, 0);  // "6,7" is not an integer
}

TEST(SceneryReaderMessages, RefusesEachBadLineWithItsMessageAndLeavesRecord) {
    struct BadLine {
        char const* line;
        char const* message;
    };
    for (BadLine const& bad :
         {BadLine{"beobxa=1", "No such key: beobxa=1"}, BadLine{"BeobXA", "No key/value pair: BeobXA"},
          BadLine{"BeobXAB", "No key/value pair: BeobXAB"}, BadLine{"BeobXAB=1", "No such key: BeobXAB=1"},
          BadLine{"Hintergrund=red", "No color value: red"},
          BadLine{"Hintergrund=1FFFFFFFF", "No color value: 1FFFFFFFF"}, BadLine{" [Param]", "No such key:  [Param]"},
          BadLine{"   ", "No such key:    "}, BadLine{"Punkt03=5", "No comma in two value parameter: Punkt03=5"},
          BadLine{"cPunkt03=1,2", "No second comma in three value parameter: cPunkt03=1,2"},
          BadLine{"cPunkt03=1", "No first comma in three value parameter: cPunkt03=1"},
          BadLine{"Punkt03_q=1", "No such key: Punkt03_q=1"}, BadLine{"Punkt7=1,2", "No such key: Punkt7=1,2"},
          BadLine{"Punkt007=1,2", "No such key: Punkt007=1,2"},
          BadLine{"Punkt-1=1,2", "Negative point number: Punkt-1=1,2"},
          BadLine{"cPunkt-3=1,2,3", "Negative point number: cPunkt-3=1,2,3"},
          BadLine{"cPunkt99999999=1,2,3", "Point number too large: cPunkt99999999=1,2,3"},
          BadLine{"Punkt10000_a=1", "Point number too large: Punkt10000_a=1"}}) {
        Reader r;
        EXPECT_FALSE(r.line(QString::fromLatin1(bad.line))) << bad.line;
        EXPECT_EQ(r.error(), bad.message);
        EXPECT_EQ(r.p().backgroundArgb, SceneryData().backgroundArgb);
        EXPECT_TRUE(r.delegate.waypoints.isEmpty()) << bad.line;
        EXPECT_TRUE(r.delegate.controlPoints.isEmpty()) << bad.line;
    }
}

TEST(SceneryReaderFile, EmptyLinesCarriageReturnsAndBadLines) {
    Reader r;
    EXPECT_TRUE(r.read(""));
    EXPECT_FALSE(r.p().writePng);                                 // PNG is chosen by the file, not by default
    EXPECT_TRUE(r.read("[Param]\r\nBeobXA=5\r\n\r\nFoo=1\r\n"));  // stops at the first empty line
    EXPECT_EQ(r.p().observerXStart, 5.0);
    EXPECT_TRUE(r.read("\nBeobXA=3\n"));
    EXPECT_EQ(r.p().observerXStart, 5.0);

    // Bad lines do not stop the reading; the last message wins.
    EXPECT_FALSE(r.read("A=1\nBeobZA=42\nB=2\nBeobZE=43\n"));
    EXPECT_EQ(r.error(), "No such key: B=2");
    EXPECT_EQ(r.p().observerZStart, 42.0);
    EXPECT_EQ(r.p().observerZEnd, 43.0);

    EXPECT_FALSE(r.delegate.open(QStringLiteral("/nonexistent/scenery.avs")));
    EXPECT_EQ(r.error(), "No such file or directory");
}

TEST(SceneryReaderFile, PngSelectedByEitherKeyInAnyOrderWithOneNotice) {
    for (QByteArray const& contents :
         {QByteArray("AusgabeYUV=1\nAusgabePNG=0\n"), QByteArray("AusgabePNG=0\nAusgabeYUV=1\n")}) {
        Reader r;
        ASSERT_TRUE(r.read(contents));
        EXPECT_TRUE(r.p().writePng);
        EXPECT_EQ(r.logText.count(QStringLiteral("Obsolete Output Image Format:\n")), 1);
        EXPECT_TRUE(r.logText.endsWith(QStringLiteral("The PNG format is selected instead.\n")));
    }
    Reader quiet;
    ASSERT_TRUE(quiet.read("AusgabeYUV=0\nAusgabePNG=0\n"));
    EXPECT_FALSE(quiet.p().writePng);
    EXPECT_TRUE(quiet.logText.isEmpty());
}

// A binary file or an endless line is refused before it reaches the record.
TEST(SceneryReaderFile, RefusesBinaryAndEndlessLines) {
    Reader nul;
    EXPECT_FALSE(nul.read(QByteArray("BeobXA=1\nBeobYA=2\0\n", 20)));
    EXPECT_EQ(nul.error(), "Line 2 contains a NUL byte: not a scenery file");
    EXPECT_EQ(nul.p().observerXStart, 1.0);

    Reader endless;
    EXPECT_FALSE(endless.read("AusDateiname=" + QByteArray(2 * 1024 * 1024, 'x') + "\n"));
    EXPECT_EQ(endless.error(), "Line 1 is longer than 1048576 characters: not a scenery file");
    EXPECT_TRUE(endless.p().outputFileName.isEmpty());
}

QByteArray controlPoints(int count) {
    QByteArray lines;
    for (int n = 0; n < count; ++n)
        lines += QByteArray("cPunkt") + (n < 10 ? "0" : "") + QByteArray::number(n) + "=" +
                 QByteArray::number(n * 100) + "," + QByteArray::number(-n) + ",7\n";
    return lines;
}

QByteArray waypoints(int count) {
    QByteArray lines;
    for (int n = 0; n < count; ++n)
        lines += QByteArray("Punkt") + (n < 10 ? "0" : "") + QByteArray::number(n) + "=" +
                 QByteArray::number(10 * n + 10) + "," + QByteArray::number(10 * n + 20) + "\n";
    return lines;
}

// Waypoint lists are cut to the largest allowed size that fits, and dropped
// with fewer than four control points.
TEST(PointLists, KeepTheLargestAllowedWaypointCount) {
    struct Case {
        int controlPoints, given, kept;
    };
    for (Case c : {Case{4, 6, 0}, Case{4, 7, 7}, Case{4, 12, 7}, Case{4, 13, 13}, Case{4, 192, 97}, Case{4, 193, 193},
                   Case{4, 300, 193}, Case{3, 13, 0}}) {
        Reader r;
        ASSERT_TRUE(r.read(controlPoints(c.controlPoints) + waypoints(c.given)));
        EXPECT_EQ(r.delegate.waypoints.size(), c.kept) << "given " << c.given;
        EXPECT_EQ(r.delegate.controlPoints.size(), c.controlPoints);
    }
    Reader eight;
    ASSERT_TRUE(eight.read(controlPoints(4) + waypoints(8)));
    ASSERT_EQ(eight.delegate.waypoints.size(), 7);
    EXPECT_EQ(eight.delegate.waypoints[0].x, 10);
    EXPECT_EQ(eight.delegate.waypoints[6].y, 80);
}

TEST(PointLists, GapsAreZeroEntriesOrderDoesNotMatterAndReopeningEmpties) {
    Reader r;
    for (char const* line :
         {"Punkt03_a=45.5", "Punkt03_z=9", "Punkt03=5,6", "Punkt03_p=-0.25", "Punkt03_i=2", "cPunkt02=1,-2,3"})
        ASSERT_TRUE(r.delegate.processLineLoad(QString::fromLatin1(line))) << line;
    ASSERT_EQ(r.delegate.waypoints.size(), 4);
    EXPECT_EQ(r.delegate.waypoints[0].x, 0);
    EXPECT_EQ(r.delegate.waypoints[0].a, 0.0);
    Waypoint const& w = r.delegate.waypoints[3];
    EXPECT_EQ(w.x, 5);
    EXPECT_EQ(w.y, 6);
    EXPECT_EQ(w.z, 9);
    EXPECT_EQ(w.i, 2.0);
    EXPECT_EQ(w.a, 45.5);
    EXPECT_EQ(w.p, -0.25);
    ASSERT_EQ(r.delegate.controlPoints.size(), 3);
    EXPECT_EQ(r.delegate.controlPoints[0].x, 0);
    EXPECT_EQ(r.delegate.controlPoints[2].y, -2);

    ASSERT_TRUE(r.read(controlPoints(4) + waypoints(7) + "BeobXA=3\n"));
    ASSERT_TRUE(r.read("BeobYA=4\n"));
    EXPECT_TRUE(r.delegate.waypoints.isEmpty());
    EXPECT_TRUE(r.delegate.controlPoints.isEmpty());
    EXPECT_EQ(r.p().observerXStart, 3.0);  // the record is kept
}

TEST(PointLists, LinesWrittenAsTheyAreRead) {
    QString text;
    QTextStream stream(&text);
    Waypoint(1, 2, 3, 45.0, -10.5).write(stream, 4);
    Waypoint(0, 0, 0, 1234567.0, 0.001).write(stream, 100);
    ControlPoint(100, -200, 300, 0.0).write(stream, 12);
    EXPECT_EQ(text,
              QStringLiteral("Punkt04=1,2\nPunkt04_z=3\nPunkt04_i=0\nPunkt04_a=45\nPunkt04_p=-10.5\n"
                             "Punkt100=0,0\nPunkt100_z=0\nPunkt100_i=0\nPunkt100_a=1.23457e+06\nPunkt100_p=0.001\n"
                             "cPunkt12=100,-200,300\n"));
    Reader r;
    for (QString const& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        ASSERT_TRUE(r.delegate.processLineLoad(line)) << line.toStdString();
    ASSERT_EQ(r.delegate.waypoints.size(), 101);
    EXPECT_EQ(r.delegate.waypoints[4].p, -10.5);
    EXPECT_EQ(r.delegate.waypoints[100].a, 1234570.0);  // written with six digits
    ASSERT_EQ(r.delegate.controlPoints.size(), 13);
    EXPECT_EQ(r.delegate.controlPoints[12].z, 300);
}

}  // namespace
