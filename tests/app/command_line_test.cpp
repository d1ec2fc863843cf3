#include "app/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "command/run_settings.h"
#include "platform/environment.h"

namespace zelvane {
namespace {

using Args = std::vector<std::string>;

std::string Codes(std::string text, char code = '#') {
  ConvertCharacterCodes(text, code);
  return text;
}

TEST(CharacterCodes, ConvertsThreeDigitCodesModulo256) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"#065", "A"},           //
      {"#06", "#06"},          // three characters or fewer stay
      {"x#065", "xA"},         //
      {"#065x", "Ax"},         //
      {"#321x", "Ax"},         // 321 % 256 = 65
      {"#06x5", "#06x5"},      // two digits stay as typed
      {"a#065#066b", "aABb"},  //
      {"#035065z", "#065z"},   // a produced code character never starts another code
      {"ab#999cd",
       "ab\xe7"
       "cd"},             // 999 % 256 = 0xe7
      {"##065z", "#Az"},  //
      {"abc", "abc"},     //
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Codes(c.in), c.out) << c.in;
  EXPECT_EQ(Codes("x%065", '%'), "xA");
  EXPECT_EQ(Codes("x#065", '%'), "x#065");
}

TEST(CharacterCodes, StopsWhereFewerThanThreeCharactersFollow) {
  // After "#065" turns into one character the text is shorter; the code at the end has only two
  // characters after it by then and stays.
  EXPECT_EQ(Codes("#065#06"), "A#06");
  EXPECT_EQ(Codes("ab#06"), "ab#06");
}

TEST(CharacterCodes, HandlesMegabyteOfCodesInLinearTime) {
  std::string big;
  for (int i = 0; i < 250000; ++i)
    big += "#065";
  big += "z";
  ConvertCharacterCodes(big, '#');
  EXPECT_EQ(big.size(), 250001u);
  EXPECT_EQ(big.front(), 'A');
}

class OptionsTest : public ::testing::Test {
 protected:
  RunSettings ctx;
  std::size_t Parse(Args args) {
    args.insert(args.begin(), "zelvane");
    return ParseOptions(ctx, args, 2);
  }
};

TEST_F(OptionsTest, WordsAreTriedBeforeLettersOverExactlyTheirLength) {
  ctx.batch = 1;
  Parse({"x.c", "-xOldfile.txt", "-STOP:halt", "-settle", "-SEP|", "-nothing", "-sx", "-DepthFirstX",
         "-nocrlf", "-LOWERCASEd", "-IGNOREdst", "-EXP%", "-batch", "echo"});
  EXPECT_EQ(ctx.outputFile, "ldfile.txt");
  EXPECT_EQ(ctx.xspec, "");
  EXPECT_EQ(ctx.stopFile, "halt");
  EXPECT_EQ(ctx.searchPath, "");
  EXPECT_EQ(ctx.pathSeparator, '|');
  EXPECT_TRUE(ctx.shell.empty());
  EXPECT_EQ(ctx.recurseSubdirs, 1);
  EXPECT_EQ(ctx.depthFirst, 1);
  EXPECT_EQ(ctx.noCrLf, 1);
  EXPECT_EQ(ctx.lowercase, 1);
  EXPECT_EQ(ctx.ignoreDst, 1);
  EXPECT_EQ(ctx.expandPrefix, '%');
  EXPECT_EQ(ctx.batch, 1);
}

TEST_F(OptionsTest, LettersAndTheirArguments) {
  ctx.shell = "/bin/sh";
  EXPECT_EQ(Parse({"x.c", "-a", "-c", "-8", "-p", "-Sone;two", "-m%", "-t~", "-b,", "echo", "-s"}), 10u);
  EXPECT_EQ(ctx.useAccessTime, 1);
  EXPECT_EQ(ctx.changeDir, 1);
  EXPECT_EQ(ctx.useShortNames, 1);
  EXPECT_EQ(ctx.confirm, 1);
  EXPECT_EQ(ctx.searchPath, "one;two");
  EXPECT_EQ(ctx.macroChar, '%');
  EXPECT_EQ(ctx.codeChar, '~');
  EXPECT_EQ(ctx.breakChar, ',');
  EXPECT_EQ(ctx.shell, "/bin/sh");
  EXPECT_EQ(ctx.recurseSubdirs, 0);  // after the first non-option, nothing is an option
}

TEST_F(OptionsTest, CharacterArgumentsMissingBecomeNul) {
  Parse({"x.c", "-m", "-t", "-b", "-sep", "-exp"});
  EXPECT_EQ(ctx.macroChar, '\0');
  EXPECT_EQ(ctx.codeChar, '\0');
  EXPECT_EQ(ctx.breakChar, '\0');
  EXPECT_EQ(ctx.pathSeparator, '\0');
  EXPECT_EQ(ctx.expandPrefix, '\0');
}

