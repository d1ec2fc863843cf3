// Start-up on Win32: the program's entry, which hands the core its arguments in UTF-8, the platform's own
// start-up and the raw command line.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/startup.h"
#include "platform/win32/win32_util.h"

// The core's entry: main() of app/main.cpp, reached by its assembler name, since C++ does not let a program
// name main. The program is linked with -municode, so the run-time library starts it at wmain below, with
// the command line split into UTF-16 words by the same rules as the narrow argv; the core gets the words
// in UTF-8, so no argument passes through a code page.
int ZelvaneMain(int argc, char** argv) __asm__("main");

extern "C" int wmain(int argc, wchar_t** wargv) {
  std::vector<std::string> args;
  args.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i)
    args.push_back(zelvane::platform::win32::Utf8(wargv[i]));
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  return ZelvaneMain(argc, argv.data());
}

namespace zelvane::platform {

bool StartUp() {
  if (GetModuleHandleW(nullptr) == nullptr || GetCommandLineW() == nullptr) return false;
  std::string dir;
  return GetCurrentDir(dir);
}

// Names and the command line pass through the wide calls, so no code page stands between them and the
// file system; the console's output code page is applied where text is written (WriteOut).
std::string RawCommandLine(int, char**) {
  return win32::Utf8(GetCommandLineW());
}

bool HasTypedCommandLine() {
  return true;
}

}  // namespace zelvane::platform
