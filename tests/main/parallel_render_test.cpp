// Threads, frame ranges, resumed renders and Slurm array tasks all produce the
// files of one plain sequential run, byte for byte.
#include "scene_files.h"

#include <QDir>
#include <QFile>
#include <QMap>

#include <gtest/gtest.h>

namespace {

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
        auto result = testsupport::runProgram(QStringList{"-i", "s.avs"} + arguments, files.dir->path());
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

    // A constant name keeps the last frame's files.
    QByteArray constant = flight;
    constant.replace("AusDateiname=out/f%03d", "AusDateiname=out/same");
    Render parallel(constant);
    parallel.run({"-j", "3"});
    Render last(constant);
    last.run({"-j", "1", "--frames", "6"});
    EXPECT_EQ(parallel.output(), last.output());
}

// Four Slurm array tasks, numbered from 10 as a real array may be; the script
// runs outside Slurm as well, with the task given in its environment.
TEST(RenderFarm, SlurmArrayTasksTogetherRenderTheFlight) {
    QString const script = QStringLiteral(AVRENDER_SOURCE_DIR "/examples/slurm-render.sh");
    Render whole;
    EXPECT_TRUE(whole.run({"-q"}).standardError.isEmpty());
    Render array;
    for (int task = 10; task < 14; ++task) {
        SCOPED_TRACE(task);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("SLURM_ARRAY_TASK_ID", QString::number(task));
        environment.insert("SLURM_ARRAY_TASK_MIN", "10");
        environment.insert("SLURM_ARRAY_TASK_COUNT", "4");
        environment.insert("SLURM_CPUS_PER_TASK", "2");
        environment.insert("AVRENDER", QStringLiteral(AVRENDER_EXE));
        auto const result =
            testsupport::runProgram({script, "s.avs", "0", "6"}, array.files.dir->path(), 120000, "bash", environment);
        EXPECT_FALSE(result.crashed || result.timedOut);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.standardError, QByteArray());
    }
    EXPECT_EQ(array.output(), whole.output());
    EXPECT_EQ(array.output().size(), 14);
    auto const usage = testsupport::runProgram({script}, array.files.dir->path(), 120000, "bash");
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_TRUE(usage.standardError.startsWith("usage: ")) << usage.standardError.toStdString();
}

// Progress shows on request (the catalogue's runs, whose standard error is no
// terminal, show none by default), cleared at the end, never when quiet.
TEST(Progress, ShownOnRequestNeverWhenQuiet) {
    Render shown, quiet;
    QByteArray const progress = shown.run({"--progress", "-j", "2"}).standardError;
    EXPECT_TRUE(progress.contains("\rFrame 7 of 7 (100%)") && progress.endsWith("\r\033[K")) << progress.toStdString();
    EXPECT_TRUE(quiet.run({"--progress", "--quiet"}).standardError.isEmpty());
}

}  // namespace
