// The program as a user runs it: options, usage text, exit codes, messages.
#include "scene_files.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

using testsupport::runProgram;

QByteArray const usageText =
    "\n"
    "AVRender V1.0\n"
    "\n"
    "This program reads a Altivero scenery file and renders one or more image files.\n"
    "The scenery file is created by the AVScenery program.\n"
    "\n"
    "Usage:\n"
    "\n"
    "AVRender -i scenery-file [-v]\n"
    "AVRender [-h | -?]\n"
    "\n"
    "\n"
    "Options:\n"
    "\n"
    "-i    --input-file     name of the scenery file (.avs).\n"
    "-v    --verbose        verbose output\n"
    "-h|-? --help           help\n"
    "-j    --jobs           number of threads rendering frames (default: every core)\n"
    "      --frames         render only frame indices A-B (overrides StartbildNr/EndbildNr)\n"
    "      --skip-existing  skip frames whose output files all exist (resume a render)\n"
    "      --progress       show progress even when standard error is not a terminal\n"
    "-q    --quiet          show no progress\n"
    "      --video          also write the frames as a video (.mp4, .webm or .gif)\n"
    "      --fps            frames per second of the video (default 25)\n";

TEST(CommandLine, HelpAndUnknownOptionsPrintUsageAndSucceed) {
    for (QStringList const& arguments :
         {QStringList{"-h"}, QStringList{"-?"}, QStringList{"--help"}, QStringList{"-x"}, QStringList{"-i"},
          QStringList{"--input-file"}, QStringList{"--verbose=3"}, QStringList{"-v", "--bogus"}}) {
        auto const result = runProgram(arguments);
        EXPECT_EQ(result.exitCode, 0) << arguments.join(' ').toStdString();
        EXPECT_EQ(result.standardError, usageText) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.standardOutput.isEmpty());
    }
}

TEST(CommandLine, StrayArgumentsAreListedBeforeUsage) {
    auto const result = runProgram({"a.avs", "-v", "b c"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.standardError, "Error: Non-option ARGV elements.\na.avs b c \n" + usageText);
    EXPECT_TRUE(result.standardOutput.isEmpty());
}

TEST(CommandLine, InputFileNamesAndTheirRefusals) {
    auto const dir = testsupport::makeTempDir();
    testsupport::writeFile(dir->filePath("a.avs"), "Foo=1\n");
    testsupport::writeFile(dir->filePath("b.avs"), "Bar=2\n");
    struct Case {
        QStringList arguments;
        QByteArray standardError;
    };
    QByteArray const fooRefused = "Error: Cannot open file \"a.avs\": No such key: Foo=1.\n";
    for (Case const& c : {
             // Without an input file the program reads "-" in its working folder.
             Case{{}, "Error: Cannot open file \"-\": No such file or directory.\n"},
             Case{{"-i", ""}, "Error: Cannot open file \"\": No file name specified.\n"},
             // Every form of the option sets the file; the last one counts.
             Case{{"--input-file=a.avs"}, fooRefused},
             Case{{"--input-file", "a.avs"}, fooRefused},
             Case{{"-ia.avs"}, fooRefused},
             Case{{"--inp", "a.avs"}, fooRefused},
             Case{{"-i", "b.avs", "-i", "a.avs"}, fooRefused},
         }) {
        auto const result = runProgram(c.arguments, dir->path());
        EXPECT_EQ(result.exitCode, 3) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(result.standardError, c.standardError) << c.arguments.join(' ').toStdString();
    }
}

TEST(CommandLine, BadOptionValuesAreRefused) {
    SceneFiles files;
    files.scenery("AusgabePNG=1\nAusDateiname=f%d\n");
    for (QStringList const& arguments :
         {QStringList{"-j", "0"}, QStringList{"-j", "x"}, QStringList{"--frames", "a-b"}, QStringList{"--frames", "1-"},
          QStringList{"--video", "v.avi"}, QStringList{"--video", "v"}, QStringList{"--fps", "0"}}) {
        auto const result = runProgram(QStringList{"-i", "s.avs"} + arguments, files.dir->path());
        EXPECT_EQ(result.exitCode, 1) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.standardError.startsWith("Error: Invalid ")) << result.standardError.toStdString();
        EXPECT_EQ(QDir(files.dir->path()).entryList(QDir::Files).size(), 3);  // no frame written
    }
}

}  // namespace
