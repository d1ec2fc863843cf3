// The run's settings: every option and string the command line gives, filled in once by the option parser
// and read, never written, by the search and the commands after it. The search's own state and the run's
// progress live with their owners (search/collect.h, command/execute.h); app/run_context.h holds the three.
#pragma once

#include <string>

namespace zelvane {

struct RunSettings {
  char abortKey = 'q';        // ends the run between two commands
  int changeDir = 0;          // -c
  char breakChar = ';';       // -b<char>
  char codeChar = '#';        // -t<char>
  int depthFirst = 0;         // -DepthFirst
  int echoCommand = 0;        // -e, -eo
  int echoOnly = 0;           // -eo
  int batch = 0;              // -Batch
  int confirm = 0;            // -p
  int lowercase = 0;          // -lowercase
  char macroChar = '$';       // -m<char>
  int noCrLf = 0;             // -NoCrLf
  int recurseSubdirs = 0;     // -s
  int timeSlop = 3;           // -TimeSlop<n>, seconds
  int ignoreDst = 0;          // -ignoreDST
  int useAccessTime = 0;      // -a
  int useShortNames = 0;      // -8
  std::string searchPath;     // -S<path>
  std::string outputFile;     // -xo<file>
  std::string stopFile;       // -Stop:<file>
  std::string filespec;       // first argument, plus -f<spec>
  std::string xspec;          // -x<spec>
  std::string command;        // cut from the raw command line
  char pathSeparator = '\\';  // -sep<char>; the native separator by default
  char expandPrefix = '@';    // -exp<char>
  int startDrive = 0;         // current drive at start, 0 when there is none
  std::string startDir;       // current directory at start
  std::string shell;          // COMSPEC, emptied by -n
  int jobs = 1;               // -Jobs:<n>, commands run at once; 0: one per processor
  int returnCode = 0;         // -ReturnCode
  int gather = 0;             // -Gather[:n]: files handed to one command together
  int gatherMost = 0;         // the n of -Gather:n; 0: as many as the command line takes
  int quitOnFail = 0;         // -QuitOnFail[:n]: no new file starts after the n-th failure; 0: never stop
  int killAfter = 0;          // -KillAfter:<seconds>: a command running longer is ended; 0: no limit
  int showProgress = 0;       // -Progress: a status line on standard error while it is a terminal
  std::string logFile;        // -Log:<file>: a line per file as it ends
  int resume = 0;             // -Resume: files the log says succeeded, unchanged since, are not run again
  int why = 0;                // -Why: run nothing; say what the search made of every entry it looked at
  // Threads that read directories at once in the search; 0: one per processor. The result is the same
  // for any number (tests compare them).
  int searchThreads = 0;
};

}  // namespace zelvane
