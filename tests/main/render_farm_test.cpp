// Splitting one flight across processes: GNU parallel and a Slurm job array.
#include "scene_files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

QByteArray const flight =
    "AusgabePNG=1\nAusDateiname=out/f%02d\nBildanzahl=9\nStartbildNr=0\nEndbildNr=8\nRichtungA=0\nRichtungE=90\n";

QString const program = QString::fromUtf8(AVRENDER_EXE);

// Runs a command in the folder; returns its exit code.
int run(QString const& folder, QString const& command, QStringList const& arguments,
        QProcessEnvironment const& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessEnvironment(environment);
    process.start(command, arguments);
    if (!process.waitForFinished(120000))
        return -1;
    EXPECT_TRUE(process.readAllStandardError().isEmpty() || process.exitCode() != 0);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

struct Folder {
    SceneFiles files;
    Folder() {
        files.scenery(flight);
        QDir(files.dir->path()).mkdir("out");
    }
    QString path() const { return files.dir->path(); }
    QMap<QString, QByteArray> output() const { return testsupport::folderContents(files.path("out")); }
};

TEST(RenderFarm, GnuParallelSplitEqualsWholeRender) {
    Folder whole;
    ASSERT_EQ(run(whole.path(), program, {"-q", "-j", "1", "-i", "s.avs"}), 0);
    Folder split;
    ASSERT_EQ(run(split.path(), "parallel",
                  {"--will-cite", "-j", "2", program, "-q", "-j", "1", "-i", "s.avs", "--frames", "{}", ":::", "0-3",
                   "4-6", "7-8"}),
              0);
    EXPECT_EQ(split.output().size(), 9);
    EXPECT_EQ(split.output(), whole.output());
}

TEST(RenderFarm, SlurmArrayTasksTogetherRenderTheFlight) {
    QString const script = QStringLiteral(AVRENDER_SOURCE_DIR "/examples/slurm-render.sh");
    Folder whole;
    ASSERT_EQ(run(whole.path(), program, {"-q", "-i", "s.avs"}), 0);
    Folder array;
    // Four tasks, numbered from 10 as a real array may be; the script runs
    // outside Slurm as well, with the task given in its environment.
    for (int task = 10; task < 14; ++task) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("SLURM_ARRAY_TASK_ID", QString::number(task));
        environment.insert("SLURM_ARRAY_TASK_MIN", "10");
        environment.insert("SLURM_ARRAY_TASK_COUNT", "4");
        environment.insert("SLURM_CPUS_PER_TASK", "2");
        environment.insert("AVRENDER", program);
        ASSERT_EQ(run(array.path(), "bash", {script, "s.avs", "0", "8"}, environment), 0) << task;
    }
    EXPECT_EQ(array.output(), whole.output());
    EXPECT_EQ(run(array.path(), "bash", {"-n", script}), 0);
    EXPECT_EQ(run(array.path(), "bash", {script}), 2);  // usage
}

}  // namespace