TEST_F(OptionsTest, EchoOnlyNeedsALowerCaseO) {
  Parse({"x.c", "-eO"});
  EXPECT_EQ(ctx.echoCommand, 1);
  EXPECT_EQ(ctx.echoOnly, 0);
  Parse({"x.c", "-eo"});
  EXPECT_EQ(ctx.echoOnly, 1);
}

TEST_F(OptionsTest, TimeSlopReadsADecimalPrefix) {
  const struct {
    const char* option;
    int value;
  } cases[] = {{"-TimeSlop5", 5},   {"-TimeSlop:5", 0}, {"-timeslop 12x", 12},
               {"-TimeSlop-7", -7}, {"-TimeSlop", 0},   {"-TimeSlop99999999999", 2147483647}};
  for (const auto& c : cases) {
    ctx.timeSlop = 3;
    Parse({"x.c", c.option});
    EXPECT_EQ(ctx.timeSlop, c.value) << c.option;
  }
}

TEST_F(OptionsTest, JobsReadsADecimalPrefixAndZeroOrNothingMeansOnePerProcessor) {
  const struct {
    const char* option;
    int jobs;
  } cases[] = {{"-Jobs:4", 4},  {"-JOBS:0", 0},    {"-jobs:", 0},
               {"-Jobs:-3", 0}, {"-Jobs:12x", 12}, {"/Jobs:2", 2}};
  for (const auto& c : cases) {
    ctx.jobs = 1;
    Parse({"x.c", c.option, "-ReturnCodeS"});
    EXPECT_EQ(ctx.jobs, c.jobs) << c.option;
    EXPECT_EQ(ctx.returnCode, 1);
    EXPECT_EQ(ctx.searchPath, "");
  }
}

TEST_F(OptionsTest, FilespecAndXspecAccumulateAndConvertCodesWithTheCodeCharOfTheMoment) {
  Parse({"x.c", "-fa", "-fb", "-xa", "-xb"});
  EXPECT_EQ(ctx.filespec, "x.c a b");
  EXPECT_EQ(ctx.xspec, "ab");

  RunSettings other;
  std::vector<std::string> args{"zelvane", "-f#065", "-f#066", "-t%", "-f%067#068", "-x%069"};
  ParseOptions(other, args, 2);
  // Each -f converts all of the Filespec so far, with the code character of that moment.
  EXPECT_EQ(other.filespec, "A B C#068");
  EXPECT_EQ(other.xspec, "E");
}

TEST_F(OptionsTest, FirstArgumentLosesALeadingDashFOrSlashF) {
  Parse({"-f*.c"});
  EXPECT_EQ(ctx.filespec, "*.c");
  Parse({"/f*.c"});
  EXPECT_EQ(ctx.filespec, "*.c");
  Parse({"-F*.c"});
  EXPECT_EQ(ctx.filespec, "-F*.c");
}

#ifndef _WIN32
// Only on POSIX can an absolute path begin with '/'.
TEST_F(OptionsTest, SlashWithAnotherSlashIsAPathNotAnOption) {
  EXPECT_EQ(Parse({"x.c", "/s", "/usr/bin/env", "-p"}), 3u);
  EXPECT_EQ(ctx.recurseSubdirs, 1);
  EXPECT_EQ(ctx.confirm, 0);
  // The first argument's /f prefix follows the same rule.
  Parse({"/fs/data/*.csv"});
  EXPECT_EQ(ctx.filespec, "/fs/data/*.csv");
}
#else
TEST_F(OptionsTest, SlashAlwaysStartsAnOption) {
  ctx.batch = 1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Parse({"x.c", "/s", "/usr/bin/env", "-p"}), 5u);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(ctx.confirm, 1);
}
#endif

TEST_F(OptionsTest, UnrecognizedOptionsAndHelpPrintAndParsingGoesOn) {
  ctx.batch = 1;
  testing::internal::CaptureStdout();
  const std::size_t next = Parse({"x.c", "-E", "-P", "-?", "-s", "cmd"});
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(next, 6u);
  EXPECT_EQ(ctx.recurseSubdirs, 1);
  EXPECT_NE(out.find("Unrecognized option \"-E\".\nPress any key to continue.\nUsage:\n"), std::string::npos);
  EXPECT_NE(out.find("Unrecognized option \"-P\"."), std::string::npos);
  // Two usage texts after the two errors and one for -?.
  std::size_t usages = 0;
  for (std::size_t at = out.find("Usage:"); at != std::string::npos; at = out.find("Usage:", at + 1))
    ++usages;
  EXPECT_EQ(usages, 3u);
}

