// The run's one object: every setting, the match list and the counters, from start to end. Data only, so
// any folder may include it; it is built by BuildRunContext (app/build_run_context.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "search/match_list.h"

namespace zelvane {

struct ListingCache;

struct RunContext {
  PathList MatchList;         // full paths of the files the run visits, in order
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
  int totalCount = 0;         // entries of MatchList after the exclusion
  int fileNumber = 0;         // number of the file being processed, from 1
  int jobs = 1;               // -Jobs:<n>, commands run at once; 0: one per processor
  int returnCode = 0;         // -ReturnCode
  // A command could not be started or ended with a non-zero code, or a file's directory could not be
  // entered: with -ReturnCode the exit status is 1.
  int commandFailed = 0;
  bool endRun = false;  // a write to the -xo file failed: no further file is processed
  // While several specs are searched: the directories already read (none once the search is over).
  std::shared_ptr<ListingCache> listings;
  // Threads that read directories at once in the search; 0: one per processor. The result is the same
  // for any number (tests compare them).
  int searchThreads = 0;
};

}  // namespace zelvane
