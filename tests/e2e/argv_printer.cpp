// A child for the end-to-end tests: prints each argument after argv[0] on a line of its own, in brackets
// so that empty arguments and blanks show. The environment variable ARGV_PRINTER_EXIT, when set, is the
// exit code; ARGV_PRINTER_ENV names variables whose values are printed as NAME=value lines. With
// ARGV_PRINTER_ACTIONS set, two kinds of argument act instead of being printed: "sleep:<text>" sleeps as
// many milliseconds as the digits that end the text say, and "err:<text>" prints [<text>] on standard error.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

bool Act(const std::string& arg) {
  if (arg.rfind("err:", 0) == 0) {
    std::fflush(stdout);
    std::fprintf(stderr, "[%s]\n", arg.c_str() + 4);
    std::fflush(stderr);
    return true;
  }
  if (arg.rfind("sleep:", 0) == 0) {
    std::size_t digits = arg.size();
    while (digits > 6 && arg[digits - 1] >= '0' && arg[digits - 1] <= '9')
      --digits;
    const int ms = digits < arg.size() ? std::atoi(arg.c_str() + digits) : 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const bool actions = std::getenv("ARGV_PRINTER_ACTIONS") != nullptr;
  for (int i = 1; i < argc; ++i) {
    if (actions && Act(argv[i])) continue;
    std::printf("[%s]\n", argv[i]);
  }
  if (const char* names = std::getenv("ARGV_PRINTER_ENV")) {
    std::string list = names;
    std::size_t pos = 0;
    while (pos <= list.size()) {
      std::size_t comma = list.find(',', pos);
      if (comma == std::string::npos) comma = list.size();
      const std::string name = list.substr(pos, comma - pos);
      if (!name.empty()) {
        const char* value = std::getenv(name.c_str());
        std::printf("%s=%s\n", name.c_str(), value ? value : "(unset)");
      }
      pos = comma + 1;
    }
  }
  const char* code = std::getenv("ARGV_PRINTER_EXIT");
  return code ? std::atoi(code) : 0;
}