TEST(SetOption, AssignsOnlyWithAnEqualsSign) {
  std::string value;
  SetEnvironmentFromOption(":ZELVANE_SET_T1=a=b");
  SetEnvironmentFromOption(":ZELVANE_SET_T2");
  ASSERT_TRUE(platform::GetEnv("ZELVANE_SET_T1", value));
  EXPECT_EQ(value, "a=b");
  EXPECT_FALSE(platform::GetEnv("ZELVANE_SET_T2", value));
  SetEnvironmentFromOption(":ZELVANE_SET_T1=");
  ASSERT_TRUE(platform::GetEnv("ZELVANE_SET_T1", value));
  EXPECT_EQ(value, "");
  SetEnvironmentFromOption("");
}

TEST(LocateCommand, CutsAfterTheLastOptionKeepingQuotesAndSpacing) {
  std::string command;
  // The runtime removed the quotes of -x"/ad \*.?"; the raw line still has them.
  const Args args{"zelvane", "\\*.?", "-s", "-x/ad \\*.?", "echo", "$f"};
  ASSERT_TRUE(LocateCommand("zelvane \"\\*.?\" -s -x\"/ad \\*.?\"  echo  \"$f\" ", args, 4, command));
  EXPECT_EQ(command, "echo  \"$f\" ");
}

TEST(LocateCommand, Cases) {
  const struct {
    const char* name;
    std::string raw;
    Args args;
    std::size_t first;
    bool found;
    const char* command;
  } cases[] = {
      {"no options", "zel *.c echo $f", {"zel", "*.c", "echo", "$f"}, 2, true, "echo $f"},
      {"no command", "zel *.c -s", {"zel", "*.c", "-s"}, 3, true, ""},
      {"quoted spec", "zel \"a b\" -p del $f", {"zel", "a b", "-p", "del", "$f"}, 3, true, "del $f"},
      {"tabs", "zel\t*.c\t-s\t\tcmd", {"zel", "*.c", "-s", "cmd"}, 3, true, "cmd"},
      {"spec in program name", "/opt/c/zel c echo", {"/opt/c/zel", "c", "echo"}, 2, true, "echo"},
      {"empty spec", "zel \"\" -s echo", {"zel", "", "-s", "echo"}, 3, true, "echo"},
      {"spec not found", "zel x.c echo", {"zel", "#035x.c", "echo"}, 2, false, ""},
      {"option past the end", "zel a -xyz", {"zel", "a", "-xyzzzzz"}, 3, true, ""},
      // A quote elsewhere than after an option's first two characters shifts the cut.
      {"quoted option", "zel \"a\" \"-s\" cmd", {"zel", "a", "-s", "cmd"}, 3, true, "s\" cmd"},
  };
  for (const auto& c : cases) {
    std::string command = "stale";
    EXPECT_EQ(LocateCommand(c.raw, c.args, c.first, command), c.found) << c.name;
    if (c.found) {
      EXPECT_EQ(command, c.command) << c.name;
    }
  }
}

