// The scenery reader: key matching, value kinds, messages and whole files.
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

    // Writes the lines to a file and reads it.
    bool read(QByteArray const& contents) {
        dir = testsupport::makeTempDir();
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

    std::unique_ptr<QTemporaryDir> dir;
};

TEST(SceneryDataDefaults, ClearRestoresEveryDefault) {
    SceneryData data;
    data.frameCount = 9;
    data.outputWidth = 1;
    data.lightX = 5.0;
    data.textureFileName = QStringLiteral("x");
    data.flyStraight = false;
    data.clear();
    EXPECT_EQ(data.frameCount, 1);
    EXPECT_EQ(data.outputWidth, 640);
    EXPECT_EQ(data.outputHeight, 480);
    EXPECT_EQ(data.gridResolutionXSetting, 64);
    EXPECT_EQ(data.gridResolutionYSetting, 64);
    EXPECT_EQ(data.lightX, -1.0);
    EXPECT_EQ(data.lightY, 1.0);
    EXPECT_EQ(data.lightZ, -1.0);
    EXPECT_EQ(data.tiltStart, -10.0);
    EXPECT_EQ(data.zScaleEnd, 0.001);
    EXPECT_EQ(data.backgroundArgb, 0xFF000000u);
    EXPECT_TRUE(data.writePng);
    EXPECT_TRUE(data.flyStraight);
    EXPECT_TRUE(data.textureFileName.isEmpty());
}

TEST(SceneryDataCopy, CopiesFieldsButNotParentAndStringsAreIndependent) {
    QObject parent;
    SceneryData source;
    source.setParent(&parent);
    source.outputFileName = QStringLiteral("frame%04d");
    source.fogEnd = 123.0;
    SceneryData copy(source);
    EXPECT_EQ(copy.parent(), nullptr);
    EXPECT_EQ(copy.fogEnd, 123.0);
    copy.outputFileName[0] = QLatin1Char('F');
    EXPECT_EQ(source.outputFileName, QStringLiteral("frame%04d"));
    source.setParent(nullptr);
}

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
    EXPECT_TRUE(r.line(QStringLiteral("BeobYA=two")));
    EXPECT_EQ(r.p().observerYStart, 0.0);

    EXPECT_TRUE(r.line(QStringLiteral("AusgabeTGA=2")));
    EXPECT_TRUE(r.p().writeTga);
    EXPECT_TRUE(r.line(QStringLiteral("AusgabeTGA=true")));
    EXPECT_FALSE(r.p().writeTga);
    EXPECT_TRUE(r.line(QStringLiteral("AusgabeTGA=2")));
    EXPECT_TRUE(r.line(QStringLiteral("AusgabeTGA=yes")));
    EXPECT_FALSE(r.p().writeTga);

    EXPECT_TRUE(r.line(QStringLiteral("Hintergrund=FF0000")));
    EXPECT_EQ(r.p().backgroundArgb, 0xFF0000FFu);
    EXPECT_TRUE(r.line(QStringLiteral("Hintergrund=0000FF")));
    EXPECT_EQ(r.p().backgroundArgb, 0xFFFF0000u);
    EXPECT_TRUE(r.line(QStringLiteral("Hintergrund=AA123456")));  // fourth byte dropped
    EXPECT_EQ(r.p().backgroundArgb, 0xFF563412u);

    EXPECT_TRUE(r.line(QStringLiteral("TDateiname= tex.png")));
    EXPECT_EQ(r.p().textureFileName, QStringLiteral(" tex.png"));
    EXPECT_TRUE(r.line(QStringLiteral("AusDateiname=f=%04d")));
    EXPECT_EQ(r.p().outputFileName, QStringLiteral("f=%04d"));
    EXPECT_TRUE(r.line(QStringLiteral("HDateiname=my map.png")));
    EXPECT_EQ(r.p().elevationFileName, QStringLiteral("my map.png"));

    EXPECT_TRUE(r.line(QStringLiteral("Rundflug=1")));
    EXPECT_FALSE(r.p().flyStraight);
    EXPECT_TRUE(r.line(QStringLiteral("Rundflug=0")));
    EXPECT_TRUE(r.p().flyStraight);

    EXPECT_TRUE(r.line(QStringLiteral("[Param] extra")));
}

TEST(SceneryReaderValues, RepeatedKeyOverwrites) {
    Reader r;
    ASSERT_TRUE(r.read("BrennA=10\nBrennA=20\n"));
    EXPECT_EQ(r.p().focalLengthStart, 20.0);
}

struct BadLine {
    char const* line;
    char const* message;
};

