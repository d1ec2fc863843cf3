#include "app/parse_command_line.h"

#include <cstdio>

#include "app/command_line.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/paths.h"
#include "platform/startup.h"

namespace zelvane {
namespace {

// clang-format off
const char* const kUsagePages[4] = {
    // Page 1
    "Usage:\n"
    "  Zelvane <Filespecs> [-sS] [-n] [-c] [-e] [-p] [-x<Xspec>] <Command>\n"
    "\n"
    "  Zelvane executes Command once for each file that matches Filespec.\n"
    "  Both Filespec and Xspec can be any valid argument to the DIR command,\n"
    "  including multiple space-separated file specs, attribute specifications\n"
    "  (/a...), etc.  If either Filespec or Xspec contain spaces, they must be\n"
    "  enclosed in quotation marks.  Zelvane is a Win32 console app, and so\n"
    "  supports long file names, long command lines, and has no practical memory\n"
    "  limits.  It runs only under Windows NT, Windows95, or a compatible\n"
    "  environment.\n"
    "\n",
    // Page 2
    "  Macros:\n"
    "    Given a matching file named D:\\USR\\DEFAULT\\SOMETHNG.TXT and a search\n"
    "    starting in D:\\USR, macros in Command expand as follows:\n"
    "\n"
    "      $f  D:\\USR\\DEFAULT\\SOMETHING.TXT\n"
    "      $n  SOMETHING.TXT\n"
    "      $b  SOMETHING\n"
    "      $e  .TXT\n"
    "      $p  D:\\USR\\DEFAULT\\\n"
    "      $d  \\USR\\DEFAULT\\\n"
    "      $r  DEFAULT\\  (path relative to current directory)\n"
    "      $v  D:\n"
    "      $S  size of D:\\USR\\DEFAULT\\SOMETHING.TXT\n"
    "      $T  timestamp of D:\\USR\\DEFAULT\\SOMETHING.TXT\n"
    "      $D  day part of D:\\USR\\DEFAULT\\SOMETHING.TXT's date\n"
    "      $M  month part of D:\\USR\\DEFAULT\\SOMETHING.TXT's date\n"
    "      $Y  year part of D:\\USR\\DEFAULT\\SOMETHING.TXT's date\n"
    "      $C  number of files matching Filespec, less number matching Xspec\n"
    "      $c  number of the current file\n"
    "      $k  checksum of the current file\n"
    "      $K  checksum of the current file ignoring EOLs\n"
    "\n"
    "      #<000..255>  Expands to a single character designated by number.\n"
    "\n",
    // Page 3
    "  Options:\n"
    "          -s:  recurse into subdirectories.\n"
    "    -S<path>:  search along the specified list of directories.\n"
    "          -n:  noshell (suppresses use of shell specified by COMSPEC)\n"
    "          -a:  expand file timestamps using last-access times.\n"
    "          -c:  chdir to $p before executing Command.\n"
    "          -e:  echo Command to console before executing it.\n"
    "         -eo:  echo Command to console and don't execute it.\n"
    "          -p:  pause for confirmation before executing Command.\n"
    "          -8:  use DOS (8.3) filenames in macro expansions.\n"
    "      -Batch:  prevents pausing for input or confirmation.\n"
    "     -nocrlf:  prevents internal echo from appending CR/LF.\n"
    "  -ignoreDST:  ignore timestamp diffs of exactly one hour (+/- TimeSlop).\n"
    "  -lowercase:  forces use of lowercase in macro expansions.\n"
    " -DepthFirst:  forces directories to be searched first when used with -s.\n"
    "-Stop:<file>:  stop if this file exists after running command, then delete it.\n"
    "-TimeSlop<n>:  specifies number of seconds ignored in comparing timestamps.\n"
    "  -set:<x=y>:  sets environment variable named 'x' to value 'y'.\n"
    "   -xo<file>:  redirects output to <file> command by command.\n"
    "    -t<char>:  designate something other than '#' to start character codes.\n"
    "    -m<char>:  designate something other than '$' to start macros.\n"
    "    -b<char>:  designate something other than ';' to break Command into parts.\n"
    "  -sep<char>:  use <char> to separate path parts in macro expansions.\n"
    "  -exp<char>:  designate something other than '@' to prefix expanded files.\n"
    "    -f<spec>:  include files matching spec in Filespec.\n"
    "    -x<spec>:  exclude files matching spec from Filespec.\n"
    "\n",
    // Page 4
    "  Extended file-spec qualifiers:\n"
    "    /size<[eq][ne][gte][lte][gt][lt]>([num][filename])\n"
    "    /time<[eq][ne][gte][lte][gt][lt]>([YYYY-MM-DD HH:MM:SS][filename])\n"
    "    /comp<[eq][ne]>([0x<checksum>][filename]) -- see $k macro\n"
    "    /cont<[eq][ne]>([0x<checksum excluding EOLs>][filename]) -- see $K macro\n"
    "        These qualifiers RESTRICT file specs that follow them.  You can use\n"
    "        macros in filename.\n"
    "\n"
    "  Psuedo environment variables:\n"
    "     cwd (Current Working Directory), date, time, wday, weekday.\n"
    "\n"
    "  Press 'q' at any time to abort cleanly AFTER execution of current command.\n"
    "\n"
    "  Examples:\n"
    "    Zelvane *.c -s comp $f j:$d$f\n"
    "    Zelvane \"/ar *.?\" comp $f j:$d$f\n"
    "    Zelvane \"\\*.bak\" -s -p del $f\n"
    "    Zelvane \"\\*.tmp \\*.bak \\tmp*.*\" -s move $f c:\\temp\n"
    "    Zelvane \"/sizeeq(0) *.sbr\" -s del $b.obj\n"
    "    Zelvane \"/timegt(MY.EXE) *.c\" echo $n is newer than MY.EXE.\n"
    "    Zelvane \"\\*.?\" -s -x\"/ad \\*.?\" echo $f\n"
    "\n",
};
// clang-format on

}  // namespace

void PrintUsage(const RunSettings& ctx) {
  for (int page = 0; page < 4; ++page) {
    platform::WriteOut(kUsagePages[page]);
    if (page < 3 && !ctx.batch) platform::ReadKey();
  }
}

ParseResult ParseCommandLine(RunSettings& ctx, int argc, char** argv) {
  ctx.pathSeparator = platform::NativeSeparator();
  platform::GetCurrentDir(ctx.startDir);
  ctx.startDrive = platform::CurrentDrive();
  if (!platform::GetEnv("COMSPEC", ctx.shell)) ctx.shell.clear();

  // The raw line keeps the typed quotes and spacing; where it is the line as typed (Win32), the Command is
  // found in it.
  std::string rawLine = platform::RawCommandLine(argc, argv);
  ConvertCharacterCodes(rawLine, '#');

  if (argc < 3) {
    PrintUsage(ctx);
    return ParseResult::UsageShown;
  }

  std::vector<std::string> args(argv, argv + argc);
  std::vector<std::string> rawForms = RawForms(args);
  if (!ExpandArgumentFiles(args, rawLine, '@', &rawForms)) return ParseResult::Refused;
  const std::size_t firstCommandArg = ParseOptions(ctx, args, 2);
  // -Batch asks nothing, so the terminal keeps its mode all through the run.
  if (ctx.batch) platform::LeaveTerminalModeAlone();

  if (!platform::HasTypedCommandLine()) {
    ctx.command = CommandFromArguments(rawForms, firstCommandArg);
  } else if (!LocateCommand(rawLine, args, firstCommandArg, ctx.command)) {
    ctx.command.clear();
    return ParseResult::CommandNotLocated;
  }
  return ParseResult::Ready;
}

}  // namespace zelvane
