// Threads, frame ranges and resumed renders all produce the files of one
// plain sequential run, byte for byte.
#include "scene_files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QMap>

#include <gtest/gtest.h>

namespace {

using testsupport::runProgram;

QByteArray const flight =
    "AusgabePNG=1\nAusgabeTGA=1\nAusDateiname=out/f%03d\nBildanzahl=7\nStartbildNr=0\nEndbildNr=6\n"
    "Traegheit=0.5\nRichtungA=10\nRichtungE=70\nGenauRechnen=1\nNebelA=80\nNebelE=120\n";

struct Render {
    SceneFiles files;
    Render(QByteArray const& lines = flight) {
        files.scenery(lines);
        QDir(files.dir->path()).mkdir("out");
    }
    testsupport::ProcessResult run(QStringList const& arguments) {
        auto result = runProgram(QStringList{"-i", "s.avs"} + arguments, files.dir->path());
        EXPECT_EQ(result.exitCode, 0) << result.standardError.toStdString();
        return result;
    }
    QMap<QString, QByteArray> output() const { return testsupport::folderContents(files.path("out")); }
};

TEST(ParallelRender, AnyThreadCountWritesTheSameFilesInOrder) {
    Render sequential;
    auto const reference = sequential.run({"-j", "1", "-v"});
    ASSERT_EQ(sequential.output().size(), 14);
    for (char const* jobs : {"2", "3", "8"}) {
        Render parallel;
        auto const result = parallel.run({"-j", jobs, "-v"});
        EXPECT_EQ(parallel.output(), sequential.output()) << jobs << " threads";
        EXPECT_EQ(result.standardError, reference.standardError) << jobs << " threads";  // names in frame order
    }
}

TEST(ParallelRender, OneFrameInBandsEqualsOneFullScan) {
    for (QByteArray const& quality : {QByteArray("GenauRechnen=0\n"), QByteArray("GenauRechnen=2\n")}) {
        Render whole(flight + quality);
        whole.run({"-j", "1", "--frames", "3-3"});
        for (char const* jobs : {"2", "5"}) {
            Render bands(flight + quality);
            bands.run({"-j", jobs, "--frames", "3"});
            EXPECT_EQ(bands.output(), whole.output()) << jobs << " bands, " << quality.toStdString();
            EXPECT_EQ(bands.output().size(), 2);
        }
    }
}

TEST(ParallelRender, SplitRangesAndResumeGiveTheWholeRender) {
    Render whole;
    whole.run({"-j", "2"});

    Render split;
    split.run({"--frames", "0-2", "-j", "1"});
    split.run({"--frames", "3-6", "-j", "2"});
    EXPECT_EQ(split.output(), whole.output());

    // A render interrupted after some frames, then resumed: frames whose files
    // exist are skipped (and not rewritten), the rest are rendered.
    Render resumed;
    resumed.run({"--frames", "0-3"});
    QString const marker = resumed.files.path("out/f001.png");
    QFile::remove(resumed.files.path("out/f002.tga"));  // frame 2 incomplete
    QDateTime const before = QFileInfo(marker).lastModified();
    auto const result = resumed.run({"--skip-existing", "-v", "-j", "1"});
    EXPECT_EQ(resumed.output(), whole.output());
    EXPECT_EQ(QFileInfo(marker).lastModified(), before);
    EXPECT_EQ(result.standardError,
              "out/f002.tga\nout/f002.png\nout/f004.tga\nout/f004.png\nout/f005.tga\n"
              "out/f005.png\nout/f006.tga\nout/f006.png\n");
}

TEST(ParallelRender, ConstantNameKeepsTheLastFrame) {
    QByteArray constant = flight;
    constant.replace("AusDateiname=out/f%03d", "AusDateiname=out/same");
    Render parallel(constant);
    parallel.run({"-j", "3"});
    Render last(constant);
    last.run({"-j", "1", "--frames", "6"});
    EXPECT_EQ(parallel.output(), last.output());
}

TEST(Progress, ShownOnRequestNeverWhenQuiet) {
    Render shown;
    auto const withProgress = shown.run({"--progress", "-j", "2"});
    EXPECT_TRUE(withProgress.standardError.contains("\rFrame 7 of 7 (100%)"))
        << withProgress.standardError.toStdString();
    EXPECT_TRUE(withProgress.standardError.endsWith("\r\033[K"));  // cleared at the end
    Render quiet;
    EXPECT_TRUE(quiet.run({"--progress", "--quiet"}).standardError.isEmpty());
    Render notTerminal;
    EXPECT_TRUE(notTerminal.run({}).standardError.isEmpty());
}

TEST(Progress, VerboseNamesStayWholeLines) {
    Render render;
    auto const result = render.run({"--progress", "-v", "-j", "2"});
    // Every name is on a line of its own once the progress line is cleared.
    QByteArray cleaned = result.standardError;
    cleaned.replace("\033[K", "");
    QList<QByteArray> names;
    for (QByteArray const& line : cleaned.split('\n'))
        if (line.contains("out/"))
            names.append(line.mid(line.lastIndexOf('\r') + 1));
    ASSERT_EQ(names.size(), 14);
    EXPECT_EQ(names.front(), "out/f000.tga");
    EXPECT_EQ(names.back(), "out/f006.png");
}

TEST(CommandLineOptions, BadJobsAndFramesAreRefused) {
    SceneFiles files;
    files.scenery(flight);
    for (QStringList const& arguments : {QStringList{"-j", "0"}, QStringList{"-j", "x"}, QStringList{"--frames", "a-b"},
                                         QStringList{"--frames", "1-"}}) {
        auto const result = runProgram(QStringList{"-i", "s.avs"} + arguments, files.dir->path());
        EXPECT_EQ(result.exitCode, 1) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.standardError.startsWith("Error: Invalid ")) << result.standardError.toStdString();
    }
}

}  // namespace