TEST(CommandFromArguments, TheArgumentsAfterTheLastOptionAsTheRawLineHoldsThem) {
  const struct {
    const char* name;
    Args args;
    std::size_t first;
    const char* command;
  } cases[] = {
      {"plain", {"zel", "*.c", "-s", "rm", "$f"}, 3, "rm $f"},
      // Nothing typed before the Command can shift it.
      {"quoted option", {"zel", "*.c", "-x\"my file.txt\"", "/bin/rm", "$f"}, 3, "/bin/rm $f"},
      {"code in an option", {"zel", "*.c", "-xo#065", "/bin/rm", "$f"}, 3, "/bin/rm $f"},
      {"blanks before the Filespec", {"zel", "  *.c", "/bin/rm", "$f"}, 2, "/bin/rm $f"},
      {"spec in the program name", {"/opt/c/zel", "c", "c", "$f"}, 2, "c $f"},
      // The Command's own words: codes converted, blanks and quotes kept, leading blanks skipped.
      {"codes", {"zel", "*.c", "echo", "#065#066"}, 2, "echo AB"},
      {"blanks", {"zel", "*.c", "  echo", "a  b", "\"$f\""}, 2, "echo a  b \"$f\""},
      {"empty words", {"zel", "*.c", "", "echo", ""}, 2, "echo "},
      {"none", {"zel", "*.c", "-s"}, 3, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CommandFromArguments(RawForms(c.args), c.first), c.command) << c.name;
}

class ArgumentFileTest : public ::testing::Test {
 protected:
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      ("zelvane-args-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
       ::testing::UnitTest::GetInstance()->current_test_info()->name());
  void SetUp() override { std::filesystem::create_directories(dir); }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string Write(const std::string& name, const std::string& content) {
    const std::filesystem::path p = dir / name;
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
  }
};

TEST_F(ArgumentFileTest, LinesBecomeArgumentsAndReplaceTheTextInTheRawLine) {
  const std::string opts = Write("opts", "-s\n-p\n");
  Args args{"zel", "x.c", "@" + opts, "echo", "$f"};
  std::string raw = "zel x.c @" + opts + " echo $f";
  ExpandArgumentFiles(args, raw, '@');
  EXPECT_EQ(args, (Args{"zel", "x.c", "-s", "-p", "echo", "$f"}));
  EXPECT_EQ(raw, "zel x.c -s -p echo $f");
}

TEST_F(ArgumentFileTest, EmptyLinesSpacesLongLinesAndCrLf) {
  const std::string longLine(40000, 'z');
  const std::string file = Write("f", "a b\r\n\n" + longLine + "\n\"q\"");
  Args args{"zel", "@" + file, "@" + file};
  std::string raw = "zel @" + file + " @" + file;
  ExpandArgumentFiles(args, raw, '@');
  // Lines from a file are not expanded themselves, and each of any length stays one argument.
  ASSERT_EQ(args.size(), 9u);
  EXPECT_EQ(args[1], "a b");
  EXPECT_EQ(args[2], "");
  EXPECT_EQ(args[3], longLine);
  EXPECT_EQ(args[4], "\"q\"");
  EXPECT_EQ(args[5], "a b");
  EXPECT_EQ(raw, "zel a b  " + longLine + " \"q\" a b  " + longLine + " \"q\"");
}

TEST_F(ArgumentFileTest, AByteOrderMarkAtTheStartIsNoPartOfTheFirstLine) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string file = Write("f", bom + "-s\r\n" + bom + "x\n");
  const std::string empty = Write("e", bom);
  Args args{"zel", "@" + file, "@" + empty, "y"};
  std::string raw = "zel @" + file + " @" + empty + " y";
  ExpandArgumentFiles(args, raw, '@');
  // Only the file's own start: a mark inside is a character of the name. A file of the mark alone is
  // empty.
  EXPECT_EQ(args, (Args{"zel", "-s", bom + "x", "@" + empty, "y"}));
  EXPECT_EQ(raw, "zel -s " + bom + "x  y");
}

TEST_F(ArgumentFileTest, RawFormsFollowTheLinesAndTheCommandTakesThemAsTheyAre) {
  const std::string words = Write("words", "-s\necho\n#065 x\n");
  const std::string empty = Write("empty", "");
  Args args{"zel", "*.c", "@" + words, "#066", "@" + empty, "y"};
  std::string raw = "zel *.c @" + words + " B @" + empty + " y";
  std::vector<std::string> forms = RawForms(args);
  ExpandArgumentFiles(args, raw, '@', &forms);
  EXPECT_EQ(args, (Args{"zel", "*.c", "-s", "echo", "#065 x", "#066", "@" + empty, "y"}));
  EXPECT_EQ(forms, (Args{"zel", "*.c", "-s", "echo", "#065 x", "B", "", "y"}));
  // The file's lines joined by single spaces, an empty file standing for nothing.
  EXPECT_EQ(CommandFromArguments(forms, 3), "echo #065 x B  y");
}

TEST_F(ArgumentFileTest, ADirectoryIsNoArgumentFile) {
  std::filesystem::create_directories(dir / "sub");
  const std::string sub = (dir / "sub").string();
  Args args{"zel", "@" + sub, "x"};
  std::string raw = "zel @" + sub + " x";
  testing::internal::CaptureStdout();
  ExpandArgumentFiles(args, raw, '@');
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Could not find file \"" + sub + "\".\n");
  EXPECT_EQ(args, (Args{"zel", "@" + sub, "x"}));
  EXPECT_EQ(raw, "zel @" + sub + " x");
}

TEST_F(ArgumentFileTest, MissingAndEmptyFiles) {
  const std::string empty = Write("empty", "");
  const std::string missing = (dir / "missing").string();
  Args args{"zel", "@" + missing, "@" + empty, "x"};
  std::string raw = "zel \"@" + missing + "\" @" + empty + " x";
  testing::internal::CaptureStdout();
  ExpandArgumentFiles(args, raw, '@');
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Could not find file \"" + missing + "\".\n");
  EXPECT_EQ(args, (Args{"zel", "@" + missing, "@" + empty, "x"}));
  EXPECT_EQ(raw, "zel \"@" + missing + "\"  x");
}

}  // namespace
}  // namespace zelvane