TEST(SceneryReaderMessages, RefusesEachBadLineWithItsMessageAndLeavesRecord) {
    for (BadLine const& bad : {BadLine{"beobxa=1", "No such key: beobxa=1"},
                               BadLine{"BeobXA", "No key/value pair: BeobXA"},
                               BadLine{"BeobXAB", "No key/value pair: BeobXAB"},
                               BadLine{"BeobXAB=1", "No such key: BeobXAB=1"},
                               BadLine{"Hintergrund=red", "No color value: red"},
                               BadLine{"Hintergrund=", "No color value: "},
                               BadLine{"Hintergrund=1FFFFFFFF", "No color value: 1FFFFFFFF"},
                               BadLine{" [Param]", "No such key:  [Param]"},
                               BadLine{"# comment", "No such key: # comment"},
                               BadLine{"   ", "No such key:    "},
                               BadLine{"Punkt03=5", "No comma in two value parameter: Punkt03=5"},
                               BadLine{"cPunkt03=1,2", "No second comma in three value parameter: cPunkt03=1,2"},
                               BadLine{"cPunkt03=1", "No first comma in three value parameter: cPunkt03=1"},
                               BadLine{"Punkt03_q=1", "No such key: Punkt03_q=1"},
                               BadLine{"Punkt7=1,2", "No such key: Punkt7=1,2"},
                               BadLine{"Punkt007=1,2", "No such key: Punkt007=1,2"},
                               BadLine{"PUNKT07=1,2", "No such key: PUNKT07=1,2"},
                               BadLine{"Punkt-1=1,2", "Negative point number: Punkt-1=1,2"},
                               BadLine{"cPunkt-3=1,2,3", "Negative point number: cPunkt-3=1,2,3"},
                               BadLine{"Punkt99999999=1,2", "Point number too large: Punkt99999999=1,2"},
                               BadLine{"cPunkt99999999=1,2,3", "Point number too large: cPunkt99999999=1,2,3"},
                               BadLine{"Punkt10000_a=1", "Point number too large: Punkt10000_a=1"}}) {
        Reader r;
        SceneryData const before(r.p());
        EXPECT_FALSE(r.line(QString::fromLatin1(bad.line))) << bad.line;
        EXPECT_EQ(r.error(), bad.message);
        EXPECT_EQ(r.p().backgroundArgb, before.backgroundArgb);
        EXPECT_TRUE(r.delegate.waypoints.isEmpty()) << bad.line;
        EXPECT_TRUE(r.delegate.controlPoints.isEmpty()) << bad.line;
    }
}

TEST(SceneryReaderKeys, ReadValueFromKeyResults) {
    Reader r;
    double value = 7.0;
    EXPECT_EQ(r.delegate.readValueFromKey(QStringLiteral("BeobXA=1"), QStringLiteral("BeobYA"), value), 0);
    EXPECT_EQ(r.delegate.readValueFromKey(QStringLiteral("BeobXAB=1"), QStringLiteral("BeobXA"), value), 0);
    EXPECT_EQ(value, 7.0);
    EXPECT_EQ(r.delegate.readValueFromKey(QStringLiteral("BeobXA"), QStringLiteral("BeobXA"), value), 2);
    EXPECT_EQ(r.delegate.readValueFromKey(QStringLiteral("BeobXA=2.5=3"), QStringLiteral("BeobXA"), value), 1);
    EXPECT_EQ(value, 0.0);  // "2.5=3" is not a number
    int a = 0, b = 0, c = 0;
    EXPECT_EQ(r.delegate.readValueFromKey(QStringLiteral("K=1,2,3"), QStringLiteral("K"), a, b), 1);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 0);  // "2,3" is not an integer
    EXPECT_EQ(r.delegate.readValueFromKey(QStringLiteral("K=4,5,6,7"), QStringLiteral("K"), a, b, c), 1);
    EXPECT_EQ(a, 4);
    EXPECT_EQ(b, 5);
    EXPECT_EQ(c, 0);  // "6,7" is not an integer
    unsigned int colour = 0;
    EXPECT_EQ(r.delegate.readValueFromKey(QStringLiteral("H=0x0000ff"), QStringLiteral("H"), colour), 1);
    EXPECT_EQ(colour, 0xFFFF0000u);
}

TEST(SceneryReaderFile, EmptyFileKeepsDefaultsWithoutPng) {
    Reader r;
    EXPECT_TRUE(r.read(""));
    EXPECT_FALSE(r.p().writePng);
    EXPECT_TRUE(r.p().flyStraight);
    EXPECT_EQ(r.p().outputWidth, 640);
    EXPECT_TRUE(r.read("\nBeobXA=3\n"));
    EXPECT_EQ(r.p().observerXStart, 0.0);
}

TEST(SceneryReaderFile, StopsAtFirstEmptyLine) {
    Reader r;
    EXPECT_TRUE(r.read("[Param]\r\nBeobXA=5\r\n\r\nFoo=1\r\n"));
    EXPECT_EQ(r.p().observerXStart, 5.0);
}

TEST(SceneryReaderFile, BadLinesDoNotStopReadingAndLastMessageWins) {
    Reader r;
    EXPECT_FALSE(r.read("A=1\nBeobZA=42\nB=2\nBeobZE=43\n"));
    EXPECT_EQ(r.error(), "No such key: B=2");
    EXPECT_EQ(r.p().observerZStart, 42.0);
    EXPECT_EQ(r.p().observerZEnd, 43.0);
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

TEST(SceneryReaderFile, MissingFileGivesFileLayerMessage) {
    Reader r;
    EXPECT_FALSE(r.delegate.open(QStringLiteral("/nonexistent/scenery.avs")));
    EXPECT_EQ(r.error(), "No such file or directory");
}

}  // namespace
