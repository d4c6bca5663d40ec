// Splitting one flight across processes: a Slurm job array.
#include "scene_files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

QByteArray const flight =
    "AusgabePNG=1\nAusDateiname=out/f%02d\nBildanzahl=9\nStartbildNr=0\nEndbildNr=8\nRichtungA=0\nRichtungE=90\n";

QString const program = QString::fromUtf8(AVRENDER_EXE);

struct Outcome {
    int exitCode;  // -1 when the command crashed or hung
    QByteArray standardError;
};

// Runs a command in the folder.
Outcome run(QString const& folder, QString const& command, QStringList const& arguments,
            QProcessEnvironment const& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessEnvironment(environment);
    process.start(command, arguments);
    if (!process.waitForFinished(120000))
        return {-1, {}};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardError()};
}

// A quiet run that succeeds prints nothing.
void expectQuietSuccess(Outcome const& outcome) {
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.standardError, QByteArray());
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

TEST(RenderFarm, SlurmArrayTasksTogetherRenderTheFlight) {
    QString const script = QStringLiteral(AVRENDER_SOURCE_DIR "/examples/slurm-render.sh");
    Folder whole;
    expectQuietSuccess(run(whole.path(), program, {"-q", "-i", "s.avs"}));
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
        SCOPED_TRACE(task);
        expectQuietSuccess(run(array.path(), "bash", {script, "s.avs", "0", "8"}, environment));
    }
    EXPECT_EQ(array.output(), whole.output());
    EXPECT_EQ(array.output().size(), 9);
    Outcome const usage = run(array.path(), "bash", {script});
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_TRUE(usage.standardError.startsWith("usage: ")) << usage.standardError.toStdString();
}

}  // namespace
