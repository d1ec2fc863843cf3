#include "command/file_work.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command/run_settings.h"
#include "platform/files.h"

namespace zelvane {
namespace {

using Kind = WorkPart::Kind;

struct ExpectedPart {
  Kind kind;
  std::string text;
  std::vector<std::string> args;
};

TEST(PrepareFileWork, PartsAsTheyWillBeHandled) {
  struct Case {
    std::string command;
    bool shell;
    bool noCrLf;
    std::string whole;
    std::vector<ExpectedPart> parts;
  };
  const Case cases[] = {
      {"prog $n;echo hi $b",
       false,
       false,
       "prog x;y.txt;echo hi x;y",
       {{Kind::Program, "prog x;y.txt", {"prog", "x;y.txt"}}, {Kind::InternalEcho, "hi x;y\n", {}}}},
      {"ECHO\t$e", false, true, "ECHO\t.txt", {{Kind::InternalEcho, ".txt", {}}}},
      {"echo $n;x",
       true,
       false,
       "echo x;y.txt;x",
       {{Kind::Shell, "echo x;y.txt", {}}, {Kind::Shell, "x", {}}}},
      {"a;;b", false, false, "a;;b", {{Kind::Program, "a", {"a"}}}},
      {";a", false, false, ";a", {}},
      {"a;", true, false, "a;", {{Kind::Shell, "a", {}}}},
      {"echohello", false, false, "echohello", {{Kind::Program, "echohello", {"echohello"}}}},
      {"p \"a b\" $b",
       false,
       false,
       "p \"a b\" x;y",
       {{Kind::Program, "p \"a b\" x;y", {"p", "a b", "x;y"}}}},
      {"  ", false, false, "  ", {{Kind::Program, "  ", {}}}},
  };
  for (const Case& c : cases) {
    RunSettings ctx;
    ctx.startDir = "/start";
    ctx.pathSeparator = '/';
    ctx.command = c.command;
    ctx.shell = c.shell ? "/bin/sh" : "";
    ctx.noCrLf = c.noCrLf ? 1 : 0;
    const CommandTemplate command = ParseCommandTemplate(ctx.command, ';', '$', !c.shell);
    const FileWork work = PrepareFileWork(ctx, command, "/x/x;y.txt", 1, 1);
    EXPECT_EQ(work.command, c.whole) << c.command;
    ASSERT_EQ(work.parts.size(), c.parts.size()) << c.command;
    for (std::size_t i = 0; i < c.parts.size(); ++i) {
      EXPECT_EQ(work.parts[i].kind, c.parts[i].kind) << c.command << " part " << i;
      EXPECT_EQ(work.parts[i].text, c.parts[i].text) << c.command << " part " << i;
      EXPECT_EQ(work.parts[i].args, c.parts[i].args) << c.command << " part " << i;
    }
  }
}

TEST(PrepareFileWork, ExpandsTheNumbersTheOutputFileAndDirectory) {
  RunSettings ctx;
  ctx.startDir = "/start";
  ctx.pathSeparator = '/';
  ctx.command = "p $c/$C";
  ctx.outputFile = "$b.out";
  ctx.changeDir = 1;
  ctx.lowercase = 1;  // changes what macros show, never the directory entered
  const CommandTemplate command = ParseCommandTemplate(ctx.command, ';', '$', true);
  FileWork work = PrepareFileWork(ctx, command, "/X/A.txt", 1, 12);
  EXPECT_EQ(work.parts.at(0).text, "p  1/12");
  EXPECT_EQ(work.outputFile, "a.out");
  EXPECT_EQ(work.directory, "/X/");
  work = PrepareFileWork(ctx, command, "/X/B.txt", 2, 12);
  EXPECT_EQ(work.parts.at(0).text, "p  2/12");

  ctx.changeDir = 0;
  EXPECT_EQ(PrepareFileWork(ctx, command, "/X/C.txt", 3, 12).directory, "");
}

// A Command of internal echoes alone takes a short way for each file: only where no file's name could make
// a part anything else, and then with the very texts the parts of PrepareFileWork would write.
TEST(PrepareEchoTexts, OnlyForEchoesAloneAndThenAsPrepareFileWork) {
  struct Case {
    std::string command;
    bool shell;
    bool echoesAlone;
  };
  const Case cases[] = {
      {"echo $f", false, true},
      {"ECHO\t[$e] $c/$C;echo $b;", false, true},  // an empty part ends the Command
      {"echo $n;;prog $f", false, true},           // ... and what follows is never handled
      {";prog", false, true},
      {"echo $e$e", false, true},  // empty for a name without an extension, still an echo
      {"echo $n", true, false},    // a shell takes every part
      {"echo $n;prog", false, false},
      {"echo$n", false, false},
      {"ech$e o", false, false},
      {"$n", false, false},         // a file named "echo x" would make it an echo, another a program
      {"echo a;$e", false, false},  // may be empty, and end the Command, for one file but not another
      {"  echo x", false, false},
  };
  const std::string paths[] = {"/X/Mixed Case.TXT", "/x/noext", "bare.c", "/x/semi;colon $f.txt"};
  for (const Case& c : cases) {
    for (const bool noCrLf : {false, true}) {
      RunSettings ctx;
      ctx.startDir = "/start";
      ctx.pathSeparator = '|';
      ctx.lowercase = 1;
      ctx.noCrLf = noCrLf ? 1 : 0;
      ctx.shell = c.shell ? "/bin/sh" : "";
      const CommandTemplate command = ParseCommandTemplate(c.command, ';', '$', !c.shell);
      EXPECT_EQ(EchoesAlone(ctx, command), c.echoesAlone) << c.command;
      if (!c.echoesAlone) continue;
      std::vector<std::string> texts;
      for (int n = 0; n < 4; ++n) {
        const FileWork work = PrepareFileWork(ctx, command, paths[n], n + 1, 4);
        PrepareEchoTexts(ctx, command, paths[n], n + 1, 4, texts);
        ASSERT_EQ(texts.size(), work.parts.size()) << c.command << " for " << paths[n];
        for (std::size_t i = 0; i < texts.size(); ++i) {
          EXPECT_EQ(work.parts[i].kind, Kind::InternalEcho) << c.command << " for " << paths[n];
          EXPECT_EQ(texts[i], work.parts[i].text) << c.command << " for " << paths[n];
        }
      }
    }
  }
}

// -Gather: the words of the file stand once per file, the others once; the group ends at the limits.
TEST(PrepareGroupWork, RepeatsTheFilesWordsAndEndsWhereItMust) {
  struct Case {
    std::string command;
    bool shell;
    bool changeDir;
    std::size_t most;
    std::size_t room;  // for a program's words or a shell line alike; each word costs its length and 1
    std::size_t taken;
    std::vector<ExpectedPart> parts;
  };
  const std::size_t kAll = 1000;
  const Case cases[] = {
      {"gzip -9 $f",
       false,
       false,
       0,
       kAll,
       3,
       {{Kind::Program, "gzip -9 /d/a.c /d/b.c /e/c.c", {"gzip", "-9", "/d/a.c", "/d/b.c", "/e/c.c"}}}},
      {"cp $n /backup/",
       false,
       false,
       0,
       kAll,
       3,
       {{Kind::Program, "cp a.c b.c c.c /backup/", {"cp", "a.c", "b.c", "c.c", "/backup/"}}}},
      // $c is each file's own number, $C the run's count: a word with only $C stands once.
      {"p x$c $C", false, false, 0, kAll, 3, {{Kind::Program, "p x1 x2 x3 3", {"p", "x1", "x2", "x3", "3"}}}},
      // With a shell the repeated words keep the quotes typed.
      {"echo \"$n\" >> log",
       true,
       false,
       0,
       kAll,
       3,
       {{Kind::Shell, "echo \"a.c\" \"b.c\" \"c.c\" >> log", {}}}},
      {"echo $n;p $C",
       false,
       false,
       0,
       kAll,
       3,
       {{Kind::InternalEcho, "a.c b.c c.c\n", {}}, {Kind::Program, "p 3", {"p", "3"}}}},
      {"gzip $n", false, false, 2, kAll, 2, {{Kind::Program, "gzip a.c b.c", {"gzip", "a.c", "b.c"}}}},
      // "gzip" 5, "-9" 3, each path 7: two files take 22, a third would pass the room.
      {"gzip -9 $f",
       false,
       false,
       0,
       22,
       2,
       {{Kind::Program, "gzip -9 /d/a.c /d/b.c", {"gzip", "-9", "/d/a.c", "/d/b.c"}}}},
      {"gzip -9 $f", false, false, 0, 21, 1, {{Kind::Program, "gzip -9 /d/a.c", {"gzip", "-9", "/d/a.c"}}}},
      // The first file is taken whatever it costs: the system then says the line is too long.
      {"gzip -9 $f", false, false, 0, 1, 1, {{Kind::Program, "gzip -9 /d/a.c", {"gzip", "-9", "/d/a.c"}}}},
      // Each word's values together, in the order of the words.
      {"p $n $b",
       false,
       false,
       0,
       kAll,
       3,
       {{Kind::Program, "p a.c b.c c.c a b c", {"p", "a.c", "b.c", "c.c", "a", "b", "c"}}}},
      // Without a shell a quoted word's text keeps its quotes, its arguments do not.
      {"p \"x $n\" -o",
       false,
       false,
       0,
       kAll,
       3,
       {{Kind::Program, "p \"x a.c\" \"x b.c\" \"x c.c\" -o", {"p", "x a.c", "x b.c", "x c.c", "-o"}}}},
      // ...and only the arguments take room: "p" 2 and each name 4 leave the third file out, and nothing of
      // it.
      {"p \"$n\"", false, false, 0, 10, 2, {{Kind::Program, "p \"a.c\" \"b.c\"", {"p", "a.c", "b.c"}}}},
      // With a shell two words of the file are text alone, in the order of the words.
      {"echo $n $b", true, false, 0, kAll, 3, {{Kind::Shell, "echo a.c b.c c.c a b c", {}}}},
      // With a shell the line as typed takes the room: "echo" 5, each "a.c" with its quotes 6.
      {"echo \"$n\"", true, false, 0, 17, 2, {{Kind::Shell, "echo \"a.c\" \"b.c\"", {}}}},
      // With -c a group ends where the directory changes.
      {"gzip $n", false, true, 0, kAll, 2, {{Kind::Program, "gzip a.c b.c", {"gzip", "a.c", "b.c"}}}},
  };
  const std::vector<std::string> paths{"/d/a.c", "/d/b.c", "/e/c.c"};
  // One work for every row, as a run hands a done job's work on to the next: nothing of a row may stay.
  FileWork work;
  for (const Case& c : cases) {
    RunSettings ctx;
    ctx.startDir = "/start";
    ctx.pathSeparator = '/';
    ctx.shell = c.shell ? "/bin/sh" : "";
    ctx.changeDir = c.changeDir ? 1 : 0;
    const CommandTemplate command = ParseCommandTemplate(c.command, ';', '$', !c.shell);
    GroupLimits limits;
    limits.most = c.most;
    limits.wordRoom = limits.shellRoom = c.room;
    limits.cost = [](std::string_view word, bool) { return word.size() + 1; };
    EXPECT_EQ(PrepareGroupWork(ctx, command, paths, 0, 1, 3, limits, work), c.taken) << c.command;
    ASSERT_EQ(work.parts.size(), c.parts.size()) << c.command;
    for (std::size_t i = 0; i < c.parts.size(); ++i) {
      EXPECT_EQ(work.parts[i].kind, c.parts[i].kind) << c.command << " part " << i;
      EXPECT_EQ(work.parts[i].text, c.parts[i].text) << c.command << " part " << i;
      EXPECT_EQ(work.parts[i].args, c.parts[i].args) << c.command << " part " << i;
    }
  }
}

// A group hands each file's words over exactly as a run of single files would, however the settings show
// the names (some paths are taken as they stand, the others through all their macros).
TEST(PrepareGroupWork, GivesEachFileTheWordsASingleFileGets) {
  struct Setting {
    const char* name;
    int lowercase;
    char separator;
    int shortNames;
  };
  const Setting settings[] = {
      {"native", 0, '/', 0}, {"-sep\\", 0, '\\', 0},    {"-sep:", 0, ':', 0},
      {"no -sep", 0, 0, 0},  {"-lowercase", 1, '/', 0}, {"-8", 0, '/', 1},
  };
  // A bare name, a backslash (a separator on Win32 only), a drive and a network volume.
  const std::vector<std::string> paths{"/D/A.c", "/d/b.c",          "B.c",  "/d\\x.c",
                                       "C:/y.c", "//srv/share/z.c", "C:q.c"};
  for (const std::string commandText : {"p $f", "p x$f -o $f.bak", "p $f $n"}) {
    for (const Setting& setting : settings) {
      RunSettings ctx;
      ctx.startDir = "/start";
      ctx.lowercase = setting.lowercase;
      ctx.pathSeparator = setting.separator;
      ctx.useShortNames = setting.shortNames;
      const CommandTemplate command = ParseCommandTemplate(commandText, ';', '$', true);
      std::vector<std::vector<std::string>> single;
      for (const std::string& path : paths)
        single.push_back(PrepareFileWork(ctx, command, path, 1, 1).parts.at(0).args);
      std::vector<std::string> expected;
      for (std::size_t w = 0; w < single.front().size(); ++w) {
        for (const std::vector<std::string>& args : single) {
          expected.push_back(args.at(w));
          if (!IsPerFileWord(command.parts[0].words[w])) break;  // once
        }
      }
      GroupLimits limits;
      limits.wordRoom = 1000;
      limits.cost = [](std::string_view word, bool) { return word.size() + 1; };
      FileWork work;
      ASSERT_EQ(PrepareGroupWork(ctx, command, paths, 0, 1, 1, limits, work), paths.size()) << setting.name;
      EXPECT_EQ(work.parts.at(0).args, expected) << commandText << ", " << setting.name;
    }
  }
}

// A name the system would read as another file's is handed to no command: the whole Command gives way to
// the message, unless it is internal echo alone, which hands the name to no one.
TEST(PrepareFileWork, ANameTheSystemRewritesIsPassedToNoCommand) {
  const std::string path = "/X/Trail.";
  const bool rewrites = platform::SystemRewritesName(path);
  struct Case {
    std::string command;
    bool shell;
    bool refused;
  };
  const Case cases[] = {
      {"prog $f", false, true},  {"echo $n;prog", false, true},  {"echo $f", true, true},
      {"echo $n", false, false}, {"echo a;;prog", false, false},
  };
  for (const Case& c : cases) {
    RunSettings ctx;
    ctx.startDir = "/start";
    ctx.pathSeparator = '/';
    ctx.lowercase = 1;  // the message names the file as $f does
    ctx.shell = c.shell ? "cmd" : "";
    const CommandTemplate command = ParseCommandTemplate(c.command, ';', '$', !c.shell);
    const FileWork work = PrepareFileWork(ctx, command, path, 1, 1);
    EXPECT_EQ(work.notPassed,
              c.refused && rewrites
                  ? "Cannot pass \"/x/trail.\" to a command: Windows reads that name as another file.\n"
                  : "")
        << c.command;
  }
}

}  // namespace
}  // namespace zelvane
