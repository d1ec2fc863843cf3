// The command line as a run reads it: character codes of the raw line, argument files, options and the
// cutting of the Command. The input is the argument vector, arguments separated by NUL bytes; the same
// bytes, one argument a line, are the argument file that any '@' argument with an odd length names (the
// others name a file that does not exist), so the harness never opens a name the input chose.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/run_context.h"

namespace {

std::string argumentFile;

void WriteArgumentFile(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(argumentFile.c_str(), "wb");
  if (file == nullptr) std::abort();
  for (std::size_t i = 0; i < size; ++i)
    std::fputc(data[i] == 0 ? '\n' : data[i], file);
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The usage pages and option messages are not what is tested here.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  char name[] = "/tmp/zelvane-fuzz-args-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) std::abort();
  close(fd);
  argumentFile = name;
  std::atexit([] { std::remove(argumentFile.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args{"zelvane"};
  std::string current;
  bool written = false;
  for (std::size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == 0) {
      if (!current.empty() && current[0] == '@') {
        const bool exists = current.size() % 2 == 1;
        // Written only when named: the file system is the slow part of this target.
        if (exists && !written) WriteArgumentFile(data, size);
        written = written || exists;
        current = "@" + (exists ? argumentFile : argumentFile + ".missing");
      }
      args.push_back(std::move(current));
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }

  // As the platform builds it on POSIX: the arguments joined by single blanks.
  std::string rawLine;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) rawLine += ' ';
    rawLine += args[i];
  }
  zelvane::ConvertCharacterCodes(rawLine, '#');
  zelvane::ExpandArgumentFiles(args, rawLine, '@');

  zelvane::RunContext ctx;
  ctx.batch = 1;  // no key waits
  const std::size_t firstCommandArg = zelvane::ParseOptions(ctx, args, 2);
  if (firstCommandArg > args.size() || (args.size() > 2 && firstCommandArg < 2)) std::abort();

  // The Command is always the tail of the raw line.
  std::string command;
  if (zelvane::LocateCommand(rawLine, args, firstCommandArg, command)) {
    if (command.size() > rawLine.size() ||
        rawLine.compare(rawLine.size() - command.size(), command.size(), command) != 0)
      std::abort();
  }

  // -set:name=value changes the process environment; start every input from an empty one.
  clearenv();
  return 0;
}
