// Turning what the user typed into the settings of the run: character codes, argument files, options,
// and the Command cut out of the raw command line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zelvane {

struct RunContext;

// Replaces each code character followed by three decimal digits with the character of that number
// modulo 256. A produced character never starts another code.
void ConvertCharacterCodes(std::string& text, char codeChar);

// Replaces every argument (from index 1) that begins with `prefix` by the lines of the file it names, and
// the argument's text in `rawLine` by those lines joined with single spaces. A file that cannot be opened
// is reported and its argument stays as typed.
void ExpandArgumentFiles(std::vector<std::string>& args, std::string& rawLine, char prefix);

// Sets `filespec` from args[1] and applies the options from args[first] on. Returns the index of the first
// argument that is not an option (args.size() when all are).
std::size_t ParseOptions(RunContext& ctx, const std::vector<std::string>& args, std::size_t first);

// The -set:name=value assignment; `text` is the option text after "set".
void SetEnvironmentFromOption(const std::string& text);

// Finds where the Command begins in the raw command line and stores the rest of the line in `command`.
// False when the first argument's text cannot be found after the program's own name.
bool LocateCommand(const std::string& rawLine, const std::vector<std::string>& args,
                   std::size_t firstCommandArg, std::string& command);

// The four usage pages, with a key wait after each of the first three unless `batch` is set.
void PrintUsage(const RunContext& ctx);

}  // namespace zelvane
