// What running the Command for one file comes to, worked out before anything runs: the expanded parts, what
// is echoed and what is started, the -xo name and the directory to start in. A plain value, so a run that
// starts several files at once can hold one per file and start its parts later.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
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

// Whether the Command is internal echo alone for every file: no shell, and each part up to the first empty
// one begins with "echo " or "echo\t" as typed, before any macro, so no file's name can make a part a
// program or end the Command early.
bool EchoesAlone(const RunSettings& ctx, const CommandTemplate& command);

// For a Command that EchoesAlone: what each handled part writes for the file, exactly the WorkPart::text
// PrepareFileWork gives it, into `texts`, reusing its storage. Reads the file's stamp and checksums only
// when the Command needs them.
void PrepareEchoTexts(const RunSettings& ctx, const CommandTemplate& command, const std::string& path,
                      int fileNumber, int totalCount, std::vector<std::string>& texts);

// How far a group of files handed to one command (-Gather) may grow.
struct GroupLimits {
  std::size_t most = 0;                            // files at most; 0: no number
  std::size_t wordRoom = 0;                        // room for a program's words (no shell)
  std::size_t shellRoom = 0;                       // room for a shell line
  std::size_t end = static_cast<std::size_t>(-1);  // files from this index of the list on stay out
  // What a word takes of that room (platform::WordCost), for a shell line or not.
  std::size_t (*cost)(std::string_view word, bool shellLine) = nullptr;
};

// Expands the Command for a group of files handed to one command: `paths[first]` and those after it, the
// first numbered `firstNumber`. A word that holds a macro of its file (IsPerFileWord) stands once for each
// file of the group, in list order, and any other word once; the text a shell gets, the echo and the
// question show the words joined by one blank. The group ends before a file that would take any part's
// command line past its room, after `limits.most` files, and with -c where the files' directory changes;
// it always holds the first file. Returns how many files it holds.
std::size_t PrepareGroupWork(const RunSettings& ctx, const CommandTemplate& command,
                             const std::vector<std::string>& paths, std::size_t first, int firstNumber,
                             int totalCount, const GroupLimits& limits, FileWork& work);

}  // namespace zelvane
