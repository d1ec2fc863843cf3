// Turning what the user typed into the settings of the run: character codes, argument files, options,
// and the Command.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zelvane {

struct RunSettings;

// Replaces each code character followed by three decimal digits with the character of that number
// modulo 256. A produced character never starts another code.
void ConvertCharacterCodes(std::string& text, char codeChar);

// Replaces every argument (from index 1) that begins with `prefix` by the lines of the file it names, and
// the argument's text in `rawLine` by those lines joined with single spaces. A file that cannot be opened or
// read (a directory) is reported as not found and its argument stays as typed. `rawForms`, when given, holds
// one entry per argument (see RawForms) and is kept in step: a file's lines stand in it as they are.
// A line that holds a NUL byte would be cut there on its way to the system, naming something else (a
// directory instead of the files in it): the file is reported on standard error ("Argument file \"%s\"
// holds a NUL byte.") and false is returned, with no text after the NUL used; the caller ends the run.
bool ExpandArgumentFiles(std::vector<std::string>& args, std::string& rawLine, char prefix,
                         std::vector<std::string>* rawForms = nullptr);

// Each argument as the raw command line holds it: its character codes converted.
std::vector<std::string> RawForms(const std::vector<std::string>& args);

// The Command where the platform has no typed command line: the arguments from `first` on, each as the raw
// line holds it (`rawForms`), joined by single spaces, leading blanks skipped. Nothing typed before them
// (quotes, codes, blanks in the Filespec or an option) can shift where it begins.
std::string CommandFromArguments(const std::vector<std::string>& rawForms, std::size_t first);

// Sets `filespec` from args[1] and applies the options from args[first] on. Returns the index of the first
// argument that is not an option (args.size() when all are).
std::size_t ParseOptions(RunSettings& ctx, const std::vector<std::string>& args, std::size_t first);

// The -set:name=value assignment; `text` is the option text after "set".
void SetEnvironmentFromOption(const std::string& text);

// Finds where the Command begins in a typed raw command line (Win32) and stores the rest of the line in
// `command`. False when the first argument's text cannot be found after the program's own name.
bool LocateCommand(const std::string& rawLine, const std::vector<std::string>& args,
                   std::size_t firstCommandArg, std::string& command);

// The four usage pages, with a key wait after each of the first three unless `batch` is set.
void PrintUsage(const RunSettings& ctx);

}  // namespace zelvane
