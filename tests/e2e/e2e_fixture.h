// Runs the real zelvane binary in a fresh temporary directory with a controlled environment and a given
// standard input, and captures what it writes.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace zelvane::test {

struct RunResult {
  std::string out;     // standard output; on Win32 with CR LF turned into LF, so tests read alike
  std::string err;     // standard error, the same
  std::string rawOut;  // on Win32: standard output byte for byte, CR LF kept; empty on POSIX
  int status = -1;     // exit status; 128 + signal when killed
};

struct RunOptions {
  std::string input;  // bytes on standard input (a pipe that ends after them)
  std::string cwd;    // working directory; empty for the temporary directory's root
  // Added to PATH, TZ=UTC and LC_ALL=C; a PATH here stands instead of this process's own.
  std::vector<std::pair<std::string, std::string>> env;
  // POSIX only: the program starts with descriptor 0 closed (no standard input at all, not an empty one).
  bool closeInput = false;
  // POSIX only: standard output is a pipe whose reading end is already closed; `out` stays empty.
  bool outputToClosedPipe = false;
  // POSIX only: the program starts with SIGPIPE ignored, as some launchers leave it, so a write to a closed
  // pipe fails with an error instead of ending the process. Otherwise it has the default action.
  bool ignoreBrokenPipe = false;
  // Standard error is the same file as standard output (as 2>&1 leaves it); `err` stays empty.
  bool errorToOutput = false;
  // POSIX only: standard output goes to this file instead; `out` stays empty.
  std::string outputPath;
};

// Runs zelvane with `args` (argv[0] is supplied) in `dir` (or options.cwd).
RunResult RunZelvane(const TempDir& dir, const std::vector<std::string>& args,
                     const RunOptions& options = {});

// Runs any program (argv[0] included) the same way.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd, const RunOptions& options);

#ifdef _WIN32
// Starts `program` with exactly `commandLine` (UTF-8, handed over as UTF-16) as its command line: what
// GetCommandLineW returns to it.
RunResult RunCommandLine(const std::string& program, const std::string& commandLine, const std::string& cwd,
                         const RunOptions& options);
#endif

std::string ZelvaneBinary();
std::string ArgvPrinter();

}  // namespace zelvane::test
