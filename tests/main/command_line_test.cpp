// The program as a user runs it: options, usage text, exit codes, messages.
#include "test_support.h"

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

TEST(CommandLine, WithoutInputFileOpensDashInWorkingFolder) {
    auto const dir = testsupport::makeTempDir();
    auto const result = runProgram({}, dir->path());
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.standardError, "Error: Cannot open file \"-\": No such file or directory.\n");
}

TEST(CommandLine, EmptyInputFileNameIsRefusedWithTheProgramsLineAlone) {
    auto const result = runProgram({"-i", ""});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.standardError, "Error: Cannot open file \"\": No file name specified.\n");
}

TEST(CommandLine, EveryFormOfInputOptionSetsTheFile) {
    auto const dir = testsupport::makeTempDir();
    testsupport::writeFile(dir->filePath("a.avs"), "Foo=1\n");
    testsupport::writeFile(dir->filePath("b.avs"), "Bar=2\n");
    for (QStringList const& arguments :
         {QStringList{"--input-file=a.avs"}, QStringList{"--input-file", "a.avs"}, QStringList{"-ia.avs"},
          QStringList{"--inp", "a.avs"}, QStringList{"-i", "b.avs", "-i", "a.avs"}}) {
        auto const result = runProgram(arguments, dir->path());
        EXPECT_EQ(result.exitCode, 3) << arguments.join(' ').toStdString();
        EXPECT_EQ(result.standardError, "Error: Cannot open file \"a.avs\": No such key: Foo=1.\n");
    }
}

}  // namespace
