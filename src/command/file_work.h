// What running the Command for one file comes to, worked out before anything runs: the expanded parts, what
// is echoed and what is started, the -xo name and the directory to start in. A plain value, so a run that
// starts several files at once can hold one per file and start its parts later.
#pragma once

#include <string>
#include <vector>

#include "command/command_template.h"
#include "platform/file_time.h"

namespace zelvane {

struct RunSettings;

struct WorkPart {
  using Kind = PartKind;
  Kind kind = Kind::Program;
  // Shell and Program: the expanded part, as -e echoes it. InternalEcho: the text it writes, line end
  // included unless -nocrlf.
  std::string text;
  std::vector<std::string> args;  // Program: the argument vector (empty for a part of blanks alone)
};

struct FileWork {
  std::string path;             // the match list's entry
  std::string command;          // the whole expanded Command, break characters included
  std::vector<WorkPart> parts;  // the parts that are handled: up to the first empty one
  std::string outputFile;       // the expanded -xo name; empty without -xo
  std::string directory;        // with -c: the file's own directory (FileDirectory); empty otherwise
  // When a part would start a child (or echo one with -eo) but the system would read the file's name as
  // another file's (platform::SystemRewritesName): "Cannot pass \"%s\" to a command: ...", with the path
  // as $f shows it, said in place of the whole Command. Empty otherwise.
  std::string notPassed;
};

// Expands the parsed Command for the file `path`, the `fileNumber`-th of `totalCount`. Reads the file's
// stamp and checksums when the Command needs them; changes neither the current directory nor the
// environment.
FileWork PrepareFileWork(const RunSettings& ctx, const CommandTemplate& command, const std::string& path,
                         int fileNumber, int totalCount);
// The same into `work`, reusing its storage; nothing of the file it held before is kept.
void PrepareFileWork(const RunSettings& ctx, const CommandTemplate& command, const std::string& path,
                     int fileNumber, int totalCount, FileWork& work);

}  // namespace zelvane
